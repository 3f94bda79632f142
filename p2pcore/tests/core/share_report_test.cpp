// Share reports to the super node and the upload server: batches, SerialIDs,
// retransmission, acknowledgements and reset.
#include <gtest/gtest.h>

#include <cstring>

#include "p2pcore/ke/ShareResources_new.h"
#include "p2pcore/tests/core/core_fixture.h"

namespace {

struct fake_link : p2p::share_report_link {
  std::vector<std::vector<uint8_t>> sp, up;
  bool up_ok = true;
  int stamps = 0;
  uint8_t node_type() override { return 5; }
  uint64_t node_id() override { return 0x1122334455667788ull; }
  void send_to_sp(const std::vector<uint8_t>& body) override { sp.push_back(body); }
  bool send_to_up(const std::vector<uint8_t>& body) override {
    up.push_back(body);
    return up_ok;
  }
  void stamp_up_tick() override { ++stamps; }
};

uint32_t u32_at(const std::vector<uint8_t>& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
uint16_t u16_at(const std::vector<uint8_t>& b, size_t at) {
  uint16_t v;
  std::memcpy(&v, b.data() + at, 2);
  return v;
}
std::vector<uint8_t> ack(uint32_t serial) {
  std::vector<uint8_t> body = {13, 0, 0, 0, 0, 0, 0};
  std::memcpy(body.data() + 3, &serial, 4);
  return body;
}

class ShareReports : public ::testing::Test {
 protected:
  void SetUp() override {
    m = p2p::get_shareres_manager();
    m->clear();
    path = files.write("one.wmv", core_test::pattern(100));
    for (int i = 0; i < 70; ++i) ASSERT_EQ(m->add_share(path.c_str(), 100, core_test::fid(uint8_t(i)).data(), 0), 0);
    m->reset_shareres_stat();
  }
  void TearDown() override { m->clear(); }
  core_test::scratch files;
  std::string path;
  p2p::shareres_manager* m = nullptr;
};

TEST_F(ShareReports, SuperNodeBatches) {
  fake_link link;
  const uint32_t first = m->serial_counter() + 1;
  m->send_shareres_to_sp(link);
  ASSERT_EQ(link.sp.size(), 1u);
  const auto& b = link.sp[0];
  EXPECT_EQ(u16_at(b, 0), 28);
  EXPECT_EQ(b[2], 5);
  EXPECT_EQ(u32_at(b, 11), first);
  EXPECT_EQ(u16_at(b, 15), 60);
  EXPECT_EQ(b.size(), 17u + 17 * 60);
  EXPECT_EQ(b[17 + 16], 100);
  EXPECT_TRUE(m->waiting());

  m->send_shareres_to_sp(link);  // not acknowledged: the same batch again
  ASSERT_EQ(link.sp.size(), 2u);
  EXPECT_EQ(link.sp[1], link.sp[0]);

  m->server_accept_share(ack(first + 100).data(), 7, link);  // unknown SerialID: only restarts sending
  ASSERT_EQ(link.sp.size(), 3u);
  EXPECT_EQ(u32_at(link.sp[2], 11), first + 1);
  EXPECT_EQ(u16_at(link.sp[2], 15), 10);  // the 10 not yet sent

  m->server_accept_share(ack(first).data(), 3, link);  // too short: ignored
  EXPECT_EQ(link.sp.size(), 3u);
  m->server_accept_share(ack(first + 1).data(), 7, link);
  // Nothing is left in state 0; the 60 of the first batch stay unacknowledged until a reset.
  EXPECT_EQ(link.sp.size(), 3u);
  EXPECT_FALSE(m->report_pending());

  m->reset_shareres_stat();
  m->send_shareres_to_sp(link);
  ASSERT_EQ(link.sp.size(), 4u);
  EXPECT_EQ(u16_at(link.sp[3], 15), 60);
  EXPECT_EQ(m->presend_count(), 60u);
}

TEST_F(ShareReports, UploadServerBatches) {
  fake_link link;
  m->set_batch_max(0);  // before the super node's reply nothing goes out
  m->send_shareres_to_up(false, link);
  EXPECT_TRUE(link.up.empty());
  EXPECT_FALSE(m->report_pending());

  m->reset_shareres_stat();
  m->set_batch_max(1000);  // capped at 255 by the 8-bit counter; 70 shares here
  EXPECT_EQ(m->send_shareres_to_up(false, link), 0);
  ASSERT_EQ(link.up.size(), 1u);
  EXPECT_EQ(link.up[0][0], 0);
  EXPECT_EQ(u32_at(link.up[0], 1), 1u);
  EXPECT_EQ(u32_at(link.up[0], 5), 70u);
  EXPECT_EQ(link.up[0].size(), 9u + 17 * 70);
  EXPECT_EQ(m->send_shareres_to_up(false, link), 1);  // waiting: only the periodic pass resends
  EXPECT_EQ(link.up.size(), 1u);

  link.up_ok = false;
  m->send_shareres_to_up(true, link);  // failed retransmission changes no flag
  EXPECT_EQ(link.up.size(), 2u);
  EXPECT_TRUE(m->waiting());
  link.up_ok = true;
  m->server_accept_share_up(link);
  EXPECT_FALSE(m->waiting());
  EXPECT_FALSE(m->report_pending());  // the follow-up pass found nothing new
  EXPECT_GE(link.stamps, 3);
}

TEST_F(ShareReports, AFailedNewBatchIsReportedAgain) {
  fake_link link;
  m->set_batch_max(255);
  link.up_ok = false;
  m->send_shareres_to_up(false, link);
  ASSERT_EQ(link.up.size(), 1u);
  EXPECT_FALSE(m->waiting());
  link.up_ok = true;
  m->send_shareres_to_up(false, link);  // the same 70 items, back in "not reported"
  ASSERT_EQ(link.up.size(), 2u);
  EXPECT_EQ(u32_at(link.up[1], 5), 70u);
  EXPECT_TRUE(m->waiting());
}

TEST_F(ShareReports, PassesWithNothingToSendUseNoSerialId) {
  fake_link link;
  struct Row { const char* name; bool tcp; };
  const Row rows[] = {{"super node", false}, {"upload server", true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    m->clear();
    m->reset_shareres_stat();
    m->set_batch_max(255);
    const uint32_t before = m->serial_counter();
    if (r.tcp) m->send_shareres_to_up(false, link); else m->send_shareres_to_sp(link);
    EXPECT_EQ(m->serial_counter(), before);
    ASSERT_EQ(m->add_share(path.c_str(), 100, core_test::fid(7).data(), 0), 0);
    link.sp.clear();
    link.up.clear();
    if (r.tcp) m->send_shareres_to_up(false, link); else m->send_shareres_to_sp(link);
    EXPECT_EQ(m->serial_counter(), before + 1);
    EXPECT_EQ(r.tcp ? link.up.size() : link.sp.size(), 1u);
  }
}

TEST_F(ShareReports, TheLimitAppliesToLoadingNotToAdding) {
  m->set_files_limit(10);
  EXPECT_EQ(m->add_share(path.c_str(), 100, core_test::fid(250).data(), 0), 0);
  EXPECT_EQ(m->share_count(), 71);
  m->set_files_limit(100000);
}

}  // namespace
