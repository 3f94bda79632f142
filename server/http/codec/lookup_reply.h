// The lookup service's reply to a summary query: "NAME=value" pairs between
// "|" separators, read case-blind. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct LookupReplyFields {
  std::string fid;   // upper case as it came; empty when absent
  std::string qid;
  std::string cid;
  uint64_t size = 0; // "SIZE", 0 when absent or not a number
};

// A segment ends at each "|" and at the body's last byte, which is never
// part of one (the server ends its bodies with "|" or a line break). An
// empty segment is skipped and the next one starts at its separator. Each
// segment is upper-cased; the text before its first "=" names the value
// after it, and a later name replaces an earlier one. The values are kept
// whatever their length: the caller decides what an id of the wrong length means.
LookupReplyFields ParseLookupReply(const uint8_t* body, size_t length);

// The value of "SIZE": decimal digits only, at most 2^64 - 1; else 0.
uint64_t ParseLookupSize(const std::string& text);
