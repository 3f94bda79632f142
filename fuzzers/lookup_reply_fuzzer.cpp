// Fuzz target: the body of a lookup reply. Every id that comes back is
// absent or exactly 32 (fid) or 40 (qid, cid) upper-case hex digits.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "server/http/codec/lookup_reply.h"

namespace {
bool UpperHexOfLength(const std::string& s, size_t n) {
  if (s.empty()) return true;
  if (s.size() != n) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> body(data, data + size);
  const LookupReplyFields f = ParseLookupReply(body.data(), body.size());
  FUZZ_CHECK(UpperHexOfLength(f.fid, 32));
  FUZZ_CHECK(UpperHexOfLength(f.qid, 40));
  FUZZ_CHECK(UpperHexOfLength(f.cid, 40));
  return 0;
}
