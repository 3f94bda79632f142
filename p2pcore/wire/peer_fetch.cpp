// Download-side bodies: peer query, peer-list entries, handshake answers, task have-maps.
#include "p2pcore/wire/peer_fetch.h"

#include <cstring>

#include "p2pcore/wire/peer_udp.h"
#include "p2pcore/wire/wire_bytes.h"

namespace p2p {

std::vector<uint8_t> peer_query_body(const peer_query& q) {
  WireWriter w(kQueryPeersSize);
  w.u16(kUdpQueryPeers).u64(q.user_id).u32(q.public_ip).u8(q.nat_type).bytes(q.file_hash, 16).u8(q.query);
  w.u32(0).u16(kPeersWanted).u8(q.node_flag);
  return w.take();
}

bool peer_list_entry(const PeerListHead& head, size_t i, peer_entry& out) {
  out = peer_entry{};
  if (!head.entries || i >= head.count || (head.entry_size != 31 && head.entry_size != 33)) return false;
  WireReader r(head.entries + i * head.entry_size, head.entry_size);
  out.user_id = r.u64();
  out.ip = r.u32();
  out.port = r.u16();
  out.second_ip = r.u32();
  out.second_port = r.u16();
  out.kept = r.u32();
  out.nat_type = r.u8();
  out.call_ip = r.u32();
  out.call_port = r.u16();
  if (head.entry_size == 33) {
    out.node_type = r.u8();
    out.percent = r.u8();
  }
  return r.ok();
}

std::vector<peer_entry> peer_list_entries(const PeerListHead& head) {
  std::vector<peer_entry> out;
  peer_entry e;
  for (size_t i = 0; peer_list_entry(head, i, e); ++i) out.push_back(e);
  return out;
}

bool parse_handshake_answer(const uint8_t* body, size_t n, handshake_answer& out) {
  out = handshake_answer{};
  if (!body || n < kHandshakeBodySize) return false;
  std::memcpy(out.file_hash, body + 2, 16);
  out.peer_id = load_le(body + 18, 8);
  out.file_size = load_le(body + 26, 8);
  out.nat_type = body[34];
  out.result = body[35];
  return true;
}

const char* handshake_failure_text(uint8_t result) {
  switch (result) {
    case 1: return "\xE6\x96\x87\xE4\xBB\xB6\xE4\xB8\x8D\xE5\xAD\x98\xE5\x9C\xA8";  // 文件不存在
    case 2: return "\xE9\x80\x9A\xE9\x81\x93\xE6\xBB\xA1";                          // 通道满
    case 3: return "\xE4\xB8\x8B\xE7\xBA\xBF";                                      // 下线
    default: return "";
  }
}

bool parse_finish_record(const uint8_t* record, size_t n, have_map_ranges& out) {
  out = have_map_ranges{};
  constexpr size_t kHead = 12;
  if (!record || n < kHead) return false;
  out.flag = record[0];
  out.unit = uint32_t(load_le(record + 4, 4));
  out.width = uint16_t(load_le(record + 8, 2));
  const uint16_t count = uint16_t(load_le(record + 10, 2));
  if (!have_map_width_ok(out.width) || out.unit == 0) return false;
  const size_t bytes = size_t(out.width) * count;
  if (bytes > kHaveMapEntryBytes || kHead + bytes > n) return false;
  out.ranges = have_map_entries(record + kHead, out.width, count);
  return true;
}

std::vector<std::pair<uint64_t, uint64_t>> have_map_entries(const uint8_t* entries, uint16_t width, uint16_t count) {
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  if (!entries || !have_map_width_ok(width)) return ranges;
  const size_t half = width / 2;
  ranges.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = entries + i * width;
    ranges.emplace_back(load_le(e, half), load_le(e + half, half));
  }
  return ranges;
}

}  // namespace p2p
