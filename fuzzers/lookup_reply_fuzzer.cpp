// Fuzz target: the body of a lookup reply. Every id that comes back is a
// piece of the body upper-cased: no lower-case letter, no separator, and
// never longer than the body.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "server/http/codec/lookup_reply.h"

namespace {
bool PieceOfBody(const std::string& s, size_t bodySize) {
  if (s.size() > bodySize) return false;
  for (char c : s)
    if ((c >= 'a' && c <= 'z') || c == '|') return false;
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> body(data, data + size);
  const LookupReplyFields f = ParseLookupReply(body.data(), body.size());
  FUZZ_CHECK(PieceOfBody(f.fid, size));
  FUZZ_CHECK(PieceOfBody(f.qid, size));
  FUZZ_CHECK(PieceOfBody(f.cid, size));
  return 0;
}
