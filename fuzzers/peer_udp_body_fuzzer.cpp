// Fuzz target: a UDP command body a peer or the super node sends to the upload
// side, given to every parser of those bodies (call-me, getfiledata, have-map
// and finished range, verify range, swap version, data packet). What a parser
// accepts must lie within the body and keep the limits it promises.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "p2pcore/wire/peer_udp.h"

using namespace p2p;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> body(data, data + size);
  const uint8_t* begin = body.data();
  const uint8_t* end = begin + body.size();

  CallMe c;
  if (parse_call_me(begin, size, c) == PeerError::kNone) FUZZ_CHECK(size >= kCallMeSize);

  GetFileData g;
  if (parse_get_file_data(begin, size, g) == PeerError::kNone) {
    FUZZ_CHECK(g.count <= g.declared && g.count <= kMaxBlocksPerRequest);
    FUZZ_CHECK(kGetFileDataHead + 4 * size_t(g.count) <= size);
    uint64_t blocks = 0;
    for (const BlockRun& r : split_runs(g.blocks, g.count)) {
      FUZZ_CHECK(r.count >= 1 && uint64_t(r.first) + r.count - 1 <= 0xFFFFFFFEull);
      blocks += r.count;
    }
    FUZZ_CHECK(blocks == g.count);
  }

  HaveMap m;
  if (parse_have_map(begin, size, m) == PeerError::kNone) {
    FUZZ_CHECK(m.entries + size_t(m.width) * m.count == end);
    FUZZ_CHECK(size_t(m.width) * m.count <= kHaveMapMaxEntries);
    have_map_bytes(m);
  }
  if (parse_finish_range(begin, size, m) == PeerError::kNone) {
    FUZZ_CHECK(m.entries + size_t(m.width) * m.count == end);
    have_map_bytes(m);
  }

  VerifyRequest v;
  if (parse_verify_request(begin, size, v) == PeerError::kNone) {
    FUZZ_CHECK(size >= kVerifyRequestSize);
    if (check_verify_range(v, 4096) == PeerError::kNone) {
      FUZZ_CHECK(v.length >= 1 && v.length <= 4096);
      const std::vector<uint8_t> range(size_t(v.length), 0x5A);
      const std::vector<uint8_t> answer = verify_answer_body(v, range.data(), range.size());
      const uint32_t chunks = verify_chunk_count(v.length, v.crc_unit);
      FUZZ_CHECK(chunks <= kVerifyMaxChunks);
      FUZZ_CHECK(answer.size() == kVerifyAnswerHead + 4 * size_t(chunks));
    }
  }

  SwapVersion s;
  if (parse_swap_version(begin, size, s) == PeerError::kNone) {
    FUZZ_CHECK(size >= kSwapVersionSize);
    FUZZ_CHECK(std::memchr(s.program, 0, sizeof s.program) != nullptr);
  }

  BlockPacket p;
  if (parse_block_packet(begin, size, p) == PeerError::kNone) {
    FUZZ_CHECK(p.length <= kBlockBytes);
    FUZZ_CHECK(p.data >= begin && p.data + p.length + 4 <= end);
  }
  return 0;
}
