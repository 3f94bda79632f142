// The lookup service's reply to a summary query: "NAME=value" pairs between
// "|" separators, read case-blind. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct LookupReplyFields {
  std::string fid;   // 32 upper-case hex digits, or empty
  std::string qid;   // 40 upper-case hex digits, or empty
  std::string cid;   // 40 upper-case hex digits, or empty
  uint64_t size = 0; // "SIZE", 0 when absent or not a number
};

// A segment ends at each "|" and at the body's last byte, which is never
// part of one (the server ends its bodies with "|" or a line break). An
// empty segment is skipped and the next one starts at its separator. Each
// segment is upper-cased; the text before its first "=" names the value
// after it, and a later name replaces an earlier one. An id that is not
// exactly 32 (FID) or 40 (QID, CID) hex digits counts as absent.
LookupReplyFields ParseLookupReply(const uint8_t* body, size_t length);

// The value of "SIZE": decimal digits only, at most 2^64 - 1; else 0.
uint64_t ParseLookupSize(const std::string& text);
