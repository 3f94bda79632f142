// The download handle's rules: LAN peers, which peer-list entries become
// links (limits, duplicates, failed peers kept away for 30 minutes, call-me
// candidates), have-map percentages, block lengths, the task record and the
// export records.
#include "p2pcore/codec/download_peers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "p2pcore/codec/download_records.h"

using namespace p2p;

namespace {

uint32_t ip(int a, int b, int c, int d) {
  return uint32_t(a) | uint32_t(b) << 8 | uint32_t(c) << 16 | uint32_t(d) << 24;
}

peer_entry peer(uint64_t id, uint8_t percent = 100, uint8_t nat = 0x11, uint32_t at = 0) {
  peer_entry e;
  e.user_id = id;
  e.ip = at ? at : ip(10, 0, 0, uint8_t(id));
  e.port = uint16_t(7000 + id);
  e.nat_type = nat;
  e.percent = percent;
  return e;
}

own_addresses own() {
  own_addresses o;
  o.user_id = 500;
  o.ip = ip(58, 1, 2, 3);
  o.second_ip = ip(192, 168, 1, 20);
  return o;
}

}  // namespace

TEST(DownloadPeers, LanPeers) {
  struct Row { const char* name; uint32_t first; uint32_t second; bool lan; };
  const Row rows[] = {
      {"same first three octets, second in our /16", ip(58, 1, 2, 99), ip(192, 168, 7, 7), true},
      {"loopback first address", ip(127, 0, 0, 1), ip(192, 168, 0, 1), true},
      {"second address 0", ip(58, 1, 2, 99), 0, false},
      {"second address elsewhere", ip(58, 1, 2, 99), ip(192, 169, 1, 1), false},
      {"first address elsewhere", ip(58, 1, 3, 99), ip(192, 168, 1, 1), false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    peer_entry e = peer(1);
    e.ip = r.first;
    e.second_ip = r.second;
    EXPECT_EQ(peer_on_lan(e, own()), r.lan);
  }
  struct Direct { uint8_t nat; bool lan; bool direct; };
  const Direct direct[] = {{0x11, false, true}, {0x01, false, true}, {0x13, false, false}, {0x13, true, true},
                           {0x14, false, false}, {0x00, false, false}};
  for (const Direct& d : direct) {
    SCOPED_TRACE(int(d.nat));
    peer_entry e = peer(1, 100, d.nat);
    EXPECT_EQ(peer_reached_directly(e, d.lan), d.direct);
  }
}

TEST(DownloadPeers, PeerListPlan) {
  auto partial = [](uint64_t from, uint64_t n) {
    std::vector<peer_entry> v;
    for (uint64_t i = 0; i < n; ++i) v.push_back(peer(from + i, 50, 0x13));
    return v;
  };
  struct Case {
    const char* name;
    std::vector<peer_entry> entries;
    link_counts counts;
    std::set<uint64_t> linked;
    peer_list_rules rules;
    size_t new_links;
    size_t duplicates;
    size_t call_me;
    bool partial_limit;
  };
  std::vector<peer_entry> unusable = {peer(0), peer(1), peer(2), peer(3), peer(500)};
  unusable[1].port = 0;
  unusable[2].ip = 0;
  unusable[3].ip = 0xFFFFFFFFu;
  std::vector<peer_entry> thirty_partial = partial(1, 30);
  std::vector<peer_entry> mixed = partial(1, 25);
  mixed.push_back(peer(90, 100, 0x13));
  std::vector<peer_entry> full_first = partial(1, 25);
  full_first.insert(full_first.begin() + 10, peer(90, 100, 0x13));
  std::vector<peer_entry> many = partial(1, 70);
  for (peer_entry& e : many) e.percent = 100;
  std::vector<peer_entry> twice = {peer(4), peer(4, 100, 0x13)};
  std::vector<peer_entry> lan_peers = {peer(1, 100, 0x13), peer(2, 100, 0x13)};
  lan_peers[0].ip = ip(58, 1, 2, 9);
  lan_peers[0].second_ip = ip(192, 168, 5, 5);
  const peer_list_rules none;
  peer_list_rules no_lan;
  no_lan.disable_lan = true;
  peer_list_rules no_sources;
  no_sources.disable_sources = true;
  const Case cases[] = {
      {"unusable entries and ourselves", unusable, {}, {}, none, 0, 0, 0, false},
      {"30 partial sources: 20 links, the rest refused", thirty_partial, {}, {}, none, 20, 0, 20, true},
      {"the walk ends at the partial limit: a full source after it gets no link", mixed, {}, {}, none, 20, 0, 20,
       true},
      {"a full source before the partial limit gets its link", full_first, {}, {}, none, 21, 0, 21, true},
      {"more than 64 links stops the walk; 60 call-me entries at most", many, {}, {}, none, 65, 0, 60, false},
      {"linked peers are duplicates", partial(1, 3), {2, 1}, {1, 2}, none, 1, 2, 1, false},
      {"the same peer twice in one list", twice, {}, {}, none, 1, 1, 0, false},
      {"LAN peers need no call-me", lan_peers, {}, {}, none, 2, 0, 1, false},
      {"LAN switched off", lan_peers, {}, {}, no_lan, 1, 0, 1, false},
      {"sources switched off", thirty_partial, {}, {}, no_sources, 0, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    failed_peers failed;
    const peer_list_plan plan = plan_peer_list(
        c.entries, own(), c.rules, c.counts, [&](uint64_t id) { return c.linked.count(id) != 0; }, failed, 1000);
    EXPECT_EQ(plan.new_links, c.new_links);
    EXPECT_EQ(plan.duplicates, c.duplicates);
    EXPECT_EQ(plan.call_me.size(), c.call_me);
    EXPECT_EQ(plan.partial_limit_reached, c.partial_limit);
    for (size_t i : plan.call_me) EXPECT_EQ(plan.steps[i].outcome, entry_outcome::kNewLink);
    // Nothing of the list is looked at after the entry that ended the walk.
    if (c.partial_limit) {
      EXPECT_EQ(plan.steps.back().outcome, entry_outcome::kPartialFull);
    }
  }
}

TEST(DownloadPeers, FailedPeersKeptAwayForThirtyMinutes) {
  struct Step { const char* what; uint32_t at; size_t new_links; size_t duplicates; };
  const uint32_t T = 4000000000u;  // the tick wraps during the half hour
  const Step steps[] = {
      {"just failed", T + 1, 0, 1},
      {"29 minutes later", T + 29 * 60000, 0, 1},
      {"1,799,999 ms later", T + 1799999, 0, 1},
      {"30 minutes later the peer is taken again", T + 1800000, 1, 0},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    failed_peers failed;
    failed.add(peer(7), T);
    const peer_list_plan plan =
        plan_peer_list({peer(7)}, own(), {}, {}, [](uint64_t) { return false; }, failed, s.at);
    EXPECT_EQ(plan.new_links, s.new_links);
    EXPECT_EQ(plan.duplicates, s.duplicates);
    EXPECT_EQ(failed.size(), s.new_links ? 0u : 1u);
  }
  failed_peers f;
  f.add(peer(1), 1000);
  f.add(peer(2), 900000);
  f.expire(1801000);
  EXPECT_EQ(f.size(), 1u);
  EXPECT_EQ(f.all().begin()->first, 2u);
}

TEST(DownloadPeers, HavePercentAndBlocks) {
  struct Row { uint64_t have; uint64_t size; uint32_t percent; };
  const Row rows[] = {
      {10240, 10240, 100}, {20000, 10240, 100}, {10239, 10240, 99}, {1, 10240, 0}, {5120, 10240, 50},
      {0, 0, 100},         {0, 1, 0},           {UINT64_MAX - 1, UINT64_MAX, 99},
      {uint64_t(1) << 62, uint64_t(1) << 63, 50},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.have) + " of " + std::to_string(r.size));
    EXPECT_EQ(have_percent(r.have, r.size), r.percent);
  }
  struct Blocks { uint64_t size; uint64_t count; uint64_t block; uint32_t length; };
  const Blocks blocks[] = {
      {0, 0, 0, 0},        {1, 1, 0, 1},       {1024, 1, 0, 1024}, {1025, 2, 1, 1},  {1025, 2, 2, 0},
      {204800, 200, 199, 1024}, {204801, 201, 200, 1}, {UINT64_MAX, (UINT64_MAX >> 10) + 1, UINT64_MAX >> 10, 1023},
  };
  for (const Blocks& b : blocks) {
    SCOPED_TRACE(std::to_string(b.size));
    EXPECT_EQ(file_block_count(b.size), b.count);
    EXPECT_EQ(file_block_length(b.size, b.block), b.length);
  }
}

namespace {
int on_event(void*, uint32_t, int, const p2p_task_peer*, void*, uint32_t) { return 0; }
int on_write(void*, uint32_t, uint64_t, const void*, uint32_t, uint64_t) { return 1; }
}  // namespace

TEST(DownloadRecords, TaskRecord) {
  p2p_task_callbacks given = {&on_event, &on_write, reinterpret_cast<void*>(uintptr_t(0x1122334455667788ull))};
  p2p_task_info good = {};
  good.record_size = 48;
  good.callbacks = uint64_t(uintptr_t(&given));
  good.task_id = 0xA1B2C3D4;
  for (int i = 0; i < 16; ++i) good.hash[i] = uint8_t(i + 1);
  good.file_size = 0x123456789ull;
  struct Row { const char* name; p2p_task_info info; bool null; task_record_error error; };
  p2p_task_info wrong_size = good;
  wrong_size.record_size = 44;
  p2p_task_info zero_hash = good;
  std::memset(zero_hash.hash, 0, 16);
  p2p_task_info no_callbacks = good;
  no_callbacks.callbacks = 0;
  const Row rows[] = {
      {"good", good, false, task_record_error::kNone},
      {"null", good, true, task_record_error::kNull},
      {"size 44", wrong_size, false, task_record_error::kSize},
      {"all-zero hash", zero_hash, false, task_record_error::kEmptyHash},
      {"no callbacks", no_callbacks, false, task_record_error::kNone},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    task_setup s;
    ASSERT_EQ(parse_task_record(r.null ? nullptr : &r.info, s), r.error);
    if (r.error != task_record_error::kNone) continue;
    EXPECT_EQ(s.task_id, 0xA1B2C3D4u);
    EXPECT_EQ(s.file_size, 0x123456789ull);
    EXPECT_EQ(s.file_hash[15], 16);
    const bool with = r.info.callbacks != 0;
    EXPECT_EQ(s.callbacks.on_event, with ? &on_event : nullptr);
    EXPECT_EQ(s.callbacks.write, with ? &on_write : nullptr);
    // The 64-bit user word comes through whole.
    EXPECT_EQ(uintptr_t(s.callbacks.user), with ? uintptr_t(0x1122334455667788ull) : 0u);
  }
  // The copy is the task's: the caller's record may change or go.
  task_setup s;
  parse_task_record(&good, s);
  given.write = nullptr;
  EXPECT_EQ(s.callbacks.write, &on_write);
}

TEST(DownloadRecords, ExportRecords) {
  link_view v;
  v.user_id = 99;
  v.ip = ip(127, 0, 0, 1);
  v.port = 18101;
  v.nat_type = 0x13;
  v.window = 8;
  v.bytes = 5ull << 32;
  p2p_peer_row row;
  fill_peer_row(v, row);
  // Packed fields are read by value.
  EXPECT_EQ(uint64_t(row.user_id), 99u);
  EXPECT_EQ(int(row.window), 8);
  EXPECT_EQ(uint64_t(row.bytes), 5ull << 32);
  EXPECT_STREQ(row.nat_name, "Public(PortRestricted)");
  EXPECT_STREQ(row.address, "127.0.0.1:18101");
  v.ip = ip(255, 255, 255, 255);
  v.port = 65535;
  fill_peer_row(v, row);
  EXPECT_STREQ(row.address, "255.255.255.255:65535");

  p2p_server_log log;
  fill_server_log(kServerLogSuperNode, ip(10, 1, 2, 3), 18002, log);
  EXPECT_EQ(uint32_t(log.type), 3u);
  EXPECT_EQ(uint32_t(log.value4), 1000u);
  EXPECT_EQ(uint32_t(log.ip), ip(10, 1, 2, 3));
  EXPECT_EQ(int(log.port), 18002);
  const char* address = "10.1.2.3:18002";
  for (size_t i = 0; i <= strlen(address); ++i) EXPECT_EQ(uint16_t(log.address[i]), uint16_t(uint8_t(address[i])));
  const char* name = "P2PSP";
  for (size_t i = 0; i <= strlen(name); ++i) EXPECT_EQ(uint16_t(log.name[i]), uint16_t(name[i]));

  struct Ratio { uint32_t resends, requests, percent; };
  const Ratio ratios[] = {{0, 0, 0},     {5, 0, 0},       {1, 4, 25},
                          {3, 3, 100},   {900, 100, 900}, {0xFFFFFFFFu, 1, 0xFFFFFFFFu}};
  for (const Ratio& r : ratios) {
    SCOPED_TRACE(std::to_string(r.resends) + "/" + std::to_string(r.requests));
    EXPECT_EQ(resend_percent(r.resends, r.requests), r.percent);
  }
}
