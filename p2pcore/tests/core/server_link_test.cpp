// The TCP link to the servers over a loopback connection: routing of the
// servers' frames, the keepalive results, a damaged stream, and the send
// buffer with its limit and the order of what the socket did not take.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "p2pcore/ke/servermanager.h"
#include "p2pcore/stat/StatAPI.h"
#include "p2pcore/wire/server_protocol.h"

namespace {

struct events : p2p::server_link_events {
  int register_replies = 0, login_replies = 0, keepalive_ok = 0, share_accepted = 0;
  void on_link_register_reply(const uint8_t*, uint32_t) override { ++register_replies; }
  void on_link_login_reply(const uint8_t*, uint32_t) override { ++login_replies; }
  void on_link_keepalive_ok() override { ++keepalive_ok; }
  void on_link_share_accepted() override { ++share_accepted; }
};

class collector : public p2p::DataInPacking {
 public:
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> frames;

 protected:
  void on_frame(uint16_t command, const uint8_t* body, uint32_t n) override {
    frames.push_back({command, std::vector<uint8_t>(body, body + n)});
  }
};

// A connected pair on loopback: `link` for the server link, `peer` for the test's server.
class ServerLink : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    int len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    listen(listener, 1);
    link = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(connect(link, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    peer = accept(listener, nullptr, nullptr);
    closesocket(listener);
    ASSERT_NE(peer, INVALID_SOCKET);
    u_long on = 1;
    ioctlsocket(link, FIONBIO, &on);
    p2p::server_manager::instance().set_events(&ev);
    p2p::server_manager::instance().attach(link);
  }
  void TearDown() override {
    p2p::server_manager::destroy();  // closes `link`
    // The link counts into the library's shared command tables: leave them empty.
    p2p::stat_roll_second();
    p2p::stat_report_minute();
    closesocket(peer);
    WSACleanup();
  }

  // Sends frames from the peer and hands what arrives to the link, as the scheduler does.
  void deliver(const std::vector<std::pair<uint16_t, std::vector<uint8_t>>>& frames) {
    std::vector<uint8_t> bytes;
    for (const auto& [command, body] : frames) {
      p2p::tcp_frame f;
      f.new_frame(command, 3);
      f.append(body.data(), body.size());
      out->pack(f);
      bytes.insert(bytes.end(), f.data(), f.data() + f.size());
    }
    deliver_raw(bytes);
  }
  void deliver_raw(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(send(peer, reinterpret_cast<const char*>(bytes.data()), int(bytes.size()), 0), int(bytes.size()));
    size_t got = 0;
    uint8_t buffer[4096];
    for (int tries = 0; got < bytes.size() && tries < 200; ++tries) {
      int n = recv(link, reinterpret_cast<char*>(buffer), sizeof buffer, 0);
      if (n > 0) {
        got += size_t(n);
        p2p::server_manager::instance().receive(buffer, size_t(n));
      } else {
        Sleep(5);
      }
    }
  }

  SOCKET link = INVALID_SOCKET, peer = INVALID_SOCKET;
  events ev;
  std::unique_ptr<p2p::DataOutPacking> out = std::make_unique<p2p::DataOutPacking>();
};

TEST_F(ServerLink, RoutesTheServersFrames) {
  deliver({{p2p::kTcpRegisterReply, std::vector<uint8_t>(40)},
           {p2p::kTcpLoginReply, std::vector<uint8_t>(10)},
           {p2p::kTcpShareAccepted, {}},
           {15, {1, 2}},
           {28, {}},
           {99, {7}}});  // unknown: logged and counted, the link stays up
  EXPECT_EQ(ev.register_replies, 1);
  EXPECT_EQ(ev.login_replies, 1);
  EXPECT_EQ(ev.share_accepted, 1);
  EXPECT_TRUE(p2p::server_manager::instance().connected());
}

TEST_F(ServerLink, KeepaliveResults) {
  struct Row { std::vector<uint8_t> body; bool connected; int ok; };
  const Row rows[] = {
      {{0, 0}, true, 1}, {{7, 0}, true, 0}, {{0}, true, 0}, {{1, 0}, false, 0}, {{2, 0}, false, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << "result bytes " << r.body.size() << ", first " << int(r.body[0]));
    ev = events();
    if (!p2p::server_manager::instance().connected()) {
      // A broken link is re-attached on the same socket with a new stream.
      out = std::make_unique<p2p::DataOutPacking>();
      p2p::server_manager::instance().attach(link);
    }
    deliver({{p2p::kTcpKeepaliveReply, r.body}});
    EXPECT_EQ(p2p::server_manager::instance().connected(), r.connected);
    EXPECT_EQ(ev.keepalive_ok, r.ok);
  }
}

TEST_F(ServerLink, ADamagedStreamBreaksTheLink) {
  std::vector<uint8_t> junk(32, 0x5A);
  deliver_raw(junk);
  EXPECT_FALSE(p2p::server_manager::instance().connected());
  EXPECT_TRUE(p2p::server_manager::instance().error());
  // The reply after the damage is never dispatched.
  EXPECT_EQ(ev.register_replies, 0);
}

TEST_F(ServerLink, BufferedFramesStayInOrderAndTheLimitBreaksTheLink) {
  p2p::server_manager& m = p2p::server_manager::instance();
  // The peer reads nothing until the end: the socket's buffers fill, then the link's own.
  std::vector<uint8_t> body(60000);
  int accepted = 0;
  size_t queued_before_failure = 0;
  for (int i = 0; i < 1000; ++i) {
    for (size_t k = 0; k < body.size(); ++k) body[k] = uint8_t(i + k);
    queued_before_failure = m.buffered();
    if (!m.send(p2p::kTcpShareBatch, body)) break;
    ++accepted;
  }
  ASSERT_LT(accepted, 1000) << "the peer took everything: no limit reached";
  EXPECT_GT(queued_before_failure, p2p::server_manager::kQueueLimit);
  EXPECT_FALSE(m.connected());
  EXPECT_FALSE(m.send(p2p::kTcpKeepalive, std::vector<uint8_t>(6)));

  // What did go out arrives whole and in order.
  collector c;
  std::vector<uint8_t> buffer(65536);
  u_long on = 1;
  ioctlsocket(peer, FIONBIO, &on);
  for (int idle = 0; idle < 40;) {
    int n = recv(peer, reinterpret_cast<char*>(buffer.data()), int(buffer.size()), 0);
    if (n > 0) {
      ASSERT_EQ(c.unpack(buffer.data(), size_t(n)), 0);
      idle = 0;
    } else {
      ++idle;
      Sleep(5);
    }
  }
  ASSERT_GT(c.frames.size(), 0u);
  ASSERT_LE(c.frames.size(), size_t(accepted));
  for (size_t i = 0; i < c.frames.size(); ++i) {
    ASSERT_EQ(c.frames[i].first, p2p::kTcpShareBatch);
    ASSERT_EQ(c.frames[i].second.size(), body.size());
    ASSERT_EQ(c.frames[i].second[0], uint8_t(i)) << "frame " << i << " out of order";
  }
}

}  // namespace
