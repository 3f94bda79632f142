// UDP command bodies between peers and the upload side.
#include "p2pcore/wire/peer_udp.h"

#include <algorithm>
#include <cstring>

#include "foundation/codec/crc32.h"
#include "foundation/codec/md5.h"
#include "foundation/codec/sha1.h"
#include "p2pcore/wire/wire_bytes.h"

namespace p2p {

bool have_map_width_ok(uint16_t width) { return width == 2 || width == 4 || width == 8 || width == 16; }

const char* peer_error_text(PeerError e) {
  switch (e) {
    case PeerError::kNone: return "ok";
    case PeerError::kShort: return "too short";
    case PeerError::kLength: return "length disagrees with its counts";
    case PeerError::kCount: return "count out of range";
    case PeerError::kRange: return "range not servable";
    case PeerError::kValue: return "bad field value";
  }
  return "?";
}

// ---- call-me

PeerError parse_call_me(const uint8_t* body, size_t n, CallMe& out) {
  out = CallMe{};
  if (!body || n < kCallMeSize) return PeerError::kShort;
  WireReader r(body, n);
  const uint16_t code = r.u16();
  out.peer_id = r.u64();
  out.peer_ip = r.u32();
  out.peer_port = r.u16();
  out.nat_type = r.u8();
  out.peer_public_ip = r.u32();
  r.skip(1);
  r.bytes(out.file_hash, 16);
  out.file_size = r.u64();
  r.skip(1);
  out.target_id = r.u64();
  out.target_ip = r.u32();
  out.target_port = r.u16();
  if (code == kPeerCallMe2) {
    if (n < kCallMe2Size) return PeerError::kShort;
    r.bytes(out.version, 40);
    out.has_version = true;
  }
  return r.ok() ? PeerError::kNone : PeerError::kShort;
}

std::vector<uint8_t> call_me_body(uint16_t command, const CallMe& c) {
  WireWriter w(kCallMe2Size);
  w.u16(command).u64(c.peer_id).u32(c.peer_ip).u16(c.peer_port).u8(c.nat_type).u32(c.peer_public_ip).u8(0);
  w.bytes(c.file_hash, 16).u64(c.file_size).u8(0).u64(c.target_id).u32(c.target_ip).u16(c.target_port);
  if (command == kPeerCallMe2) w.bytes(c.version, 40);
  return w.take();
}

std::vector<uint8_t> handshake_answer_body(const uint8_t file_hash[16], uint64_t own_id, uint64_t file_size,
                                           uint8_t own_nat_type, uint8_t result) {
  WireWriter w(kHandshakeAnswerSize);
  w.u16(kPeerHandshakeAnswer).bytes(file_hash, 16).u64(own_id).u64(file_size).u8(own_nat_type).u8(result);
  return w.take();
}

// ---- getfiledata

PeerError parse_get_file_data(const uint8_t* body, size_t n, GetFileData& out) {
  out = GetFileData{};
  if (!body || n < kGetFileDataHead) return PeerError::kShort;
  std::memcpy(out.file_hash, body + 2, 16);
  out.user_id = load_le(body + 18, 8);
  // Bytes 26-29 as one word; byte 29 is the first index's and may be absent.
  out.nat_word = uint32_t(load_le(body + 26, std::min<size_t>(4, n - 26)));
  out.nat_type = body[26];
  out.request_type = body[27];
  out.declared = body[28];
  if (out.declared > kMaxBlocksPerRequest) return PeerError::kCount;
  for (uint8_t i = 0; i < out.declared; ++i) {
    const size_t at = kGetFileDataHead + 4 * size_t(i);
    if (at + 4 > n) break;
    const uint32_t block = uint32_t(load_le(body + at, 4));
    if (block == 0xFFFFFFFFu) break;
    out.blocks[out.count++] = block;
  }
  return PeerError::kNone;
}

std::vector<uint8_t> get_file_data_body(const uint8_t file_hash[16], uint64_t user_id, uint8_t nat_type,
                                        uint8_t request_type, const uint32_t* blocks, size_t count) {
  WireWriter w(kGetFileDataHead + 4 * count);
  w.u16(kPeerGetFileData).bytes(file_hash, 16).u64(user_id).u8(nat_type).u8(request_type).u8(uint8_t(count));
  for (size_t i = 0; i < count; ++i) w.u32(blocks[i]);
  return w.take();
}

std::vector<BlockRun> split_runs(const uint32_t* blocks, size_t n) {
  std::vector<BlockRun> runs;
  for (size_t i = 0; i < n; ++i) {
    if (!runs.empty()) {
      BlockRun& last = runs.back();
      // 64-bit so that a run ending at the last index cannot wrap into block 0.
      if (uint64_t(last.first) + last.count == blocks[i]) {
        ++last.count;
        continue;
      }
    }
    runs.push_back({blocks[i], 1});
  }
  return runs;
}

uint32_t run_packet_length(uint32_t usable, uint32_t k) {
  const uint64_t at = uint64_t(k) * kBlockBytes;
  if (at >= usable) return 0;
  return uint32_t(std::min<uint64_t>(kBlockBytes, usable - at));
}

// ---- data packets

size_t build_block_packet(uint8_t* out, size_t capacity, const uint8_t file_hash[16], uint64_t sender_id,
                          uint32_t block, const uint8_t* data, uint32_t length, uint32_t sequence, uint32_t zeros) {
  if (!out || !file_hash || (length && !data) || length > kBlockBytes || zeros < 1 || zeros > 5) return 0;
  const size_t total = kBlockPacketHead + length + 4 + zeros;
  if (total > capacity) return 0;
  out[0] = 2;
  std::memcpy(out + 5, file_hash, 16);
  store_le(out + 21, sender_id, 8);
  out[29] = 1;
  store_le(out + 30, block, 4);
  store_le(out + 34, length, 2);
  if (length) std::memcpy(out + kBlockPacketHead, data, length);
  store_le(out + kBlockPacketHead + length, sequence, 4);
  std::memset(out + kBlockPacketHead + length + 4, 0, zeros);
  store_u32le(out + 1, Crc32Update(out + 5, total - 5));
  return total;
}

PeerError parse_block_packet(const uint8_t* p, size_t n, BlockPacket& out) {
  out = BlockPacket{};
  if (!p || n < kBlockPacketHead + 4) return PeerError::kShort;
  if (p[0] != 2) return PeerError::kValue;
  if (Crc32Update(p + 5, n - 5) != load_u32le(p + 1)) return PeerError::kValue;
  std::memcpy(out.file_hash, p + 5, 16);
  out.sender_id = load_le(p + 21, 8);
  out.block = uint32_t(load_le(p + 30, 4));
  out.length = uint16_t(load_le(p + 34, 2));
  if (out.length > kBlockBytes || kBlockPacketHead + out.length + 4 > n) return PeerError::kLength;
  out.data = p + kBlockPacketHead;
  out.sequence = uint32_t(load_le(p + kBlockPacketHead + out.length, 4));
  return PeerError::kNone;
}

// ---- swap version

PeerError parse_swap_version(const uint8_t* body, size_t n, SwapVersion& out) {
  out = SwapVersion{};
  if (!body || n < kSwapVersionSize) return PeerError::kShort;
  std::memcpy(out.file_hash, body + 2, 16);
  out.user_id = load_le(body + 18, 8);
  out.version = uint32_t(load_le(body + 26, 4));
  out.build = uint32_t(load_le(body + 30, 4));
  size_t len = 0;
  while (len < 31 && body[42 + len]) ++len;
  std::memcpy(out.program, body + 42, len);
  out.program[len] = 0;
  return PeerError::kNone;
}

std::vector<uint8_t> swap_version_body(uint16_t command, const SwapVersion& v) {
  std::vector<uint8_t> b(kSwapVersionSize, 0);
  store_le(b.data(), command, 2);
  std::memcpy(b.data() + 2, v.file_hash, 16);
  store_le(b.data() + 18, v.user_id, 8);
  store_le(b.data() + 26, v.version, 4);
  store_le(b.data() + 30, v.build, 4);
  std::memcpy(b.data() + 42, v.program, strnlen(v.program, 31));
  return b;
}

void swap_version_info(const SwapVersion& v, uint8_t out[40]) {
  std::memset(out, 0, 40);
  store_le(out, v.version, 4);
  store_le(out + 4, v.build, 4);
  std::memcpy(out + 8, v.program, strnlen(v.program, 31));
}

// ---- have-maps

static void read_have_head(const uint8_t* body, HaveMap& out) {
  std::memcpy(out.file_hash, body + 2, 16);
  out.flag = body[18];
  out.unit = uint32_t(load_le(body + 26, 4));
  out.width = uint16_t(load_le(body + 30, 2));
  out.count = uint16_t(load_le(body + 32, 2));
  out.entries = body + kHaveMapHead;
}

PeerError parse_have_map(const uint8_t* body, size_t n, HaveMap& out) {
  out = HaveMap{};
  if (!body || n < kHaveMapHead) return PeerError::kShort;
  read_have_head(body, out);
  if (!have_map_width_ok(out.width)) return PeerError::kValue;
  const size_t entries = size_t(out.width) * out.count;
  if (entries > kHaveMapMaxEntries) return PeerError::kCount;
  if (n != kHaveMapHead + entries) return PeerError::kLength;
  return PeerError::kNone;
}

PeerError parse_finish_range(const uint8_t* body, size_t n, HaveMap& out) {
  out = HaveMap{};
  if (!body || n < kHaveMapHead) return PeerError::kShort;
  read_have_head(body, out);
  if (n != kHaveMapHead + size_t(out.width) * out.count) return PeerError::kLength;
  return PeerError::kNone;
}

uint64_t have_map_bytes(const HaveMap& m) {
  if (!have_map_width_ok(m.width) || !m.entries) return 0;
  const size_t half = m.width / 2;
  uint64_t total = 0;
  for (uint16_t i = 0; i < m.count; ++i) {
    const uint8_t* e = m.entries + size_t(i) * m.width;
    const uint64_t start = load_le(e, half), end = load_le(e + half, half);
    if (end <= start) continue;
    const uint64_t units = end - start;
    if (m.unit && units > UINT64_MAX / m.unit) return UINT64_MAX;
    const uint64_t bytes = units * m.unit;
    if (bytes > UINT64_MAX - total) return UINT64_MAX;
    total += bytes;
  }
  return total;
}

std::vector<uint8_t> have_map_body(uint16_t command, const uint8_t file_hash[16], uint8_t flag, uint32_t unit,
                                   uint16_t width, const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
  std::vector<uint8_t> b(kHaveMapHead + size_t(width) * ranges.size(), 0);
  store_le(b.data(), command, 2);
  std::memcpy(b.data() + 2, file_hash, 16);
  b[18] = flag;
  store_le(b.data() + 26, unit, 4);
  store_le(b.data() + 30, width, 2);
  store_le(b.data() + 32, ranges.size(), 2);
  const size_t half = width / 2;
  for (size_t i = 0; i < ranges.size(); ++i) {
    uint8_t* e = b.data() + kHaveMapHead + i * width;
    store_le(e, ranges[i].first, half);
    store_le(e + half, ranges[i].second, half);
  }
  return b;
}

std::vector<uint8_t> full_have_map_body(uint16_t command, const uint8_t file_hash[16], uint64_t file_size) {
  const uint64_t units = file_size / kBlockBytes + (file_size % kBlockBytes ? 1 : 0);
  return have_map_body(command, file_hash, 0, kBlockBytes, units > 0xFFFFFFFFu ? 16 : 8, {{0, units}});
}

// ---- verify range

PeerError parse_verify_request(const uint8_t* body, size_t n, VerifyRequest& out) {
  out = VerifyRequest{};
  if (!body || n < kVerifyRequestSize) return PeerError::kShort;
  std::memcpy(out.echo, body + 2, 48);
  std::memcpy(out.file_hash, body + 2, 16);
  out.flags = uint32_t(load_le(body + 18, 4));
  out.crc_unit = uint32_t(load_le(body + 22, 4));
  out.start = load_le(body + 26, 8);
  out.length = load_le(body + 34, 8);
  return PeerError::kNone;
}

PeerError check_verify_range(const VerifyRequest& r, uint64_t max_length) {
  if (r.length == 0 || r.length > max_length || r.start > UINT64_MAX - r.length) return PeerError::kRange;
  return PeerError::kNone;
}

std::vector<uint8_t> verify_request_body(const uint8_t file_hash[16], uint32_t flags, uint32_t crc_unit, uint64_t start,
                                         uint64_t length) {
  WireWriter w(kVerifyRequestSize);
  w.u16(kPeerVerifyRange).bytes(file_hash, 16).u32(flags).u32(crc_unit).u64(start).u64(length).zeros(8);
  return w.take();
}

uint32_t verify_crc(const uint8_t* p, size_t n) { return Crc32Raw(p, n); }

uint32_t verify_chunk_count(uint64_t length, uint32_t crc_unit) {
  if (crc_unit == 0 || length == 0) return 0;
  const uint64_t count = (length - 1) / crc_unit + 1;
  return count > kVerifyMaxChunks ? 0 : uint32_t(count);
}

std::vector<uint8_t> verify_answer_body(const VerifyRequest& r, const uint8_t* data, size_t n) {
  const uint32_t chunks = verify_chunk_count(n, r.crc_unit);
  std::vector<uint8_t> b(kVerifyAnswerHead + 4 * size_t(chunks), 0);
  store_le(b.data(), kPeerVerifyAnswer, 2);
  std::memcpy(b.data() + 2, r.echo, 48);
  if (r.flags & kVerifyMd5) {
    MD5Digest(data, n, b.data() + 50);
  }
  if (r.flags & kVerifySha1) Sha1Digest(b.data() + 66, data, n);
  if (r.flags & kVerifyCrc) store_le(b.data() + 86, verify_crc(data, n), 4);
  store_le(b.data() + 90, chunks, 2);
  for (uint32_t i = 0; i < chunks; ++i) {
    const size_t at = size_t(i) * r.crc_unit;
    const size_t len = std::min<size_t>(r.crc_unit, n - at);
    store_le(b.data() + kVerifyAnswerHead + 4 * size_t(i), verify_crc(data + at, len), 4);
  }
  return b;
}

std::vector<uint8_t> choke_notice_body(const uint8_t file_hash[16]) {
  WireWriter w(kChokeNoticeSize);
  w.u16(kPeerChokeNotice).u32(kChokeSeconds).bytes(file_hash, 16);
  return w.take();
}

}  // namespace p2p
