// Fuzz target: the bodies of a TCP peer's requests (Check_Have, its answer,
// Req_data) and the cutting of Req_data ranges into reads. The first bytes of
// the input choose the piece size and the file size the ranges are cut at;
// nothing a parser accepts may name bytes outside the body or reads outside
// the file.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "p2pcore/wire/peer_tcp.h"

using namespace p2p;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  const uint32_t piece_blocks = fdp.ConsumeIntegralInRange<uint32_t>(0, 4096);
  const uint64_t file_size = fdp.ConsumeIntegralInRange<uint64_t>(0, 1ull << 44);
  const std::vector<uint8_t> body = fdp.ConsumeRemainingBytes<uint8_t>();

  CheckHave c;
  if (parse_check_have(body.data(), body.size(), c) == PeerError::kNone) FUZZ_CHECK(body.size() == kCheckHaveSize);
  CheckHaveAnswer a;
  if (parse_check_have_answer(body.data(), body.size(), a) == PeerError::kNone)
    FUZZ_CHECK(body.size() == kCheckHaveAnswerSize);

  ReqData r;
  if (parse_req_data(body.data(), body.size(), r) != PeerError::kNone) return 0;
  FUZZ_CHECK(r.ranges.size() == r.count && r.count <= kReqDataMaxRanges);
  FUZZ_CHECK(kReqDataHead + 8 * size_t(r.count) <= body.size());
  std::vector<DataPiece> pieces;
  if (cut_pieces(r, piece_blocks, file_size, 256, pieces) != PeerError::kNone) {
    FUZZ_CHECK(pieces.empty());
    return 0;
  }
  FUZZ_CHECK(pieces.size() <= 256);
  for (const DataPiece& p : pieces) {
    FUZZ_CHECK(p.first_block <= p.last_block && p.last_block - p.first_block < piece_blocks);
    FUZZ_CHECK(p.length <= (p.last_block - p.first_block + 1) * kBlockBytes);
    // Cut at the end of the file; a piece that starts past it reads nothing.
    FUZZ_CHECK((p.length == 0) == (p.first_block * kBlockBytes >= file_size));
    FUZZ_CHECK(p.first_block * kBlockBytes + p.length <= std::max<uint64_t>(file_size, p.first_block * kBlockBytes));
  }
  return 0;
}
