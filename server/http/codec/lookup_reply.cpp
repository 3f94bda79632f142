// The lookup service's reply parser.
#include "server/http/codec/lookup_reply.h"

#include <map>
#include <string_view>

#include "foundation/text/ascii_case.h"

uint64_t ParseLookupSize(const std::string& text) {
  if (text.empty()) return 0;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    const uint64_t digit = uint64_t(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return 0;
    value = value * 10 + digit;
  }
  return value;
}

LookupReplyFields ParseLookupReply(const uint8_t* body, size_t length) {
  LookupReplyFields out;
  if (!body) return out;
  std::map<std::string, std::string> pairs;
  const char* text = reinterpret_cast<const char*>(body);
  size_t start = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] != '|' && i + 1 != length) continue;
    if (i == start) continue;  // empty: the next segment starts at this separator
    const std::string segment = ToUpperString(std::string_view(text + start, i - start));
    start = i + 1;
    const size_t eq = segment.find('=');
    if (eq != std::string::npos) pairs[segment.substr(0, eq)] = segment.substr(eq + 1);
  }
  out.fid = pairs["FID"];
  out.qid = pairs["QID"];
  out.cid = pairs["CID"];
  out.size = ParseLookupSize(pairs["SIZE"]);
  return out;
}
