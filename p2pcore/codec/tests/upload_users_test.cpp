// Upload users on an injected clock: adding with the UploadUserMax limit,
// choking by cache usage, the choke list's 300 seconds, expiry and the peer
// list, transfer accounting with saturating counters.
#include "p2pcore/codec/upload_users.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

using namespace p2p;

namespace {

const uint8_t kFid[16] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 1, 2, 3, 4, 5, 6, 7, 8};
constexpr uint32_t kT0 = 1700000000;

upload_user_info record(uint64_t user_id, uint32_t ip = 0x0100007F, uint16_t port = 4000) {
  upload_user_info u{};
  u.user_id = user_id;
  u.ip = ip;
  u.port = port;
  std::memcpy(u.fid, kFid, 16);
  std::snprintf(u.path, sizeof u.path, "%s", "C:\\share\\movie.wmv");
  return u;
}

struct recorder : upload_user_events {
  std::vector<std::string> lines;
  void added(const upload_user_info& u) override { lines.push_back("added " + std::to_string(u.user_id)); }
  void refused_choked(const upload_user_info& u) override { lines.push_back("in choke " + std::to_string(u.user_id)); }
  void refused_full(const upload_user_info& u, size_t) override { lines.push_back("full " + std::to_string(u.user_id)); }
  void expired(const upload_user_info& u, int) override { lines.push_back("expired " + std::to_string(u.user_id)); }
  void choked(const std::string& key, int usage) override { lines.push_back("choked " + key + " " + std::to_string(usage)); }
  void unchoked(const std::string& key, uint32_t) override { lines.push_back("unchoked " + key); }
};

}  // namespace

TEST(UploadUsers, KeyText) {
  EXPECT_EQ(upload_user_key(kFid, 42), "123456789ABCDEF00102030405060708|42");
  EXPECT_EQ(upload_user_key(kFid, uint64_t(-1)), "123456789ABCDEF00102030405060708|-1");
}

TEST(UploadUsers, CacheUsage) {
  struct Row {
    const char* name;
    uint32_t created, last_transfer;
    uint32_t requested, disk;
    bool rule;
    int usage;
  };
  const Row rows[] = {
      {"4096 of 262144 from disk after 70 s", 0, 70, 4096, 262144, true, 1},
      {"the same within its first 60 s", 0, 59, 4096, 262144, true, 100},
      {"the sweep ignores the 60 s rule", 0, 59, 4096, 262144, false, 1},
      {"nothing from disk, something asked", 0, 70, 10, 0, true, 100},
      {"nothing at all", 0, 70, 0, 0, true, 0},
      {"all served from disk once", 0, 70, 262144, 262144, true, 100},
      {"a quotient too large for an int stays the largest", 0, 70, UINT32_MAX, 1, true, INT_MAX},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    upload_user_info u{};
    u.created = kT0 + r.created;
    u.last_transfer = kT0 + r.last_transfer;
    u.requested_bytes = r.requested;
    u.disk_bytes = r.disk;
    EXPECT_EQ(cache_usage_percent(u, r.rule), r.usage);
  }
}

TEST(UploadUsers, WastefulUserIsChokedAndHeldFor300Seconds) {
  recorder log;
  upload_user_table t(&log);
  t.start(30, 500);
  ASSERT_EQ(t.add(record(7), kT0), kUserAdded);
  t.report_transfer(kFid, 7, 4096, 262144, 0, kT0 + 70, 1000);
  choke_notice notice;
  EXPECT_FALSE(t.check_request(kFid, 7, 1, 8, 0x0813, kT0 + 70, &notice));  // type 8 is always served
  EXPECT_FALSE(notice.send);
  EXPECT_TRUE(t.check_request(kFid, 7, 1, 0, 0x13, kT0 + 70, &notice));
  EXPECT_TRUE(notice.send);
  EXPECT_TRUE(notice.wrapped);
  EXPECT_EQ(uint32_t(notice.ip), 0x0100007Fu);
  EXPECT_EQ(notice.port, 4000);
  EXPECT_EQ(t.size(), 0u);
  EXPECT_EQ(log.lines.back(), "choked 123456789ABCDEF00102030405060708|7 1");
  EXPECT_TRUE(t.check_request(kFid, 7, 0, 0, 0, kT0 + 71, &notice));  // unknown now: refused quietly
  EXPECT_FALSE(notice.send);

  struct Row {
    const char* name;
    uint32_t at;
    int result;
  };
  // The choke list is checked at most once a minute: an announce 299 s after
  // the choke is refused; one at 300 s with a check due is taken.
  const Row rows[] = {
      {"299 s after the choke", 70 + 299, kUserChoked},
      {"300 s, the check done a second ago not yet due again", 70 + 300, kUserChoked},
      {"the next due check releases it", 70 + 299 + 60, kUserAdded},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(t.add(record(7), kT0 + r.at), r.result);
  }
  upload_user_table fresh;
  fresh.start(30, 500);
  ASSERT_EQ(fresh.add(record(8), kT0), kUserAdded);
  fresh.report_transfer(kFid, 8, 1, 262144, 0, kT0 + 70, 0);
  EXPECT_TRUE(fresh.check_request(kFid, 8, -1, 0, 0, kT0 + 70, &notice));
  EXPECT_FALSE(notice.send);  // TCP requests (-1) get no UDP notice
  EXPECT_EQ(fresh.add(record(8), kT0 + 70 + 300), kUserAdded);
}

TEST(UploadUsers, UploadUserMaxIsEnforced) {
  recorder log;
  upload_user_table t(&log);
  t.start(30, 2);
  EXPECT_EQ(t.add(record(1), kT0), kUserAdded);
  EXPECT_EQ(t.add(record(2), kT0), kUserAdded);
  EXPECT_EQ(t.add(record(2), kT0 + 1), kUserAdded);  // present
  EXPECT_EQ(t.add(record(3), kT0 + 1), kUserNoRoom);
  EXPECT_EQ(log.lines.back(), "full 3");
  t.report_transfer(kFid, 2, 100, 0, 1, kT0 + 10, 0);
  // At 16 s user 1 (never served) has expired and makes room; user 2 stays.
  EXPECT_EQ(t.add(record(3), kT0 + 16), kUserAdded);
  EXPECT_EQ(t.size(), 2u);
  EXPECT_FALSE(t.find(kFid, 1, nullptr));
  EXPECT_TRUE(t.find(kFid, 2, nullptr));
}

TEST(UploadUsers, ListingAndExpiry) {
  upload_user_table t;
  t.start(30, 5000);
  ASSERT_EQ(t.add(record(1), kT0), kUserAdded);
  ASSERT_EQ(t.add(record(2), kT0), kUserAdded);
  t.report_transfer(kFid, 2, 1024, 262144, 0, kT0 + 1, 0);
  upload_user_info rows[4];
  struct Row {
    const char* name;
    uint32_t at;
    int listed;
  };
  const Row rows_at[] = {
      {"10 s after creation: both", 10, 2},
      {"16 s: the one without a transfer is gone", 16, 1},
      {"61 s after the transfer: still listed", 61, 1},
      {"62 s: nobody", 62, 0},
  };
  for (const Row& r : rows_at) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(t.copy_list(rows, 4, kT0 + r.at, 0), r.listed);
  }
  EXPECT_EQ(t.copy_list(rows, 1, kT0 + 10, 0), 1);  // never more than the maximum
  EXPECT_EQ(t.sweep(kT0 + 16), 1u);  // the user that never got data
  EXPECT_EQ(t.size(), 1u);
  EXPECT_EQ(t.sweep(kT0 + 30), 0u);   // 14 s later: not due
  EXPECT_EQ(t.size(), 1u);
  EXPECT_EQ(t.sweep(kT0 + 62), 1u);
  EXPECT_EQ(t.size(), 0u);
}

TEST(UploadUsers, SweepsOnAddOnlyFrom1200Users) {
  upload_user_table t;
  t.start(30, 5000);
  for (uint64_t id = 0; id < 1199; ++id) ASSERT_EQ(t.add(record(id), kT0), kUserAdded);
  // 1199 stale users: adding one more does not sweep.
  EXPECT_EQ(t.add(record(5000), kT0 + 100), kUserAdded);
  EXPECT_EQ(t.size(), 1200u);
  // From 1200 on an add sweeps first, and only every 20 s.
  EXPECT_EQ(t.add(record(5001), kT0 + 100), kUserAdded);
  EXPECT_EQ(t.size(), 2u);
}

TEST(UploadUsers, TransfersAreAccountedAndCountersSaturate) {
  upload_user_table t;
  t.start(30, 500);
  ASSERT_EQ(t.add(record(9), kT0), kUserAdded);
  t.report_transfer(kFid, 9, 3000, 262144, 0, kT0 + 2, 2000);
  t.report_transfer(kFid, 9, 1000, 262144, 1, kT0 + 3, 3000);
  upload_user_info u;
  ASSERT_TRUE(t.find(kFid, 9, &u));
  EXPECT_EQ(uint32_t(u.first_transfer), kT0 + 2);
  EXPECT_EQ(uint32_t(u.last_transfer), kT0 + 3);
  EXPECT_EQ(uint64_t(u.uploaded), 4000u);
  EXPECT_EQ(uint32_t(u.block_reads), 2u);
  EXPECT_EQ(uint32_t(u.cache_reads), 1u);
  EXPECT_EQ(uint32_t(u.disk_bytes), 262144u);  // the shared read took nothing from disk for this user
  EXPECT_EQ(uint32_t(u.requested_bytes), 4000u);
  for (int i = 0; i < 20; ++i) t.report_transfer(kFid, 9, 0xF0000000u, 0xF0000000u, 0, kT0 + 4, 4000);
  ASSERT_TRUE(t.find(kFid, 9, &u));
  EXPECT_EQ(uint32_t(u.requested_bytes), UINT32_MAX);
  EXPECT_EQ(uint32_t(u.disk_bytes), UINT32_MAX);
  EXPECT_EQ(uint64_t(u.uploaded), 4000u + 20ull * 0xF0000000u);  // 64 bits
  EXPECT_EQ(t.next_sequence(kFid, 9), 0u);
  EXPECT_EQ(t.next_sequence(kFid, 9), 1u);
  EXPECT_EQ(t.next_sequence(kFid, 10), 0u);
  uint8_t version[40] = {1, 0, 3, 36, 36};
  std::memcpy(version + 8, "peer.exe", 8);
  EXPECT_TRUE(t.set_version(kFid, 9, version));
  ASSERT_TRUE(t.find(kFid, 9, &u));
  EXPECT_EQ(std::string(u.version_text), "peer.exe");
  EXPECT_EQ(uint32_t(u.version_value), 36u);
  EXPECT_FALSE(t.set_version(kFid, 10, version));
}
