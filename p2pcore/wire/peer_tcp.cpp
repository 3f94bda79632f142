// TCP peer protocol bodies.
#include "p2pcore/wire/peer_tcp.h"

#include <algorithm>
#include <cstring>

#include "p2pcore/wire/wire_bytes.h"

namespace p2p {

PeerError parse_check_have(const uint8_t* body, size_t n, CheckHave& out) {
  out = CheckHave{};
  if (!body || n != kCheckHaveSize) return PeerError::kLength;
  WireReader r(body, n);
  r.bytes(out.head, 52);
  out.value52 = r.u16();
  r.bytes(out.request_header, kCheckHaveHeaderSize);
  out.value166 = r.u16();
  r.bytes(out.fid, 16);
  out.value184 = r.u64();
  WireReader id(body, 8);
  out.user_id = id.u64();
  return PeerError::kNone;
}

std::vector<uint8_t> check_have_body(uint64_t user_id, const uint8_t fid[16], uint64_t value184) {
  WireWriter w(kCheckHaveSize);
  w.u64(user_id).zeros(168 - 8).bytes(fid, 16).u64(value184).zeros(kCheckHaveSize - 192);
  return w.take();
}

std::vector<uint8_t> check_have_answer_body(uint16_t result, const uint8_t fid[16], uint64_t file_size,
                                            uint64_t own_id, uint8_t own_nat_type) {
  WireWriter w(kCheckHaveAnswerSize);
  w.u16(result).bytes(fid, 16).u64(file_size).u64(own_id).u8(own_nat_type);
  w.zeros(kCheckHaveAnswerSize - w.size());
  return w.take();
}

PeerError parse_check_have_answer(const uint8_t* body, size_t n, CheckHaveAnswer& out) {
  out = CheckHaveAnswer{};
  if (!body || n != kCheckHaveAnswerSize) return PeerError::kLength;
  WireReader r(body, n);
  out.result = r.u16();
  r.bytes(out.fid, 16);
  out.file_size = r.u64();
  out.own_id = r.u64();
  return PeerError::kNone;
}

PeerError parse_req_data(const uint8_t* body, size_t n, ReqData& out) {
  out = ReqData{};
  if (!body || n < kReqDataHead) return PeerError::kShort;
  WireReader r(body, n);
  out.request_id = r.u32();
  r.skip(4);
  out.count = r.u32();
  if (out.count > kReqDataMaxRanges) return PeerError::kCount;
  if (r.remaining() / 8 < out.count) return PeerError::kLength;
  out.ranges.resize(out.count);
  for (DataRange& range : out.ranges) {
    range.first = r.u32();
    range.last = r.u32();
  }
  return PeerError::kNone;
}

std::vector<uint8_t> req_data_body(uint32_t request_id, const std::vector<DataRange>& ranges) {
  WireWriter w(kReqDataHead + 8 * ranges.size());
  w.u32(request_id).u32(0).u32(uint32_t(ranges.size()));
  for (const DataRange& range : ranges) w.u32(range.first).u32(range.last);
  return w.take();
}

PeerError cut_pieces(const ReqData& r, uint32_t piece_blocks, uint64_t file_size, size_t max_pieces,
                     std::vector<DataPiece>& out) {
  out.clear();
  if (piece_blocks == 0) return PeerError::kValue;
  // Count first, so a refused request costs no allocation.
  uint64_t pieces = 0;
  for (const DataRange& range : r.ranges) {
    if (range.first > range.last) return PeerError::kRange;
    pieces += (uint64_t(range.last) - range.first) / piece_blocks + 1;
    if (pieces > max_pieces) return PeerError::kCount;
  }
  out.reserve(size_t(pieces));
  for (const DataRange& range : r.ranges) {
    for (uint64_t first = range.first; first <= range.last; first += piece_blocks) {
      DataPiece p;
      p.request_id = r.request_id;
      p.first_block = first;
      p.last_block = std::min<uint64_t>(first + piece_blocks - 1, range.last);
      const uint64_t start = first * kBlockBytes;
      const uint64_t end = std::min((p.last_block + 1) * kBlockBytes, file_size);
      p.length = start < end ? uint32_t(end - start) : 0;
      p.range_first = range.first;
      p.range_last = range.last;
      p.last_of_range = p.last_block == range.last;
      out.push_back(p);
    }
  }
  return PeerError::kNone;
}

std::vector<BlockFrame> block_frames(uint64_t first_block, uint32_t length) {
  std::vector<BlockFrame> frames;
  frames.reserve(length / kBlockFrameData + 1);
  for (uint32_t offset = 0, i = 0; offset < length; offset += kBlockFrameData, ++i) {
    BlockFrame f;
    f.block = uint32_t(first_block + 4ull * i);
    f.offset = offset;
    f.length = uint16_t(std::min(kBlockFrameData, length - offset));
    frames.push_back(f);
  }
  return frames;
}

void block_frame_head(const BlockFrame& f, uint8_t out[kBlockFrameHead]) {
  store_u32le(out, f.block);
  out[4] = uint8_t(f.length);
  out[5] = uint8_t(f.length >> 8);
}

std::vector<uint8_t> back_off_body(uint32_t value, uint32_t ms) {
  WireWriter w(kBackOffSize);
  w.u32(value).u32(ms);
  return w.take();
}

}  // namespace p2p
