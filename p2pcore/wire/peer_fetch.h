// Bodies of the download side: the peer query to the super node (46), the
// entries of its peer lists (32, 47), the handshake answer of a peer (15) and
// the have-map a task hands over with its finish record. Every parser takes a
// pointer and a length and checks each field against what remains.
// Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "p2pcore/codec/download_peers.h"
#include "p2pcore/wire/server_protocol.h"

namespace p2p {

inline constexpr uint16_t kUdpQueryPeers = 46;
inline constexpr uint16_t kUdpCallMeRequest = 8;
inline constexpr size_t kQueryPeersSize = 39;
inline constexpr uint16_t kPeersWanted = 999;

struct peer_query {
  uint64_t user_id = 0;
  uint32_t public_ip = 0;
  uint8_t nat_type = 0;
  uint8_t file_hash[16] = {};
  uint8_t query = 0;      // the handle's query byte
  uint8_t node_flag = 0;
};
std::vector<uint8_t> peer_query_body(const peer_query& q);

// Entry i of a checked peer list (parse_peer_list); false past its count.
bool peer_list_entry(const PeerListHead& head, size_t i, peer_entry& out);
std::vector<peer_entry> peer_list_entries(const PeerListHead& head);

// The handshake answer (15) of a peer we asked through the super node: 36
// bytes, the result in the last one.
inline constexpr size_t kHandshakeBodySize = 36;
enum : uint8_t { kHandshakeOk = 0 };
struct handshake_answer {
  uint8_t file_hash[16] = {};
  uint64_t peer_id = 0;
  uint64_t file_size = 0;
  uint8_t nat_type = 0;
  uint8_t result = 0;
};
// False below 36 bytes.
bool parse_handshake_answer(const uint8_t* body, size_t n, handshake_answer& out);
// The reason a refused handshake names: "文件不存在", "通道满", "下线", else empty (UTF-8).
const char* handshake_failure_text(uint8_t result);

// A have-map as the download side keeps it: the flag a sender puts in byte
// 18 of 52/53 (0 for our own map), the unit, the entry width and the ranges
// of units [start, end).
struct have_map_ranges {
  uint8_t flag = 0;
  uint32_t unit = 1024;
  uint16_t width = 8;
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
};
inline constexpr size_t kHaveMapEntryBytes = 1300;  // width x count at most
inline constexpr size_t kFinishRecordSize = 1312;
// The task's finish record (p2p_set_finish): u32 first field (sent as the
// flag), u32 unit, u16 width (2, 4, 8 or 16), u16 count, the entries
// (width x count at most 1300). False when a field is out of range.
bool parse_finish_record(const uint8_t* record, size_t n, have_map_ranges& out);
// Entries of a have-map body (52/53) from byte 34, already checked for their
// width and count: the ranges they hold.
std::vector<std::pair<uint64_t, uint64_t>> have_map_entries(const uint8_t* entries, uint16_t width, uint16_t count);

}  // namespace p2p
