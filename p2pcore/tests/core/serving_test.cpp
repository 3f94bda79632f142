// The serving side on loopback, with a loop of its own in the place of the
// session's: TCP peers announce themselves with Check_Have and download ranges
// and verify digests; UDP peers are introduced by a call-me from the super
// node and fetch blocks, wrapped and plain, verify ranges, swap versions and
// have-maps. Every byte is checked against the file.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <map>

#include "p2pcore/io/SimpleUdpServer.h"
#include "p2pcore/ke/ShareResources_new.h"
#include "p2pcore/ke/onlineusermanager.h"
#include "p2pcore/ke/peer_commands.h"
#include "p2pcore/ke/session.h"
#include "p2pcore/ke/uploadtask.h"
#include "p2pcore/ke/uploaduser.h"
#include "p2pcore/stat/StatAPI.h"
#include "p2pcore/tests/core/core_fixture.h"
#include "p2pcore/wire/peer_tcp.h"
#include "p2pcore/wire/peer_udp.h"
#include "p2pcore/wire/tcp_stream.h"
#include "p2pcore/wire/udp_packet.h"
#include "p2pcore/wire/wire_bytes.h"

using namespace p2p;

namespace {

sockaddr_in loopback(uint16_t port) {
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

uint16_t port_of(SOCKET s) {
  sockaddr_in a = {};
  int len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

void set_timeout(SOCKET s, DWORD ms) {
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

// What the session's scheduler loop does for the serving side, on a thread of its own.
class serving_loop {
 public:
  serving_loop() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = loopback(0);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listener_, 10);
    u_long on = 1;
    ioctlsocket(listener_, FIONBIO, &on);
    udp_ = new CSimpleUdpServer;
    udp_->bind_port(0);
    ioctlsocket(udp_->socket(), FIONBIO, &on);
    udp_server(0) = udp_;
    thread_ = CreateThread(nullptr, 0, entry, this, 0, nullptr);
  }
  ~serving_loop() {
    stop_ = 1;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    get_online_user_manager()->close_all();
    closesocket(listener_);
    udp_server(0) = nullptr;
    delete udp_;
    WSACleanup();
  }
  uint16_t tcp_port() const { return port_of(listener_); }
  uint16_t udp_port() const { return udp_->port(); }
  // Call-me is taken only from this address.
  sockaddr_in super_node = {};

 private:
  static DWORD WINAPI entry(void* self) {
    static_cast<serving_loop*>(self)->run();
    return 0;
  }
  void run() {
    online_user_manager* users = get_online_user_manager();
    static uint8_t datagram[65536];
    while (!stop_) {
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(listener_, &readable);
      FD_SET(udp_->socket(), &readable);
      users->fill_read_set(readable);
      timeval wait = {0, 30000};
      if (select(0, &readable, nullptr, nullptr, &wait) == SOCKET_ERROR) FD_ZERO(&readable);
      if (FD_ISSET(listener_, &readable)) users->accept_from(listener_);
      if (FD_ISSET(udp_->socket(), &readable)) {
        for (;;) {
          sockaddr_in from = {};
          int len = sizeof from;
          const int n = recvfrom(udp_->socket(), reinterpret_cast<char*>(datagram), sizeof datagram, 0,
                                 reinterpret_cast<sockaddr*>(&from), &len);
          if (n <= 0) break;
          UdpChecked c = udp_->process(datagram, size_t(n), from);
          if (c.result != UdpCheck::kCommand) continue;
          const bool from_sp = from.sin_addr.s_addr == super_node.sin_addr.s_addr && from.sin_port == super_node.sin_port;
          peer_udp_command(c.command, c.body(), c.body_length(), from, c.outer, from_sp);
        }
      }
      users->serve_readable(readable);
      users->housekeeping();
    }
  }
  SOCKET listener_;
  CSimpleUdpServer* udp_;
  HANDLE thread_;
  std::atomic<int> stop_{0};  // set by the destructor, read by the loop's thread
};

// A downloading peer over TCP.
class tcp_peer : private DataInPacking {
 public:
  explicit tcp_peer(uint16_t port) {
    s_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = loopback(port);
    connected_ = connect(s_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    set_timeout(s_, 200);
  }
  ~tcp_peer() { closesocket(s_); }
  bool connected() const { return connected_; }
  void send(uint16_t command, const std::vector<uint8_t>& body) {
    tcp_frame f;
    f.new_frame(command, random_header_length());
    f.append(body.data(), body.size());
    out_.pack(f);
    ::send(s_, reinterpret_cast<const char*>(f.data()), int(f.size()), 0);
  }
  // Frames until `count` arrived or `ms` passed; false when the connection closed.
  bool read(size_t count, DWORD ms) {
    const DWORD start = GetTickCount();
    uint8_t buffer[65536];
    while (frames.size() < count && GetTickCount() - start < ms) {
      const int n = recv(s_, reinterpret_cast<char*>(buffer), sizeof buffer, 0);
      if (n == 0) return false;
      if (n < 0) continue;
      unpack(buffer, size_t(n));
    }
    return true;
  }
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> frames;

 private:
  void on_frame(uint16_t command, const uint8_t* body, uint32_t length) override {
    frames.push_back({command, std::vector<uint8_t>(body, body + length)});
  }
  SOCKET s_;
  bool connected_ = false;
  DataOutPacking out_;
};

// A UDP socket of the test: a downloading peer or the super node.
class udp_end {
 public:
  udp_end() {
    s_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in a = loopback(0);
    ::bind(s_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    set_timeout(s_, 200);
  }
  ~udp_end() { closesocket(s_); }
  uint16_t port() const { return port_of(s_); }
  sockaddr_in address() const { return loopback(port()); }
  void send(const std::vector<uint8_t>& body, uint16_t to, bool wrapped) {
    std::vector<uint8_t> d = build_command_packet(77, ++sequence_, body.data(), body.size());
    const uint8_t pad[3] = {1, 2, 3};
    if (wrapped) d = wrap_outer(d, pad, 3);
    sockaddr_in a = loopback(to);
    sendto(s_, reinterpret_cast<const char*>(d.data()), int(d.size()), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  struct datagram {
    std::vector<uint8_t> bytes;
    UdpChecked check;
  };
  // Datagrams until `count` arrived or `ms` passed.
  std::vector<datagram> receive(size_t count, DWORD ms) {
    std::vector<datagram> got;
    const DWORD start = GetTickCount();
    uint8_t buffer[2048];
    while (got.size() < count && GetTickCount() - start < ms) {
      const int n = recv(s_, reinterpret_cast<char*>(buffer), sizeof buffer, 0);
      if (n <= 0) continue;
      datagram d;
      d.bytes.assign(buffer, buffer + n);
      got.push_back(std::move(d));
    }
    for (datagram& d : got) d.check = check_datagram(d.bytes.data(), d.bytes.size());
    return got;
  }

 private:
  SOCKET s_;
  uint32_t sequence_ = 0;
};

class Serving : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { get_upload_task_mgr()->start_threads(2); }
  static void TearDownTestSuite() { get_upload_task_mgr()->stop_threads(); }
  void SetUp() override {
    content = core_test::pattern(700 * 1024 + 333);
    m = get_shareres_manager();
    m->pause_upload = 0;
    m->set_upload_speed_limit(0);
    get_upload_user_manager()->start(30, 500);
    ASSERT_EQ(m->add_share(files.write("served.wmv", content).c_str(), content.size(), fid.data(), 0), 0);
  }
  void TearDown() override {
    m->delete_share_byfid(fid.data(), 0);
    m->set_upload_speed_limit(0x40000000);
  }
  std::vector<uint8_t> bytes(uint64_t offset, uint64_t n) const {
    return std::vector<uint8_t>(content.begin() + long(offset), content.begin() + long(offset + n));
  }
  core_test::scratch files;
  std::vector<uint8_t> content;
  std::vector<uint8_t> fid = core_test::fid(61);
  shareres_manager* m = nullptr;
};

// The data of a Req_data answer, by block index, from frames 20.
std::map<uint32_t, std::vector<uint8_t>> block_data(const tcp_peer& p) {
  std::map<uint32_t, std::vector<uint8_t>> out;
  for (const auto& [command, body] : p.frames) {
    if (command != kTcpBlockData || body.size() < 6) continue;
    const uint16_t length = uint16_t(body[4] | body[5] << 8);
    EXPECT_EQ(body.size(), 6u + length);
    out[load_u32le(body.data())] = std::vector<uint8_t>(body.begin() + 6, body.end());
  }
  return out;
}

}  // namespace

TEST_F(Serving, TcpPeerDownloadsRangesAndVerifies) {
  serving_loop loop;
  tcp_peer peer(loop.tcp_port());
  ASSERT_TRUE(peer.connected());
  peer.send(kTcpCheckHave, check_have_body(5150, fid.data(), 0));
  ASSERT_TRUE(peer.read(1, 3000));
  ASSERT_EQ(peer.frames.size(), 1u);
  CheckHaveAnswer answer;
  ASSERT_EQ(parse_check_have_answer(peer.frames[0].second.data(), peer.frames[0].second.size(), answer),
            PeerError::kNone);
  EXPECT_EQ(answer.result, kHandshakeAccepted);
  EXPECT_EQ(answer.file_size, content.size());

  // The whole file (701 blocks, the last short), then two small ranges.
  peer.frames.clear();
  const uint32_t last = uint32_t(file_blocks(content.size()) - 1);
  peer.send(kTcpReqData, req_data_body(1, {{0, last}}));
  const size_t whole_frames = (content.size() + 4095) / 4096;
  ASSERT_TRUE(peer.read(whole_frames, 10000));
  std::map<uint32_t, std::vector<uint8_t>> got = block_data(peer);
  std::vector<uint8_t> joined;
  for (const auto& [block, data] : got) {
    EXPECT_EQ(uint64_t(block) * 1024, joined.size());
    joined.insert(joined.end(), data.begin(), data.end());
  }
  EXPECT_EQ(joined, content);

  peer.frames.clear();
  peer.send(kTcpReqData, req_data_body(2, {{5, 9}, {300, 301}}));
  ASSERT_TRUE(peer.read(3, 5000));
  got = block_data(peer);
  ASSERT_EQ(got.size(), 3u);  // 5-8 and 9 in two frames, 300-301 in one
  EXPECT_EQ(got[5], bytes(5 * 1024, 4096));
  EXPECT_EQ(got[9], bytes(9 * 1024, 1024));
  EXPECT_EQ(got[300], bytes(300 * 1024, 2048));

  // Ranges that reach past the end of the file are served up to its end; a
  // piece that starts past it is refused with a back-off.
  struct Past {
    const char* name;
    DataRange range;
    uint64_t bytes;
    size_t back_offs;
  };
  const uint64_t size = content.size();
  const Past past[] = {
      {"the last blocks and beyond", {last - 2, last + 40}, size - (last - 2) * 1024ull, 0},
      {"a piece inside, the next past the end", {last - 300, last + 300}, size - (last - 300) * 1024ull, 1},
      {"wholly past the end", {last + 1, last + 9}, 0, 1},
  };
  for (const Past& r : past) {
    SCOPED_TRACE(r.name);
    peer.frames.clear();
    peer.send(kTcpReqData, req_data_body(9, {r.range}));
    const size_t frames = size_t((r.bytes + 4095) / 4096) + r.back_offs;
    ASSERT_TRUE(peer.read(frames, 5000));
    EXPECT_EQ(peer.frames.size(), frames);
    size_t back_offs = 0;
    for (const auto& [command, body] : peer.frames) back_offs += command == kTcpBackOff;
    EXPECT_EQ(back_offs, r.back_offs);
    got = block_data(peer);
    std::vector<uint8_t> tail;
    for (const auto& [block, data] : got) tail.insert(tail.end(), data.begin(), data.end());
    EXPECT_EQ(tail, bytes(uint64_t(r.range.first) * 1024, r.bytes));
  }

  // A verify longer than a cache block.
  peer.frames.clear();
  const std::vector<uint8_t> long_verify = verify_request_body(fid.data(), 7, 2048, 4096, 300000);
  peer.send(kTcpReqVerifyRange, long_verify);
  ASSERT_TRUE(peer.read(1, 5000));
  ASSERT_EQ(peer.frames.size(), 1u);
  ASSERT_EQ(peer.frames[0].first, kTcpVerifyAnswer);
  {
    VerifyRequest v;
    parse_verify_request(long_verify.data(), long_verify.size(), v);
    const std::vector<uint8_t> range = bytes(4096, 300000);
    EXPECT_EQ(peer.frames[0].second, verify_answer_body(v, range.data(), range.size()));
  }

  peer.frames.clear();
  peer.send(kTcpReqVerifyRange, verify_request_body(fid.data(), 7, 1024, 1000, 5000));
  ASSERT_TRUE(peer.read(1, 5000));
  ASSERT_EQ(peer.frames.size(), 1u);
  EXPECT_EQ(peer.frames[0].first, kTcpVerifyAnswer);
  VerifyRequest expected;
  const std::vector<uint8_t> request = verify_request_body(fid.data(), 7, 1024, 1000, 5000);
  parse_verify_request(request.data(), request.size(), expected);
  const std::vector<uint8_t> data = bytes(1000, 5000);
  EXPECT_EQ(peer.frames[0].second, verify_answer_body(expected, data.data(), data.size()));

  // What the roll makes of it: the TCP peer commands (table B) and the upload counters.
  stat_roll_second();
  uint8_t tcp_commands[1024], reads[72];
  stat_copy_netinfo(nullptr, nullptr, nullptr, tcp_commands, reads);
  const auto count_of = [&](uint16_t command) { return load_u32le(tcp_commands + 4 * command); };
  EXPECT_EQ(count_of(kTcpCheckHave), 1u);        // received
  EXPECT_EQ(count_of(kTcpCheckHaveAnswer), 1u);  // sent
  EXPECT_GE(count_of(kTcpReqData), 2u);
  EXPECT_GE(count_of(kTcpBlockData), whole_frames);
  EXPECT_GE(load_u32le(reads + 4), 3u);  // block reads
  p2p_stat_totals totals;
  p2p_stat_info info;
  stat_copy_info(&totals, &info);
  EXPECT_GE(uint64_t(totals.uploaded_total), content.size() + 7 * 1024);
  EXPECT_GE(uint64_t(info.cache_hits), 1u);
  EXPECT_GE(uint64_t(info.cache_misses), 1u);
  EXPECT_GT(uint64_t(info.disk_bytes), 0u);

  upload_user_info row[2];
  EXPECT_EQ(get_upload_user_manager()->copy_uplist(row, 2, uint32_t(time(nullptr))), 1);
  EXPECT_EQ(uint64_t(row[0].user_id), 5150u);
  uint64_t past_bytes = 0;
  for (const Past& r : past) past_bytes += r.bytes;
  EXPECT_EQ(uint64_t(row[0].uploaded), content.size() + 7 * 1024 + past_bytes);
  share_file_info share;
  ASSERT_EQ(m->copy_share_filelist(&share, 1), 1);
  EXPECT_EQ(uint32_t(share.handshakes), 1u);
}

TEST_F(Serving, TcpRefusals) {
  serving_loop loop;
  struct Row {
    const char* name;
    std::vector<uint8_t> fid;
    uint16_t result;
  };
  const Row rows[] = {
      {"a file that is not shared", core_test::fid(99), kHandshakeNoFile},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    tcp_peer peer(loop.tcp_port());
    peer.send(kTcpCheckHave, check_have_body(1, r.fid.data(), 0));
    ASSERT_TRUE(peer.read(1, 3000));
    ASSERT_EQ(peer.frames.size(), 1u);
    CheckHaveAnswer answer;
    ASSERT_EQ(parse_check_have_answer(peer.frames[0].second.data(), peer.frames[0].second.size(), answer),
              PeerError::kNone);
    EXPECT_EQ(answer.result, r.result);
    // Its Req_data is refused: the peer is told to stay away, the connection kept.
    peer.frames.clear();
    peer.send(kTcpReqData, req_data_body(1, {{0, 0}}));
    EXPECT_TRUE(peer.read(1, 3000));
    ASSERT_EQ(peer.frames.size(), 1u);
    EXPECT_EQ(peer.frames[0].first, kTcpBackOff);
    EXPECT_EQ(peer.frames[0].second, back_off_body(1, kBackOffMs));
  }

  tcp_peer active(loop.tcp_port());
  active.send(kTcpReqActive, {});
  EXPECT_FALSE(active.read(2, 3000));  // one frame 9, then the connection closes
  ASSERT_EQ(active.frames.size(), 1u);
  EXPECT_EQ(active.frames[0].first, kTcpRspActive);

  tcp_peer early(loop.tcp_port());
  early.send(kTcpReqData, req_data_body(1, {{0, 0}}));  // before Check_Have: the user is bad and closed
  EXPECT_FALSE(early.read(1, 3000));
  EXPECT_TRUE(early.frames.empty());
}

// Under a speed limit below a piece, the piece goes out in parts as the
// limiter grants them: its frames are those of the whole piece (4096 bytes,
// first blocks b, b + 4, ...), and no 1000 ms carries more than the limit.
TEST_F(Serving, TcpPiecesUnderALimitGoInParts) {
  serving_loop loop;
  tcp_peer peer(loop.tcp_port());
  peer.send(kTcpCheckHave, check_have_body(5151, fid.data(), 0));
  ASSERT_TRUE(peer.read(1, 3000));
  peer.frames.clear();
  const uint32_t limit = 100 * 1024;
  m->set_upload_speed_limit(limit);
  const uint32_t piece = m->cache_block_size();
  ASSERT_GT(piece, limit);
  const DWORD start = GetTickCount();
  peer.send(kTcpReqData, req_data_body(4, {{10, 10 + piece / 1024 - 1}}));
  std::vector<DWORD> arrived;
  while (peer.frames.size() < piece / 4096 && GetTickCount() - start < 15000) {
    const size_t before = peer.frames.size();
    peer.read(before + 1, 200);
    for (size_t i = before; i < peer.frames.size(); ++i) arrived.push_back(GetTickCount());
  }
  m->set_upload_speed_limit(0);
  ASSERT_EQ(peer.frames.size(), piece / 4096);
  for (size_t i = 0; i < peer.frames.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(peer.frames[i].first, kTcpBlockData);
    const std::vector<uint8_t>& body = peer.frames[i].second;
    EXPECT_EQ(load_u32le(body.data()), 10 + 4 * i);
    EXPECT_EQ(std::vector<uint8_t>(body.begin() + 6, body.end()), bytes((10 + 4 * i) * 1024, 4096));
  }
  // 256 KiB at 100 KB/s: at least two more windows after the first.
  EXPECT_GE(arrived.back() - start, 1500u);
  for (size_t i = 0; i < arrived.size(); ++i) {
    size_t in_window = 0;
    for (size_t j = i; j < arrived.size() && arrived[j] - arrived[i] < 900; ++j) ++in_window;
    EXPECT_LE(in_window * 4096, size_t(limit) * 5 / 4) << "frames from " << i;
  }
}

TEST_F(Serving, UdpPeerIsIntroducedAndServed) {
  serving_loop loop;
  udp_end super_node, peer;
  loop.super_node = super_node.address();
  CallMe c;
  c.peer_id = 8080;
  c.peer_ip = htonl(INADDR_LOOPBACK);
  c.peer_port = peer.port();
  c.nat_type = 0x11;
  std::memcpy(c.file_hash, fid.data(), 16);
  c.file_size = content.size();

  // A call-me from anyone but the super node is dropped.
  peer.send(call_me_body(kPeerCallMe, c), loop.udp_port(), true);
  EXPECT_TRUE(peer.receive(1, 500).empty());
  super_node.send(call_me_body(kPeerCallMe, c), loop.udp_port(), true);
  std::vector<udp_end::datagram> got = peer.receive(1, 3000);
  ASSERT_EQ(got.size(), 1u);
  ASSERT_EQ(got[0].check.result, UdpCheck::kCommand);
  EXPECT_TRUE(got[0].check.outer);  // answered in the form it was asked in
  ASSERT_EQ(got[0].check.command, kPeerHandshakeAnswer);
  ASSERT_EQ(got[0].check.body_length(), kHandshakeAnswerSize);
  EXPECT_EQ(got[0].check.body()[35], kHandshakeAccepted);

  struct Row {
    const char* name;
    std::vector<uint32_t> blocks;
    bool wrapped;
  };
  const uint32_t last = uint32_t(file_blocks(content.size()) - 1);
  const Row rows[] = {
      {"16 blocks, wrapped", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, true},
      {"7, 8, 9, 20, plain", {7, 8, 9, 20}, false},
      {"the short last block", {last - 1, last}, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    peer.send(get_file_data_body(fid.data(), 8080, 0x11, 0, r.blocks.data(), r.blocks.size()), loop.udp_port(),
              r.wrapped);
    got = peer.receive(r.blocks.size(), 5000);
    ASSERT_EQ(got.size(), r.blocks.size());
    std::map<uint32_t, std::vector<uint8_t>> blocks;
    for (udp_end::datagram& d : got) {
      ASSERT_EQ(d.check.result, UdpCheck::kData);
      EXPECT_EQ(d.check.outer, r.wrapped);
      BlockPacket p;
      ASSERT_EQ(parse_block_packet(d.check.packet, d.check.length, p), PeerError::kNone);
      blocks[p.block] = std::vector<uint8_t>(p.data, p.data + p.length);
    }
    for (uint32_t b : r.blocks) {
      const uint64_t at = uint64_t(b) * 1024;
      EXPECT_EQ(blocks[b], bytes(at, std::min<uint64_t>(1024, content.size() - at))) << b;
    }
  }

  peer.send(verify_request_body(fid.data(), 7, 16, 2048, 4096), loop.udp_port(), false);
  got = peer.receive(1, 3000);
  ASSERT_EQ(got.size(), 1u);
  ASSERT_EQ(got[0].check.command, kPeerVerifyAnswer);
  VerifyRequest v;
  const std::vector<uint8_t> request = verify_request_body(fid.data(), 7, 16, 2048, 4096);
  parse_verify_request(request.data(), request.size(), v);
  const std::vector<uint8_t> data = bytes(2048, 4096);
  EXPECT_EQ(std::vector<uint8_t>(got[0].check.body(), got[0].check.body() + got[0].check.body_length()),
            verify_answer_body(v, data.data(), data.size()));

  SwapVersion mine;
  std::memcpy(mine.file_hash, fid.data(), 16);
  mine.user_id = 8080;
  mine.build = 7;
  std::strcpy(mine.program, "tester.exe");
  peer.send(swap_version_body(kPeerSwapVersion, mine), loop.udp_port(), false);
  got = peer.receive(1, 3000);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].check.command, kPeerSwapVersionAnswer);
  upload_user_info u;
  ASSERT_TRUE(get_upload_user_manager()->find(fid.data(), 8080, &u));
  EXPECT_EQ(std::string(u.version_text), "tester.exe");

  peer.send(have_map_body(kPeerHaveMap, fid.data(), 0, 1024, 8, {{0, 3}}), loop.udp_port(), false);
  got = peer.receive(1, 3000);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].check.command, kPeerHaveMapAnswer);
  HaveMap ours;
  ASSERT_EQ(parse_have_map(got[0].check.body(), got[0].check.body_length(), ours), PeerError::kNone);
  EXPECT_EQ(have_map_bytes(ours), file_blocks(content.size()) * 1024);

  // The peer that was never introduced gets nothing.
  udp_end stranger;
  const uint32_t one = 0;
  stranger.send(get_file_data_body(fid.data(), 9999, 0x11, 0, &one, 1), loop.udp_port(), false);
  EXPECT_TRUE(stranger.receive(1, 500).empty());
}
