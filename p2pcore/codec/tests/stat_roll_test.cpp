// The statistics roll, the one-minute report figures and the peer-list rule.
#include <gtest/gtest.h>

#include "p2pcore/codec/stat_roll.h"
#include "p2pcore/codec/upload_listing.h"

namespace {

TEST(StatRoll, FillsBlocksAndKeepsPercentagesWithoutReads) {
  p2p::stat_roller r;
  p2p::net_counters second = {};
  second.upload_payload_bytes = 5000;
  second.tcp_send_bytes = 70;
  p2p::upload_counters u = {};
  u.block_requests = 12;
  u.cache_reads = 3;
  u.disk_reads = 1;
  u.cache_bytes = 300;
  u.disk_bytes = 1000;
  u.read_ms = 40;
  r.roll(second, u);
  EXPECT_EQ(second.upload_payload_bytes, 0u);  // cleared for the next second
  EXPECT_EQ(r.totals().uploaded_total, 5000u);
  EXPECT_EQ(r.totals().uploaded_last_second, 5000u);
  EXPECT_EQ(r.totals().tcp_send_second, 70u);
  EXPECT_EQ(r.totals().requests_last_second, 12u);
  EXPECT_EQ(r.info().hit_percent, 75);
  EXPECT_EQ(r.info().cache_use_percent, 30);
  EXPECT_EQ(r.info().disk_bytes_last_second, 1000u);
  EXPECT_EQ(r.info().read_ms_last_second, 40u);

  second.upload_payload_bytes = 1000;
  r.roll(second, u);  // no new reads
  EXPECT_EQ(r.totals().uploaded_total, 6000u);
  EXPECT_EQ(r.totals().requests_last_second, 0u);
  EXPECT_EQ(r.info().disk_bytes_last_second, 0u);
  EXPECT_EQ(r.info().hit_percent, 75);
  EXPECT_EQ(r.minute().upload_payload_bytes, 6000u);
  EXPECT_EQ(r.running_total().upload_payload_bytes, 6000u);
  EXPECT_EQ(r.last_second().upload_payload_bytes, 1000u);

  p2p::stat_roller fresh;  // both counts 0 from the start: the percentages stay 0
  p2p::net_counters none = {};
  fresh.roll(none, p2p::upload_counters{});
  EXPECT_EQ(fresh.info().hit_percent, 0);
  EXPECT_EQ(fresh.info().cache_use_percent, 0);
}

TEST(StatRoll, CommandReportHoldsOnlyNonZeroCounts) {
  p2p::command_table t = {};
  t.current[5] = 2;
  t.current[200] = 1;
  p2p::stat_roller::roll_table(t);
  t.current[5] = 3;
  p2p::stat_roller::roll_table(t);
  auto report = p2p::command_report(t);
  ASSERT_EQ(report.size(), 2u);
  EXPECT_EQ(report[0], (std::pair<uint32_t, uint64_t>(5, 5)));
  EXPECT_EQ(report[1], (std::pair<uint32_t, uint64_t>(200, 1)));
  EXPECT_EQ(t.total[5], 5u);
  EXPECT_EQ(t.last_second[5], 3u);
  p2p::clear_minute(t);
  EXPECT_TRUE(p2p::command_report(t).empty());
  EXPECT_EQ(t.total[5], 5u);
}

TEST(UploadListing, ListedPeers) {
  const uint32_t now = 1000000;
  struct Row { const char* name; uint32_t created, first, last; bool listed; };
  const Row rows[] = {
      {"new, no data yet", now - 15, 0, now - 15, true},
      {"no data after 16 s", now - 16, 0, now - 16, false},
      {"transferring", now - 500, now - 400, now - 60, true},
      {"idle 61 s", now - 500, now - 400, now - 61, false},
      {"clock moved back", now + 30, 0, now + 30, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(p2p::upload_user_listed(now, r.created, r.first, r.last), r.listed);
  }
}

}  // namespace
