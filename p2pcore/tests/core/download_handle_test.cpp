// A download handle fed a peer list, have-maps and data packets directly (no
// socket: its sends go nowhere): what it writes through the task's routine,
// what it tells the task, and what a peer named bad or a stopped task gets.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "p2pcore/ke/p2phandle.h"
#include "p2pcore/wire/peer_udp.h"
#include "p2pcore/wire/wire_bytes.h"

using namespace p2p;

namespace {

constexpr uint64_t kSize = 10 * 1024 + 100;  // 11 blocks, the last of 100 bytes
const uint8_t kHash[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};

struct task_record {
  std::vector<uint32_t> give = {0, 1, 2, 10};  // what a pick hands out
  bool once = false;                            // each block to one pick only
  struct write { uint64_t offset; uint32_t length; uint64_t peer; uint8_t first; };
  std::vector<write> writes;
  std::vector<std::pair<int, uint64_t>> events;  // (kind, peer)
};

int on_event(void* user, uint32_t, int kind, const p2p_task_peer* peer, void* data, uint32_t size) {
  task_record& t = *static_cast<task_record*>(user);
  t.events.push_back({kind, peer ? peer->user_id : 0});
  if (kind != P2P_TASK_PICK_BLOCKS) return 0;
  uint32_t n = 0;
  for (uint32_t b : t.give)
    if (n < size) static_cast<uint32_t*>(data)[n++] = b;
  if (t.once) t.give.erase(t.give.begin(), t.give.begin() + n);
  return int(n);
}

int on_write(void* user, uint32_t, uint64_t offset, const void* data, uint32_t length, uint64_t peer) {
  static_cast<task_record*>(user)->writes.push_back({offset, length, peer, *static_cast<const uint8_t*>(data)});
  return 1;
}

std::vector<uint8_t> peer_list_body(const std::vector<std::pair<uint64_t, uint8_t>>& peers) {
  WireWriter w;
  w.u16(kUdpPeerList2).u64(1).bytes(kHash, 16).u16(uint16_t(peers.size()));
  for (const auto& [id, percent] : peers) {
    w.u64(id).u32(0x0100007F).u16(uint16_t(id)).u32(0).u16(0).u32(0).u8(0x11).u32(0x0100007F).u16(uint16_t(id));
    w.u8(5).u8(percent);
  }
  return w.take();
}

class DownloadHandle : public ::testing::Test {
 protected:
  DownloadHandle() {
    task_setup s;
    s.task_id = 3;
    std::memcpy(s.file_hash, kHash, 16);
    s.file_size = kSize;
    s.callbacks = {&on_event, &on_write, &task};
    handle = std::make_unique<p2phandle>(s);
    handle->start();
    ctx.user_id = 1;
    ctx.public_ip = 0x0100007F;
  }

  void peers(const std::vector<std::pair<uint64_t, uint8_t>>& list) {
    const std::vector<uint8_t> body = peer_list_body(list);
    PeerListHead head;
    ASSERT_EQ(parse_peer_list(body.data(), body.size(), head), ReplyError::kNone);
    handle->on_peer_list(ctx, head, GetTickCount());
  }

  // The peer's have-map answer: connected, blocks picked and asked.
  void have_map(uint64_t peer, std::vector<std::pair<uint64_t, uint64_t>> ranges) {
    const std::vector<uint8_t> body = have_map_body(kPeerHaveMapAnswer, kHash, 0, 1024, 8, ranges);
    handle->on_command(ctx, kPeerHaveMapAnswer, body.data(), body.size(), peer, 0x0100007F, uint16_t(peer),
                       GetTickCount());
  }

  void block(uint64_t peer, uint32_t index, uint32_t length, uint8_t fill) {
    std::vector<uint8_t> data(length, fill);
    uint8_t packet[kBlockPacketMax];
    const size_t n = build_block_packet(packet, sizeof packet, kHash, peer, index, data.data(), length, 0, 1);
    ASSERT_GT(n, 0u);
    BlockPacket p;
    ASSERT_EQ(parse_block_packet(packet, n, p), PeerError::kNone);
    handle->on_block(ctx, p, 0x0100007F, uint16_t(peer), GetTickCount());
  }

  size_t count(int kind, uint64_t peer) {
    size_t n = 0;
    for (const auto& e : task.events) n += e.first == kind && e.second == peer;
    return n;
  }

  task_record task;
  download_context ctx;
  std::unique_ptr<p2phandle> handle;
};

}  // namespace

TEST_F(DownloadHandle, WritesOnlyBlocksAskedOfTheirPeer) {
  task.once = true;
  peers({{500, 100}});
  EXPECT_EQ(count(P2P_TASK_PEERS_FOUND, 0), 1u);
  have_map(500, {{0, 11}});
  ASSERT_EQ(count(P2P_TASK_HAVE_MAP, 500), 1u);
  ASSERT_EQ(count(P2P_TASK_PICK_BLOCKS, 500), 1u);  // blocks 0, 1, 2, 10 asked
  struct Row { const char* what; uint64_t peer; uint32_t block; uint32_t length; bool written; };
  const Row rows[] = {
      {"a block nobody asked for", 500, 5, 1024, false},
      {"from a peer without a link", 999, 0, 1024, false},
      {"shorter than its place in the file", 500, 0, 1000, false},
      {"asked and whole", 500, 0, 1024, true},
      {"the same block again", 500, 0, 1024, false},
      {"the last block with a whole block's length", 500, 10, 1024, false},
      {"the last block, 100 bytes", 500, 10, 100, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const size_t before = task.writes.size();
    block(r.peer, r.block, r.length, 0x11);
    ASSERT_EQ(task.writes.size(), before + (r.written ? 1 : 0));
    if (!r.written) continue;
    EXPECT_EQ(task.writes.back().offset, uint64_t(r.block) * 1024);
    EXPECT_EQ(task.writes.back().length, r.length);
    EXPECT_EQ(task.writes.back().peer, r.peer);
  }
  p2p_peer_row row;
  ASSERT_EQ(handle->copy_links(&row, 1), 1);
  EXPECT_EQ(uint32_t(row.blocks), 2u);
  EXPECT_EQ(uint32_t(row.unknown_blocks), 4u);
  // Once stopped, a block still awaited is neither written nor told.
  handle->stop();
  const size_t events = task.events.size();
  block(500, 1, 1024, 0x11);
  EXPECT_EQ(task.writes.size(), 2u);
  EXPECT_EQ(task.events.size(), events);
}

TEST_F(DownloadHandle, PeerNamedBadIsDroppedAndKeptAway) {
  task.give = {0, 1};
  peers({{501, 99}, {502, 99}, {503, 99}});
  for (uint64_t p : {501, 502, 503}) have_map(p, {{0, 10}});
  ASSERT_EQ(count(P2P_TASK_PICK_BLOCKS, 503), 1u);
  block(501, 0, 1024, 0xAA);  // the first answer puts block 0 to the test
  block(502, 0, 1024, 0xAA);
  block(503, 0, 1024, 0xBB);  // two against one: 503 is bad
  ASSERT_EQ(task.writes.size(), 2u) << "the answer that named its sender bad is not written";
  EXPECT_EQ(task.writes[0].first, 0xAA);
  EXPECT_EQ(task.writes[1].first, 0xAA);
  EXPECT_EQ(count(P2P_TASK_PEER_BAD, 503), 1u);
  EXPECT_EQ(count(P2P_TASK_PEER_REMOVED, 503), 1u);
  EXPECT_EQ(count(P2P_TASK_PEER_BAD, 501) + count(P2P_TASK_PEER_BAD, 502), 0u);
  // Its packets in flight are not written; a new list naming it makes no link.
  block(503, 1, 1024, 0xBB);
  EXPECT_EQ(task.writes.size(), 2u);
  peers({{501, 99}, {502, 99}, {503, 99}});
  p2p_peer_row rows[4];
  EXPECT_EQ(handle->copy_links(rows, 4), 2);
  p2p_handle_info info = {};
  info.size = sizeof info;
  ASSERT_TRUE(handle->copy_info(&info));
  EXPECT_EQ(info.failed_peers, 1u);
  EXPECT_EQ(info.known_peers, 3u);
  EXPECT_EQ(info.partial_sources, 2u);
  EXPECT_EQ(info.state, 2u);
  p2p_handle_info wrong = {};
  wrong.size = 35;
  EXPECT_FALSE(handle->copy_info(&wrong));
}

// The group with the most answers wins without a majority of them; a tie
// names nobody: AA, BB, CC, then AA names the BB and CC peers; a second BB
// then ties with AA and names no one more.
TEST_F(DownloadHandle, LargestGroupWinsATieNamesNobody) {
  task.give = {0};
  const uint64_t ids[] = {601, 602, 603, 604, 605};
  peers({{601, 99}, {602, 99}, {603, 99}, {604, 99}, {605, 99}});
  for (uint64_t p : ids) have_map(p, {{0, 10}});
  const uint8_t answers[] = {0xAA, 0xBB, 0xCC, 0xAA, 0xBB};
  for (int i = 0; i < 5; ++i) block(ids[i], 0, 1024, answers[i]);
  EXPECT_EQ(task.writes.size(), 5u);
  const size_t bad[] = {0, 1, 1, 0, 0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(count(P2P_TASK_PEER_BAD, ids[i]), bad[i]) << ids[i];
}

// A list that reaches the limit of 20 partial sources ends there: the links
// made before it stay, and nothing else of the list happens (no event, no
// change of state).
TEST_F(DownloadHandle, PartialSourceLimitEndsTheList) {
  std::vector<std::pair<uint64_t, uint8_t>> list;
  for (uint64_t id = 700; id < 725; ++id) list.push_back({id, 50});
  list.push_back({800, 100});  // a full source after the limit
  peers(list);
  p2p_peer_row rows[32];
  EXPECT_EQ(handle->copy_links(rows, 32), 20);
  EXPECT_EQ(count(P2P_TASK_PEERS_FOUND, 0), 0u);
  p2p_handle_info info = {};
  info.size = sizeof info;
  ASSERT_TRUE(handle->copy_info(&info));
  EXPECT_NE(info.state, uint32_t(p2phandle::kHandlePeersProcessed));
  // A list within the limits is processed.
  peers({{800, 100}});
  EXPECT_EQ(handle->copy_links(rows, 32), 21);
  EXPECT_EQ(count(P2P_TASK_PEERS_FOUND, 0), 1u);
  ASSERT_TRUE(handle->copy_info(&info));
  EXPECT_EQ(info.state, uint32_t(p2phandle::kHandlePeersProcessed));
}
