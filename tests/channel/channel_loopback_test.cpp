// The control channel's real server and client over loopback, each also
// faced with a raw peer that sends what the real sessions never would.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/channel/session_log.h"
#include "foundation/channel/socket_ops.h"
#include "foundation/channel/tcp_channel.h"
#include "tests/channel/raw_peer.h"

namespace {

constexpr uint16_t kServerPort = 19101;   // the real server
constexpr uint16_t kPeerPort = 19102;     // a raw server for the real client
constexpr uint16_t kNobodyPort = 19103;   // nothing listens here

std::atomic<int> handlerCalls{0};
std::atomic<bool> handlerRunning{false};

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

uint32_t ReadU32(const uint8_t* p) { return ChannelLoadU32(p); }

// Test handler: empty -> empty; 'E'... -> echo; 'N' u32 n -> n bytes
// i mod 251; 'S' u32 ms -> sleep, then "done"; 'X' -> stop the server from
// inside the handler, then "stopping".
void TestHandler(CByteBuffer* request, CByteBuffer* reply) {
  handlerRunning = true;
  ++handlerCalls;
  const uint8_t* p = request->Data();
  const uint32_t n = request->Length();
  if (n >= 1 && p[0] == 'E') {
    reply->Append(p, n);
  } else if (n >= 5 && p[0] == 'N') {
    std::vector<uint8_t> big(ReadU32(p + 1));
    for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i % 251);
    reply->Append(big.data(), uint32_t(big.size()));
  } else if (n >= 5 && p[0] == 'S') {
    Sleep(ReadU32(p + 1));
    reply->Append("done", 4);
  } else if (n >= 1 && p[0] == 'X') {
    TcpServerStop();
    reply->Append("stopping", 8);
  }
  handlerRunning = false;
}

std::vector<uint8_t> Command(char code, uint32_t arg) {
  std::vector<uint8_t> b = {uint8_t(code)};
  const std::vector<uint8_t> a = U32(arg);
  b.insert(b.end(), a.begin(), a.end());
  return b;
}

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class ChannelEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    StartWinsock();
    // The channel logs land in the current directory; keep them out of bin/.
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring work = std::wstring(dir) + L"orchard_channel_tests";
    CreateDirectoryW(work.c_str(), nullptr);
    SetCurrentDirectoryW(work.c_str());
  }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ChannelEnvironment);

// The real server, started for each test.
class ChannelServer : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(TcpServerStart("127.0.0.1", kServerPort, TestHandler), kChannelOk); }
  void TearDown() override {
    TcpClientClose();
    EXPECT_EQ(TcpServerStop(), 0);
  }
};

// A raw listener standing in for the server, for the real client.
class ChannelClient : public ::testing::Test {
 protected:
  void SetUp() override {
    listener_ = RawListen(kPeerPort);
    ASSERT_NE(listener_, INVALID_SOCKET);
  }
  void TearDown() override {
    TcpClientClose();
    for (SOCKET s : accepted_) closesocket(s);
    closesocket(listener_);
  }
  SOCKET Accept(long ms = 2000) {
    SOCKET s = RawAccept(listener_, ms);
    if (s != INVALID_SOCKET) accepted_.push_back(s);
    return s;
  }
  // Runs TcpClientSendCmd on a thread of its own while the test plays the server.
  std::thread SendAsync(std::vector<uint8_t> body, int* result, CByteBuffer* reply) {
    return std::thread([body, result, reply] {
      CByteBuffer request;
      request.Append(body.data(), uint32_t(body.size()));
      *result = TcpClientSendCmd(&request, reply, 1000);
    });
  }
  SOCKET listener_ = INVALID_SOCKET;
  std::vector<SOCKET> accepted_;
};

}  // namespace

TEST_F(ChannelServer, RoundTrips) {
  ASSERT_EQ(TcpClientConnect("127.0.0.1", kServerPort), kChannelOk);
  struct Row {
    const char* name;
    std::vector<uint8_t> request;
    size_t replyLength;
  };
  const Row rows[] = {
      {"empty request, empty reply", {}, 0},
      {"echo", Bytes("Ehello"), 6},
      {"reply longer than the mask", Command('N', 5000), 5000},
      {"one MiB reply", Command('N', 1 << 20), 1 << 20},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    CByteBuffer request, reply;
    request.Append(r.request.data(), uint32_t(r.request.size()));
    ASSERT_EQ(TcpClientSendCmd(&request, &reply), kChannelOk);
    ASSERT_EQ(reply.Length(), r.replyLength);
    if (r.request.size() > 0 && r.request[0] == 'E') {
      EXPECT_EQ(0, std::memcmp(reply.Data(), r.request.data(), r.replyLength));
    } else {
      for (size_t i = 0; i < r.replyLength; ++i) ASSERT_EQ(reply.Data()[i], uint8_t(i % 251)) << "byte " << i;
    }
    // The caller's request is left scrambled.
    std::vector<uint8_t> scrambled = r.request;
    IpcEncodeBody(scrambled.data(), uint32_t(scrambled.size()));
    ASSERT_EQ(request.Length(), scrambled.size());
    EXPECT_EQ(0, std::memcmp(request.Data(), scrambled.data(), scrambled.size()));
  }
}

TEST_F(ChannelServer, EmptyFrameOnTheWire) {
  SOCKET s = RawConnect(kServerPort);
  ASSERT_NE(s, INVALID_SOCKET);
  const uint8_t emptyFrame[8] = {4, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF};
  ASSERT_TRUE(SendAll(s, emptyFrame, 8));
  SetRecvTimeout(s, 2000);
  uint8_t reply[8];
  ASSERT_TRUE(RecvAll(s, reply, 8));
  EXPECT_EQ(0, std::memcmp(reply, emptyFrame, 8));
  closesocket(s);
}

// A spoiled checksum gets no reply, and the same connection is served next time.
TEST_F(ChannelServer, ChecksumMismatchIsDroppedConnectionKept) {
  SOCKET s = RawConnect(kServerPort);
  ASSERT_NE(s, INVALID_SOCKET);
  const int callsBefore = handlerCalls;
  ASSERT_TRUE(SendAll(s, Frame(Bytes("Ebad"), 1).data(), 12));
  EXPECT_FALSE(RecvFrame(s, 500).has_value());
  EXPECT_EQ(handlerCalls, callsBefore);
  const std::vector<uint8_t> good = Frame(Bytes("Egood"));
  ASSERT_TRUE(SendAll(s, good.data(), good.size()));
  auto reply = RecvFrame(s, 2000);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(*reply, Bytes("Egood"));
  closesocket(s);
}

// Totals that leave no room for the checksum or exceed the bound close the
// connection without allocating; other clients are still served.
TEST_F(ChannelServer, BadTotalClosesConnection) {
  struct Row {
    const char* name;
    uint32_t total;
  };
  static const Row rows[] = {
      {"zero", 0}, {"three", 3}, {"one above the bound", kChannelMaxTotal + 1}, {"all ones", 0xFFFFFFFFu}};
  SOCKET bystander = RawConnect(kServerPort);
  ASSERT_NE(bystander, INVALID_SOCKET);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    SOCKET s = RawConnect(kServerPort);
    ASSERT_NE(s, INVALID_SOCKET);
    const std::vector<uint8_t> total = U32(r.total);
    std::vector<uint8_t> bytes = total;
    bytes.resize(16, 0xAA);  // a few bytes of "checksum and body"
    ASSERT_TRUE(SendAll(s, bytes.data(), bytes.size()));
    EXPECT_TRUE(PeerClosed(s, 3000));
    closesocket(s);

    const std::vector<uint8_t> ping = Frame(Bytes("Eping"));
    ASSERT_TRUE(SendAll(bystander, ping.data(), ping.size()));
    auto reply = RecvFrame(bystander, 2000);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(*reply, Bytes("Eping"));
  }
  closesocket(bystander);
}

TEST_F(ChannelServer, FrameArrivingInPieces) {
  SOCKET s = RawConnect(kServerPort);
  ASSERT_NE(s, INVALID_SOCKET);
  const std::vector<uint8_t> frame = Frame(Bytes("Epieces"));
  const size_t cuts[] = {0, 2, 4, 6, 9, frame.size()};
  for (size_t i = 0; i + 1 < sizeof cuts / sizeof cuts[0]; ++i) {
    ASSERT_TRUE(SendAll(s, frame.data() + cuts[i], cuts[i + 1] - cuts[i]));
    Sleep(100);
  }
  auto reply = RecvFrame(s, 2000);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(*reply, Bytes("Epieces"));
  closesocket(s);
}

// A frame whose second piece comes while the server is finishing it leaves
// a readiness report behind with nothing to read. The server passes over it:
// it neither waits on the idle client (stalling every other one) nor takes
// the silence for a broken connection.
TEST_F(ChannelServer, ReportWithNothingToReadIsPassedOver) {
  SOCKET idle = RawConnect(kServerPort);
  ASSERT_NE(idle, INVALID_SOCKET);
  const std::vector<uint8_t> frame = Frame(Bytes("Etwo pieces"));
  ASSERT_TRUE(SendAll(idle, frame.data(), 10));
  Sleep(100);
  ASSERT_TRUE(SendAll(idle, frame.data() + 10, frame.size() - 10));
  ASSERT_TRUE(RecvFrame(idle, 2000).has_value());

  SOCKET other = RawConnect(kServerPort);
  ASSERT_NE(other, INVALID_SOCKET);
  const std::vector<uint8_t> ping = Frame(Bytes("Eping"));
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(testing::Message() << "exchange " << i << " of another client");
    ASSERT_TRUE(SendAll(other, ping.data(), ping.size()));
    ASSERT_TRUE(RecvFrame(other, 2000).has_value());
    Sleep(800);
  }
  // Past the 3000 ms step deadline: the idle client is still served, not
  // closed as if its silence were a broken frame.
  ASSERT_TRUE(SendAll(idle, ping.data(), ping.size()));
  EXPECT_TRUE(RecvFrame(idle, 2000).has_value());
  closesocket(other);
  closesocket(idle);
}

// A client that sends its next frames without waiting for the reply gets
// every reply in order, wherever the pieces it sends end.
TEST_F(ChannelServer, FramesSentWithoutWaiting) {
  const std::vector<uint8_t> frames[] = {Frame(Bytes("Eone")), Frame({}), Frame(Bytes("Ethree")),
                                         Frame(Command('N', 70))};
  std::vector<uint8_t> stream;
  for (const auto& f : frames) stream.insert(stream.end(), f.begin(), f.end());
  const size_t first = frames[0].size();
  struct Row {
    const char* name;
    std::vector<size_t> cuts;  // the stream is sent in pieces ending here
  };
  const Row rows[] = {
      {"all at once", {stream.size()}},
      {"the second frame cut inside its total", {first + 2, stream.size()}},
      {"the second frame cut inside its checksum", {first + 6, stream.size()}},
      {"the third frame cut inside its body", {first + 8 + 8 + 3, stream.size()}},
      {"the last frame cut inside its checksum", {first + 8 + 14 + 6, stream.size()}},
      {"every frame cut", {first - 1, first + 3, first + 8 + 5, stream.size() - 1, stream.size()}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    SOCKET s = RawConnect(kServerPort);
    ASSERT_NE(s, INVALID_SOCKET);
    size_t from = 0;
    for (size_t cut : r.cuts) {
      ASSERT_TRUE(SendAll(s, stream.data() + from, cut - from));
      from = cut;
      Sleep(150);
    }
    const std::vector<uint8_t> expected[] = {Bytes("Eone"), {}, Bytes("Ethree")};
    for (const auto& e : expected) {
      auto reply = RecvFrame(s, 2000);
      ASSERT_TRUE(reply.has_value());
      EXPECT_EQ(*reply, e);
    }
    auto big = RecvFrame(s, 2000);
    ASSERT_TRUE(big.has_value());
    ASSERT_EQ(big->size(), 70u);
    for (size_t i = 0; i < big->size(); ++i) ASSERT_EQ((*big)[i], uint8_t(i % 251)) << "byte " << i;
    closesocket(s);
  }
}

// Clients that stop inside a frame, send a total above any request or stop
// reading a large reply hold nobody else: every exchange of a client that
// keeps to the protocol is answered at once, while each of the others is
// closed when its own step runs out of time (or at once, for the total).
TEST_F(ChannelServer, StalledClientsHoldNobodyElse) {
  std::vector<SOCKET> stalled;
  const std::vector<uint8_t> frame = Frame(Bytes("Estalled in the middle"));
  const size_t cuts[] = {2, 6, 12};  // inside the total, the checksum, the body
  for (size_t cut : cuts) {
    SOCKET s = RawConnect(kServerPort);
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_TRUE(SendAll(s, frame.data(), cut));
    stalled.push_back(s);
  }
  // A reply far larger than the socket buffers, to a client that never reads.
  SOCKET deaf = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const int small = 8 * 1024;
  setsockopt(deaf, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&small), sizeof small);
  sockaddr_in sa = Loopback(kServerPort);
  ASSERT_EQ(connect(deaf, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  const std::vector<uint8_t> big = Frame(Command('N', 16u << 20));
  ASSERT_TRUE(SendAll(deaf, big.data(), big.size()));
  // The handler that builds the reply holds everyone while it runs, as any
  // handler does; the exchanges below begin once the reply is going out.
  u_long arrived = 0;
  for (int i = 0; i < 1000 && arrived == 0; ++i) {
    Sleep(10);
    ioctlsocket(deaf, FIONREAD, &arrived);
  }
  ASSERT_GT(arrived, 0u) << "the reply never began";
  // A total above the largest request is refused without waiting for its bytes.
  SOCKET greedy = RawConnect(kServerPort);
  ASSERT_NE(greedy, INVALID_SOCKET);
  const std::vector<uint8_t> greedyTotal = U32(kChannelMaxRequestTotal + 1);
  ASSERT_TRUE(SendAll(greedy, greedyTotal.data(), greedyTotal.size()));

  SOCKET polite = RawConnect(kServerPort);
  ASSERT_NE(polite, INVALID_SOCKET);
  const std::vector<uint8_t> ping = Frame(Bytes("Eping"));
  const ULONGLONG start = GetTickCount64();
  ULONGLONG slowest = 0;
  for (int i = 0; GetTickCount64() - start < 2000; ++i) {
    SCOPED_TRACE(testing::Message() << "exchange " << i << " of the client that keeps to the protocol");
    const ULONGLONG sent = GetTickCount64();
    ASSERT_TRUE(SendAll(polite, ping.data(), ping.size()));
    auto reply = RecvFrame(polite, 2500);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(*reply, Bytes("Eping"));
    slowest = std::max(slowest, GetTickCount64() - sent);
    Sleep(20);
  }
  // Far below the 3000 ms that any one of the others could hold it for.
  EXPECT_LT(slowest, 1000u) << "the slowest exchange took " << slowest << " ms";
  EXPECT_TRUE(PeerClosed(greedy, 100));
  // The others are closed once their own step has run 3000 ms.
  for (SOCKET s : stalled) EXPECT_TRUE(PeerClosed(s, 2500));
  // Past its body step's deadline: what reached its socket ends in the close.
  SetRecvTimeout(deaf, 1000);
  std::vector<char> sink(1 << 20);
  int got = 0;
  while ((got = recv(deaf, sink.data(), int(sink.size()), 0)) > 0) {
  }
  EXPECT_TRUE(got == 0 || WSAGetLastError() != WSAETIMEDOUT) << "the client that stopped reading is still open";
  // The server is as it was for the client that stayed.
  ASSERT_TRUE(SendAll(polite, ping.data(), ping.size()));
  EXPECT_TRUE(RecvFrame(polite, 1000).has_value());
  for (SOCKET s : stalled) closesocket(s);
  closesocket(deaf);
  closesocket(greedy);
  closesocket(polite);
}

// The largest request the server takes is answered; one byte more closes the
// connection before any of its bytes come.
TEST_F(ChannelServer, RequestBound) {
  struct Row {
    const char* name;
    uint32_t total;
    bool answered;
  };
  static const Row rows[] = {{"the largest request", kChannelMaxRequestTotal, true},
                             {"one byte more", kChannelMaxRequestTotal + 1, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    SOCKET s = RawConnect(kServerPort);
    ASSERT_NE(s, INVALID_SOCKET);
    std::vector<uint8_t> body(r.total - 4, 'x');
    body[0] = 'E';
    const std::vector<uint8_t> frame = Frame(body);
    if (r.answered) {
      ASSERT_TRUE(SendAll(s, frame.data(), frame.size()));
      auto reply = RecvFrame(s, 2000);
      ASSERT_TRUE(reply.has_value());
      EXPECT_EQ(*reply, body);
    } else {
      ASSERT_TRUE(SendAll(s, frame.data(), kChannelTotalSize));
      EXPECT_TRUE(PeerClosed(s, 1000));
    }
    closesocket(s);
  }
}

// The 51st client makes the next pass close the client accepted earliest.
TEST_F(ChannelServer, FiftyFirstClientEvictsOldest) {
  SOCKET oldest = RawConnect(kServerPort);
  ASSERT_NE(oldest, INVALID_SOCKET);
  // Make sure the first client is accepted, then let a second go by so its
  // accept time is the only one earlier than the others'.
  std::vector<uint8_t> ping = Frame(Bytes("Eping"));
  ASSERT_TRUE(SendAll(oldest, ping.data(), ping.size()));
  ASSERT_TRUE(RecvFrame(oldest, 2000).has_value());
  Sleep(1100);
  std::vector<SOCKET> others;
  for (int i = 0; i < 50; ++i) {
    SOCKET s = RawConnect(kServerPort);
    ASSERT_NE(s, INVALID_SOCKET);
    others.push_back(s);
  }
  EXPECT_TRUE(PeerClosed(oldest, 3000));
  closesocket(oldest);

  fd_set set;
  set.fd_count = 0;
  for (SOCKET s : others) set.fd_array[set.fd_count++] = s;
  timeval tv = {0, 300 * 1000};
  EXPECT_EQ(select(0, &set, nullptr, nullptr, &tv), 0) << "another client was closed too";
  ASSERT_TRUE(SendAll(others.back(), ping.data(), ping.size()));
  EXPECT_TRUE(RecvFrame(others.back(), 2000).has_value());
  for (SOCKET s : others) closesocket(s);
}

// Stop returns only after the request in progress is finished, and then
// the port no longer accepts connections.
TEST_F(ChannelServer, StopWaitsForTheSchedulerThread) {
  SOCKET s = RawConnect(kServerPort);
  ASSERT_NE(s, INVALID_SOCKET);
  const std::vector<uint8_t> slow = Frame(Command('S', 800));
  ASSERT_TRUE(SendAll(s, slow.data(), slow.size()));
  for (int i = 0; i < 200 && !handlerRunning; ++i) Sleep(10);
  ASSERT_TRUE(handlerRunning);
  EXPECT_EQ(TcpServerStop(), 0);
  EXPECT_FALSE(handlerRunning);
  // The reply was sent before the thread ended.
  auto reply = RecvFrame(s, 1000);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(*reply, Bytes("done"));
  closesocket(s);
  EXPECT_EQ(RawConnect(kServerPort), INVALID_SOCKET);
  // The fixture's TearDown stops again: a second stop is harmless.
}

// A stop from inside the handler cannot wait for its own thread: it returns
// at once, the reply still goes out, and the port is released.
TEST_F(ChannelServer, StopFromTheHandler) {
  SOCKET s = RawConnect(kServerPort);
  ASSERT_NE(s, INVALID_SOCKET);
  const std::vector<uint8_t> stop = Frame(Bytes("X"));
  ASSERT_TRUE(SendAll(s, stop.data(), stop.size()));
  auto reply = RecvFrame(s, 2000);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(*reply, Bytes("stopping"));
  EXPECT_TRUE(PeerClosed(s, 2000));
  closesocket(s);
  for (int i = 0; i < 100 && TcpServerStart("127.0.0.1", kServerPort, TestHandler) != kChannelOk; ++i) Sleep(20);
  SOCKET again = RawConnect(kServerPort);
  ASSERT_NE(again, INVALID_SOCKET) << "the server did not start again";
  closesocket(again);
}

TEST_F(ChannelServer, StartTwiceIsRefused) {
  EXPECT_EQ(TcpServerStart("127.0.0.1", kServerPort, TestHandler), kChannelStartSocketFailed);
}

TEST(ChannelServerStart, BadAddressFailsWithSocketError) {
  EXPECT_EQ(TcpServerStart("not an address", kServerPort, TestHandler), kChannelStartSocketFailed);
  EXPECT_EQ(TcpServerStop(), 0);
}

TEST(ChannelConnect, RefusedConnectFailsAtOnce) {
  StartWinsock();
  // -3 (connect failed) rather than -1 (the 500 ms wait ran out).
  EXPECT_EQ(TcpConnectTimeout(inet_addr("127.0.0.1"), kNobodyPort), -3);
  EXPECT_EQ(TcpClientConnect("127.0.0.1", kNobodyPort), kChannelNotConnected);
  CByteBuffer request, reply;
  EXPECT_EQ(TcpClientSendCmd(&request, &reply), kChannelNotConnected);
}

TEST_F(ChannelClient, ReconnectClosesTheOldSocket) {
  ASSERT_EQ(TcpClientConnect("127.0.0.1", kPeerPort), kChannelOk);
  SOCKET first = Accept();
  ASSERT_NE(first, INVALID_SOCKET);
  ASSERT_EQ(TcpClientConnect("127.0.0.1", kPeerPort), kChannelOk);
  SOCKET second = Accept();
  ASSERT_NE(second, INVALID_SOCKET);
  EXPECT_TRUE(PeerClosed(first, 2000));
  EXPECT_FALSE(PeerClosed(second, 200));
}

TEST_F(ChannelClient, CloseThenSendReconnects) {
  ASSERT_EQ(TcpClientConnect("127.0.0.1", kPeerPort), kChannelOk);
  SOCKET first = Accept();
  ASSERT_NE(first, INVALID_SOCKET);
  EXPECT_EQ(TcpClientClose(), 1);
  EXPECT_TRUE(PeerClosed(first, 2000));

  int result = -1;
  CByteBuffer reply;
  std::thread t = SendAsync(Bytes("Ehi"), &result, &reply);
  SOCKET second = Accept();
  ASSERT_NE(second, INVALID_SOCKET);
  auto request = RecvFrame(second, 2000);
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(*request, Bytes("Ehi"));
  const std::vector<uint8_t> answer = Frame(Bytes("ok"));
  ASSERT_TRUE(SendAll(second, answer.data(), answer.size()));
  t.join();
  EXPECT_EQ(result, kChannelOk);
  ASSERT_EQ(reply.Length(), 2u);
  EXPECT_EQ(0, std::memcmp(reply.Data(), "ok", 2));
}

// A server that never answers: the client waits out its deadline, gets 2 and
// reconnects on its next command.
TEST_F(ChannelClient, NoReplyIsSocketErrorThenReconnect) {
  ASSERT_EQ(TcpClientConnect("127.0.0.1", kPeerPort), kChannelOk);
  SOCKET first = Accept();
  ASSERT_NE(first, INVALID_SOCKET);
  int result = -1;
  CByteBuffer reply;
  std::thread t = SendAsync(Bytes("Ex"), &result, &reply);
  ASSERT_TRUE(RecvFrame(first, 2000).has_value());
  t.join();
  EXPECT_EQ(result, kChannelSocketError);
  EXPECT_TRUE(PeerClosed(first, 1000));

  std::thread again = SendAsync(Bytes("Ey"), &result, &reply);
  SOCKET second = Accept();
  ASSERT_NE(second, INVALID_SOCKET);
  ASSERT_TRUE(RecvFrame(second, 2000).has_value());
  const std::vector<uint8_t> answer = Frame({});
  ASSERT_TRUE(SendAll(second, answer.data(), answer.size()));
  again.join();
  EXPECT_EQ(result, kChannelOk);
  EXPECT_EQ(reply.Length(), 0u);
}

// What the client does with each kind of broken reply, and whether it keeps
// the connection for the next command.
TEST_F(ChannelClient, BrokenReplies) {
  struct Row {
    const char* name;
    std::vector<uint8_t> reply;
    int result;
    bool connectionKept;
  };
  std::vector<uint8_t> hugeTotal = U32(kChannelMaxTotal + 1);
  hugeTotal.resize(12, 0);
  std::vector<uint8_t> shortTotal = U32(3);
  shortTotal.resize(8, 0);
  std::vector<uint8_t> cutShort = Frame(Bytes("abcdef"));
  cutShort.resize(cutShort.size() - 3);
  const Row rows[] = {
      {"checksum mismatch", Frame(Bytes("xyz"), 1), kChannelChecksumMismatch, true},
      {"total above the bound", hugeTotal, kChannelSocketError, false},
      {"total without room for the checksum", shortTotal, kChannelSocketError, false},
      {"body cut short", cutShort, kChannelSocketError, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_EQ(TcpClientConnect("127.0.0.1", kPeerPort), kChannelOk);
    SOCKET peer = Accept();
    ASSERT_NE(peer, INVALID_SOCKET);
    int result = -1;
    CByteBuffer reply;
    reply.Append("keep", 4);
    std::thread t = SendAsync(Bytes("Eq"), &result, &reply);
    ASSERT_TRUE(RecvFrame(peer, 2000).has_value());
    ASSERT_TRUE(SendAll(peer, r.reply.data(), r.reply.size()));
    t.join();
    EXPECT_EQ(result, r.result);
    // Nothing is added to the caller's reply on a failure.
    ASSERT_EQ(reply.Length(), 4u);
    EXPECT_EQ(0, std::memcmp(reply.Data(), "keep", 4));
    EXPECT_EQ(PeerClosed(peer, 300), !r.connectionKept);
  }
}

// A large reply that comes in pieces, cut inside the header, around the
// first receive's read-ahead and the runs it is checked in, arrives whole; one
// spoiled byte late in it is caught, and nothing is added to the reply.
TEST_F(ChannelClient, LargeReplyInPieces) {
  std::vector<uint8_t> plain(200000);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 7 + 1);
  struct Row {
    const char* name;
    size_t spoilAt;  // body byte to change on the wire, or SIZE_MAX
    int result;
  };
  static const Row rows[] = {{"as sent", SIZE_MAX, kChannelOk},
                             {"a byte spoiled near the end", 150000, kChannelChecksumMismatch}};
  static const size_t kCuts[] = {3, 6, 100, 4104, 4105, 70000, 140000};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_EQ(TcpClientConnect("127.0.0.1", kPeerPort), kChannelOk);
    SOCKET peer = Accept();
    ASSERT_NE(peer, INVALID_SOCKET);
    std::vector<uint8_t> frame = Frame(plain);
    if (r.spoilAt != SIZE_MAX) frame[kChannelHeaderSize + r.spoilAt] ^= 0x10;
    int result = -1;
    CByteBuffer reply;
    reply.Append("ab", 2);
    std::thread t = SendAsync(Bytes("Ebig"), &result, &reply);
    ASSERT_TRUE(RecvFrame(peer, 2000).has_value());
    size_t from = 0;
    for (size_t cut : kCuts) {
      ASSERT_TRUE(SendAll(peer, frame.data() + from, cut - from));
      from = cut;
      Sleep(30);
    }
    ASSERT_TRUE(SendAll(peer, frame.data() + from, frame.size() - from));
    t.join();
    EXPECT_EQ(result, r.result);
    if (r.result == kChannelOk) {
      ASSERT_EQ(reply.Length(), 2 + plain.size());
      EXPECT_EQ(0, std::memcmp(reply.Data() + 2, plain.data(), plain.size()));
    } else {
      EXPECT_EQ(reply.Length(), 2u);
    }
    EXPECT_EQ(0, std::memcmp(reply.Data(), "ab", 2));
  }
}

TEST_F(ChannelClient, ReplyIsAppended) {
  ASSERT_EQ(TcpClientConnect("127.0.0.1", kPeerPort), kChannelOk);
  SOCKET peer = Accept();
  ASSERT_NE(peer, INVALID_SOCKET);
  int result = -1;
  CByteBuffer reply;
  reply.Append("ab", 2);
  std::thread t = SendAsync({}, &result, &reply);
  auto request = RecvFrame(peer, 2000);
  ASSERT_TRUE(request.has_value());
  EXPECT_TRUE(request->empty());
  const std::vector<uint8_t> answer = Frame(Bytes("cd"));
  ASSERT_TRUE(SendAll(peer, answer.data(), answer.size()));
  t.join();
  EXPECT_EQ(result, kChannelOk);
  ASSERT_EQ(reply.Length(), 4u);
  EXPECT_EQ(0, std::memcmp(reply.Data(), "abcd", 4));
}

TEST_F(ChannelClient, SecondConnectTruncatesClientLog) {
  ASSERT_EQ(TcpClientConnect("127.0.0.1", kPeerPort), kChannelOk);
  CHANNEL_LOG("marker before the second connect");
  EXPECT_NE(ReadFile("tcpclient.log").find("marker before"), std::string::npos);
  ASSERT_EQ(TcpClientConnect("127.0.0.1", kPeerPort), kChannelOk);
  const std::string log = ReadFile("tcpclient.log");
  EXPECT_EQ(log.find("marker before"), std::string::npos);
  EXPECT_NE(log.find("CTcpClientSession::connect_server Connect to Server OK"), std::string::npos);
}

TEST(SessionLog, EntryLayoutAndLongMessages) {
  CSessionLog& log = CSessionLog::Instance();
  ASSERT_TRUE(log.Open(L"session_log_test.log"));
  log.SetThreshold(2);
  EXPECT_EQ(log.Write(1, "below the threshold"), 0);
  EXPECT_EQ(log.Write(2, "value %d", 42), 1);
  const std::string longText(3000, 'x');
  EXPECT_EQ(log.Write(2, "%s", longText.c_str()), 1);
  log.Close();
  EXPECT_EQ(log.Write(3, "closed"), 0);

  const std::string text = ReadFile("session_log_test.log");
  // "\r\n[YYYY-MM-DD hh:mm:ss:mmm] value 42", then the long entry cut at 1024 bytes.
  const std::string first = "] value 42";
  ASSERT_GE(text.size(), 2u + 24 + first.size());
  EXPECT_EQ(text.substr(0, 3), "\r\n[");
  EXPECT_EQ(text.substr(2 + 24, first.size()), first);
  EXPECT_EQ(text.find("below"), std::string::npos);
  const size_t second = text.find("\r\n[", 2);
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(text.size() - second, size_t(CSessionLog::kMaxEntry));
}

// A channel socket (TcpConnectTimeout) connected to a raw peer accepted on listener.
bool ConnectToPeer(SOCKET listener, intptr_t* subject, SOCKET* peer) {
  *subject = TcpConnectTimeout(inet_addr("127.0.0.1"), kPeerPort);
  if (*subject <= 0) return false;
  *peer = RawAccept(listener, 2000);
  return *peer != INVALID_SOCKET;
}

// The exact-transfer loop against a raw peer: full, none, part then time-out,
// part then close.
TEST(SocketOps, RecvExact) {
  StartWinsock();
  struct Row {
    const char* name;
    size_t peerSends;
    bool peerCloses;
    uint32_t want;
    int32_t ms;
    int64_t expected;
  };
  static const Row rows[] = {
      {"everything arrives", 10, false, 10, 1000, 10},
      {"nothing arrives", 0, false, 10, 150, 0},
      {"part arrives, then the deadline", 4, false, 10, 200, 4},
      {"part arrives, then the peer closes", 4, true, 10, 2000, 4},
      {"nothing wanted", 0, false, 0, 100, 0},
  };
  SOCKET listener = RawListen(kPeerPort);
  ASSERT_NE(listener, INVALID_SOCKET);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    intptr_t subject = -1;
    SOCKET peer = INVALID_SOCKET;
    ASSERT_TRUE(ConnectToPeer(listener, &subject, &peer));
    std::vector<uint8_t> sent(r.peerSends, 0x5A);
    if (!sent.empty()) {
      ASSERT_TRUE(SendAll(peer, sent.data(), sent.size()));
    }
    if (r.peerCloses) closesocket(peer);
    uint8_t buf[16] = {};
    EXPECT_EQ(TcpRecvExact(SOCKET(subject), buf, r.want, r.ms), r.expected);
    if (!r.peerCloses) closesocket(peer);
    closesocket(SOCKET(subject));
  }
  closesocket(listener);
}

// The overlapped first receive of a reply: what it returns for data there at
// once, data arriving later, none, and a peer that closes; after a time-out
// the socket still receives, and a call that completed at once does not
// leave the next one thinking its data has come.
TEST(SocketOps, RecvFirst) {
  StartWinsock();
  struct Row {
    const char* name;
    size_t sentBefore;  // bytes the peer sends before the call
    size_t sentLater;   // bytes the peer sends 100 ms into the call
    bool peerCloses;
    uint32_t upTo;
    int32_t ms;
    int64_t expected;
  };
  static const Row rows[] = {
      {"data there at once", 6, 0, false, 16, 1000, 6},
      {"more there than wanted", 12, 0, false, 8, 1000, 8},
      {"data arrives later", 0, 5, false, 16, 2000, 5},
      {"nothing arrives", 0, 0, false, 16, 150, 0},
      {"the peer closes", 0, 0, true, 16, 2000, 0},
      {"nothing wanted", 4, 0, false, 0, 100, 0},
  };
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  SOCKET listener = RawListen(kPeerPort);
  ASSERT_NE(listener, INVALID_SOCKET);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    intptr_t subject = -1;
    SOCKET peer = INVALID_SOCKET;
    ASSERT_TRUE(ConnectToPeer(listener, &subject, &peer));
    std::vector<uint8_t> before(r.sentBefore), later(r.sentLater);
    for (size_t i = 0; i < before.size(); ++i) before[i] = uint8_t(i + 1);
    for (size_t i = 0; i < later.size(); ++i) later[i] = uint8_t(0x80 + i);
    if (!before.empty()) {
      ASSERT_TRUE(SendAll(peer, before.data(), before.size()));
      Sleep(50);
    }
    if (r.peerCloses) closesocket(peer);
    std::thread sender([&] {
      if (later.empty()) return;
      Sleep(100);
      SendAll(peer, later.data(), later.size());
    });
    uint8_t buf[16] = {};
    const int64_t got = TcpRecvFirst(SOCKET(subject), buf, r.upTo, r.ms, event);
    sender.join();
    EXPECT_EQ(got, r.expected);
    const std::vector<uint8_t>& source = before.empty() ? later : before;
    if (got > 0) {
      EXPECT_EQ(0, std::memcmp(buf, source.data(), size_t(got)));
    }
    if (!r.peerCloses) {
      // The next bytes the peer sends arrive whole, after whatever a call
      // that completed at once, or timed out, left behind.
      const uint8_t next[3] = {0xA1, 0xA2, 0xA3};
      std::thread late([&] {
        Sleep(100);
        SendAll(peer, next, sizeof next);
      });
      std::vector<uint8_t> rest(source.begin() + (got > 0 ? got : 0), source.end());
      rest.insert(rest.end(), next, next + sizeof next);
      std::vector<uint8_t> tail(rest.size());
      uint8_t* at = tail.data();
      if (got == 0 || rest.size() == sizeof next) {
        // Nothing is waiting yet: the receive must wait for the late bytes.
        const int64_t n = TcpRecvFirst(SOCKET(subject), at, uint32_t(tail.size()), 2000, event);
        ASSERT_GT(n, 0);
        at += n;
      }
      const int64_t left = int64_t(tail.data() + tail.size() - at);
      EXPECT_EQ(TcpRecvExact(SOCKET(subject), at, uint32_t(left), 2000), left);
      late.join();
      EXPECT_EQ(tail, rest);
      closesocket(peer);
    }
    closesocket(SOCKET(subject));
  }
  closesocket(listener);
  CloseHandle(event);
}
