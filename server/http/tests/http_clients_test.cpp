// The lookup and p2s clients against a scripted raw-TCP server on loopback:
// the exact request bytes, every kind of broken response, the deadline and
// the cancel event, the request loop's retry rules, and the settings file.
#include <gtest/gtest.h>

#include <windows.h>
#include <winsock2.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/util/net_address.h"
#include "foundation/util/tcp_socket.h"
#include "server/http/maps_client.h"
#include "server/http/p2s_client.h"

namespace {

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);
const std::string kFid = "00112233445566778899AABBCCDDEEFF";
const std::string kQid(40, 'A');
const std::string kCid(40, 'C');

std::string Http(const std::string& body, const std::string& extraHead = "") {
  return "HTTP/1.1 200 OK\r\n" + extraHead + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Accepts connections one after another; each reads a whole request and
// then runs the script with the connection and what it read.
class ScriptedServer {
 public:
  using Script = std::function<void(CTcpSocket&, const std::string& request)>;
  explicit ScriptedServer(Script script) : script_(std::move(script)) {
    listener_.Create();
    listener_.Bind(kLoopback, 0);
    listener_.Listen(16);
    port_ = uint16_t(listener_.LocalPort());
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    thread_.join();
  }
  uint16_t Port() const { return port_; }
  P2sServer Address() const { return P2sServer{"127.0.0.1", port_}; }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> g(lock_);
    return requests_;
  }

 private:
  void Serve() {
    while (!stop_) {
      CTcpSocket c;
      if (listener_.AcceptTimeout(50, &c) != 0) continue;
      std::string request;
      char buf[4096];
      size_t need = std::string::npos;
      while (!stop_ && (need == std::string::npos || request.size() < need)) {
        const int n = c.Recv(100, buf, sizeof buf);
        if (n == kSocketTimeout) continue;
        if (n <= 0) break;
        request.append(buf, size_t(n));
        const size_t end = request.find("\r\n\r\n");
        if (end != std::string::npos && need == std::string::npos) {
          const size_t at = request.find("Content-Length: ");
          need = end + 4 + (at == std::string::npos ? 0 : std::stoul(request.substr(at + 16)));
        }
      }
      {
        std::lock_guard<std::mutex> g(lock_);
        requests_.push_back(request);
      }
      script_(c, request);
    }
  }

  Script script_;
  CTcpSocket listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex lock_;
  std::vector<std::string> requests_;
};

ScriptedServer::Script Answer(const std::string& bytes) {
  return [bytes](CTcpSocket& c, const std::string&) { c.SendAll(2000, bytes.data(), int(bytes.size())); Sleep(100); };
}

class Winsock : public testing::Test {
 protected:
  void SetUp() override {
    WSADATA d;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &d), 0);
    cancel_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  void TearDown() override {
    CloseHandle(cancel_);
    WSACleanup();
  }
  HANDLE cancel_ = nullptr;
};

uint16_t ClosedPort() {
  CTcpSocket probe;
  probe.Create();
  probe.Bind(kLoopback, 0);
  return uint16_t(probe.LocalPort());
}

std::string P2sReply(std::initializer_list<uint8_t> body) {
  const serial::Bytes b(body);
  const serial::Bytes packet = p2s::BuildPacket(b.data(), b.size());
  return Http(std::string(packet.begin(), packet.end()));
}

}  // namespace

TEST_F(Winsock, LookupRequestBytesAndReply) {
  ScriptedServer server(Answer(Http("fid=" + kFid + "|qid=" + kQid + "|cid=" + kCid + "|size=70000000|")));
  CMapsClient client(server.Address());
  ASSERT_EQ(client.QueryByFid(kFid), 0);
  EXPECT_EQ(client.Execute(cancel_, 3000, 3000), 1);
  EXPECT_EQ(client.Result(), 0);
  EXPECT_EQ(client.Fid(), kFid);
  EXPECT_EQ(client.Qid(), kQid);
  EXPECT_EQ(client.Cid(), kCid);
  EXPECT_EQ(client.Size(), 70000000u);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0], "GET /summary_query?key=fid&fid=" + kFid +
                                      " HTTP/1.1\r\nContent-Length: 0\r\nConnection: Keep-Alive\r\n\r\n");

  client.AddCommitEntry(kFid, kQid, kCid, 5);
  client.AddCommitEntry("F2", "Q2", "C2", 6);
  ASSERT_EQ(client.Commit(), 0);
  EXPECT_EQ(client.Execute(cancel_, 3000, 3000), 1);
  EXPECT_EQ(client.Result(), 0) << "the same client object runs a second exchange";
  const std::string body = "content=fid:" + kFid + "|qid:" + kQid + "|cid:" + kCid + "|size:5\nfid:F2|qid:Q2|cid:C2|size:6\n";
  EXPECT_EQ(server.Requests().back(), "GET /summary_commit? HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
                                          "\r\nConnection: Keep-Alive\r\n\r\n" + body);
}

TEST_F(Winsock, BrokenResponsesGiveTheirCodes) {
  const std::string longHead = "HTTP/1.1 200 OK\r\nX: " + std::string(3000, 'x') + "\r\nContent-Length: 1\r\n\r\nA";
  struct Row {
    const char* name;
    ScriptedServer::Script script;
    int code;
    std::string qid = "";
  } rows[] = {
      {"404 with a body goes to the hook", Answer("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found"), 0},
      {"a stray line break after the body is ignored", Answer(Http("qid=" + kQid + "|") + "\r\n"), 0, kQid},
      {"bytes after the body are ignored", Answer(Http("qid=" + kQid + "|") + "extra"), 0, kQid},
      {"bytes past a 1024-byte read are ignored", Answer(Http("qid=" + kQid + "|" + std::string(1024, 'z')) + "more"),
       0, kQid},
      {"no Content-Length", Answer("HTTP/1.1 200 OK\r\n\r\nqid=" + kQid + "|"), kHttpMalformed},
      {"Content-Length 0", Answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"), kHttpMalformed},
      {"Content-Length above the limit", Answer("HTTP/1.1 200 OK\r\nContent-Length: 5242881\r\n\r\nx"), kHttpMalformed},
      {"Content-Length not a number", Answer("HTTP/1.1 200 OK\r\nContent-Length: 5x\r\n\r\nhello"), kHttpMalformed},
      {"head over its limit", Answer(longHead), kHttpMalformed},
      {"closed before the whole body", Answer("HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nshort"), kHttpIncomplete},
      {"closed before any byte", [](CTcpSocket&, const std::string&) {}, kHttpIncomplete},
  };
  for (Row& r : rows) {
    SCOPED_TRACE(r.name);
    ScriptedServer server(r.script);
    CMapsClient client(server.Address());
    ASSERT_EQ(client.QueryByFid(kFid), 0);
    client.Execute(cancel_, 3000, 3000);
    EXPECT_EQ(client.Result(), r.code);
    EXPECT_EQ(client.Qid(), r.qid);
  }
}

TEST_F(Winsock, DeadlineAndCancelBoundAnExchange) {
  // A server that drips one byte every 200 ms never trips the per-read
  // time-out; the exchange's deadline or the cancel event ends it.
  std::atomic<bool> done{false};
  auto drip = [&done](CTcpSocket& c, const std::string&) {
    const std::string bytes = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(100, 'd');
    for (char ch : bytes) {
      if (done || c.SendAll(1000, &ch, 1) != 1) return;
      Sleep(200);
    }
  };
  auto silent = [&done](CTcpSocket&, const std::string&) {
    while (!done) Sleep(20);
  };
  struct Row {
    const char* name;
    ScriptedServer::Script script;
    DWORD timeoutMs, deadlineMs, cancelAfterMs;
    DWORD atLeast, below;
  } rows[] = {
      {"drip: deadline", drip, 1000, 1500, 0, 1300, 3000},
      {"drip: cancel", drip, 1000, 30000, 400, 300, 1500},
      {"never answers: time-out", silent, 700, 30000, 0, 600, 2000},
      {"never answers: cancel", silent, 30000, 30000, 300, 200, 1500},
  };
  for (Row& r : rows) {
    SCOPED_TRACE(r.name);
    done = false;
    ResetEvent(cancel_);
    ScriptedServer server(r.script);
    CMapsClient client(server.Address());
    ASSERT_EQ(client.QueryByFid(kFid), 0);
    std::thread canceller([&] {
      if (r.cancelAfterMs) {
        Sleep(r.cancelAfterMs);
        SetEvent(cancel_);
      }
    });
    const DWORD start = GetTickCount();
    const int notCancelled = client.Execute(cancel_, r.timeoutMs, r.deadlineMs);
    const DWORD took = GetTickCount() - start;
    canceller.join();
    done = true;
    EXPECT_EQ(client.Result(), kHttpIncomplete);
    EXPECT_EQ(notCancelled, r.cancelAfterMs ? 0 : 1);
    EXPECT_GE(took, r.atLeast);
    EXPECT_LT(took, r.below);
  }
}

TEST_F(Winsock, NoConnection) {
  struct Row {
    const char* name;
    P2sServer server;
  } rows[] = {
      {"closed port", P2sServer{"127.0.0.1", ClosedPort()}},
      {"host that does not resolve", P2sServer{"no-such-host.invalid", 80}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    CMapsClient client(r.server);
    ASSERT_EQ(client.QueryByFid(kFid), 0);
    client.Execute(cancel_, 2000, 2000);
    EXPECT_EQ(client.Result(), kHttpNoConnection);
  }
  CMapsClient noHost(P2sServer{"", 80});
  EXPECT_EQ(noHost.QueryByFid(kFid), kHttpEmptyUrl);
  noHost.Execute(cancel_, 1000, 1000);
  EXPECT_EQ(noHost.Result(), kHttpEmptyUrl);
  SetEvent(cancel_);
  CMapsClient cancelled(P2sServer{"127.0.0.1", ClosedPort()});
  ASSERT_EQ(cancelled.QueryByFid(kFid), 0);
  EXPECT_EQ(cancelled.Execute(cancel_, 1000, 1000), 0);
  EXPECT_EQ(cancelled.Result(), kHttpNoConnection);
  EXPECT_EQ(CP2SSocket::ConnectingNow(), 0);
}

TEST_F(Winsock, ReportRequestLoop) {
  serial::Bytes damaged = p2s::BuildPacket(reinterpret_cast<const uint8_t*>("\x01\0\0\0\0"), 5);
  damaged[46] ^= 0x10;
  struct Row {
    const char* name;
    std::string reply;
    int returned, attempts, code;
  } rows[] = {
      {"status 1", P2sReply({1, 0, 0, 0, 0}), 1, 1, 0},
      {"status 2 stops", P2sReply({2}), 0, 1, kP2sRefused},
      {"status 6 stops", P2sReply({6}), 0, 1, kP2sRefusedInfo},
      {"status 9 retries", P2sReply({9}), 0, 3, kHttpBadReply},
      {"broken check value retries", Http(std::string(damaged.begin(), damaged.end())), 0, 3, kHttpBadReply},
      {"no length retries", "HTTP/1.1 200 OK\r\n\r\n", 0, 3, kHttpMalformed},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ScriptedServer server(Answer(r.reply));
    CP2SClient client(server.Address());
    client.SetFileInfo(kFid, serial::Bytes(32, 7), 70000000, 0);
    client.AddUrl(p2s::MakeLinkEntry("ftp://h/a.avi"));
    ASSERT_EQ(client.CommitFileInfo(), 0);
    EXPECT_EQ(client.Request(cancel_, 3000, 3, 10000), r.returned);
    EXPECT_EQ(client.Attempts(), r.attempts);
    EXPECT_EQ(client.Result(), r.code);
    const std::vector<std::string> seen = server.Requests();
    ASSERT_EQ(seen.size(), size_t(r.attempts));
    // What went out decodes to the file's information.
    const size_t head = seen[0].find("\r\n\r\n") + 4;
    EXPECT_EQ(seen[0].substr(0, seen[0].find("\r\n")), "POST /commit?cmd=finfo HTTP/1.1");
    p2s::P2SCommand command;
    const auto* packet = reinterpret_cast<const uint8_t*>(seen[0].data() + head);
    ASSERT_EQ(command.Decode(packet, seen[0].size() - head), seen[0].size() - head);
    ASSERT_EQ(command.Kind(), p2s::kSetValue);
    const auto* info = &static_cast<p2s::P2SSetValue*>(command.Value())->info;
    EXPECT_EQ(info->fid, p2s::BytesOfHex(kFid));
    EXPECT_EQ(info->size, 70000000u);
    EXPECT_EQ(info->pieces, serial::Bytes(32, 7));
    ASSERT_EQ(info->urls.size(), 1u);
    EXPECT_EQ(info->urls[0].i, "ftp://h/a.avi");
  }
  // Unreachable: three exchanges of -2 each.
  CP2SClient client(P2sServer{"127.0.0.1", ClosedPort()});
  ASSERT_EQ(client.CommitFileInfo(), 0);
  EXPECT_EQ(client.Request(cancel_, 1000, 3, 10000), 0);
  EXPECT_EQ(client.Attempts(), 3);
  EXPECT_EQ(client.Result(), kHttpNoConnection);
  // Without a cancel event the loop ends after one exchange.
  EXPECT_EQ(client.Request(nullptr, 1000, 3, 10000), 0);
  EXPECT_EQ(client.Attempts(), 1);
}

TEST_F(Winsock, ReportDeadlineSpansEveryTry) {
  std::atomic<bool> done{false};
  ScriptedServer server([&done](CTcpSocket& c, const std::string&) {
    const char ch = 'H';
    while (!done && c.SendAll(1000, &ch, 1) == 1) Sleep(150);
  });
  CP2SClient client(server.Address());
  ASSERT_EQ(client.CommitFileInfo(), 0);
  const DWORD start = GetTickCount();
  EXPECT_EQ(client.Request(cancel_, 1000, 3, 1200), 0);
  const DWORD took = GetTickCount() - start;
  done = true;
  EXPECT_EQ(client.Attempts(), 1);
  EXPECT_GE(took, 1100u);
  // Three tries of their own 1200 ms each would take 3600 ms; the margin is for a loaded machine.
  EXPECT_LT(took, 3300u);
}

TEST_F(Winsock, EachClientKeepsItsOwnServer) {
  ScriptedServer lookup(Answer(Http("qid=" + kQid + "|cid=" + kCid + "|")));
  ScriptedServer p2s(Answer(P2sReply({1, 0, 0, 0, 0})));
  std::atomic<int> lookups{0}, reports{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i) {
        if (t % 2) {
          CMapsClient c(lookup.Address());
          c.QueryByFid(kFid);
          c.Execute(cancel_, 3000, 3000);
          lookups += c.Result() == 0 && c.Qid() == kQid;
        } else {
          CP2SClient c(p2s.Address());
          c.CommitFileInfo();
          reports += c.Request(cancel_, 3000, 1, 3000);
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(lookups, 10);
  EXPECT_EQ(reports, 10);
  EXPECT_EQ(lookup.Requests().size(), 10u);
  EXPECT_EQ(p2s.Requests().size(), 10u);
}

TEST(P2sSettings, FileOverBuiltInDefaults) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  const std::wstring path = std::wstring(dir) + L"orchard_p2scfg_test.ini";
  struct Row {
    const char* name;
    const char* file;  // null: no file
    std::string host;
    uint16_t port;
  } rows[] = {
      {"no file", nullptr, "built.in", 80},
      {"host and port", "[Serv]\r\nHost=10.0.0.5\r\nPort=8080\r\n[Local]\r\nLogLevel=3\r\n", "10.0.0.5", 8080},
      {"empty host, no port", "[Serv]\r\nHost=\r\n", "built.in", 80},
      {"port 0", "[Serv]\r\nHost=a.b\r\nPort=0\r\n", "a.b", 80},
      {"port out of range", "[Serv]\r\nPort=70000\r\n", "built.in", 80},
      {"negative port", "[Serv]\r\nPort=-5\r\n", "built.in", 80},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    DeleteFileW(path.c_str());
    if (r.file) {
      HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      DWORD wrote = 0;
      WriteFile(f, r.file, DWORD(strlen(r.file)), &wrote, nullptr);
      CloseHandle(f);
    }
    const P2sServer s = LoadP2sServer("built.in", path);
    EXPECT_EQ(s.host, r.host);
    EXPECT_EQ(s.port, r.port);
  }
  DeleteFileW(path.c_str());
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
}

TEST(P2sSettings, ServerUrl) {
  WSADATA d;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &d), 0);
  // The name stays in the URL: the exchange looks it up within its own time.
  EXPECT_EQ(MakeServerUrl(P2sServer{"127.0.0.1", 81}, "commit?cmd=finfo"), "http://127.0.0.1:81/commit?cmd=finfo");
  EXPECT_EQ(MakeServerUrl(P2sServer{"localhost", 80}, "x"), "http://localhost:80/x");
  EXPECT_EQ(MakeServerUrl(P2sServer{"no-such-host.invalid", 80}, "x"), "http://no-such-host.invalid:80/x");
  EXPECT_EQ(MakeServerUrl(P2sServer{"", 80}, "x"), "");
  EXPECT_EQ(MakeServerUrl(P2sServer{"127.0.0.1", 80}, ""), "");
  HANDLE cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(ServerAddress("localhost", 5000, cancel), htonl(INADDR_LOOPBACK));
  EXPECT_EQ(ServerAddress("127.0.0.1", 0, nullptr), htonl(INADDR_LOOPBACK));
  EXPECT_EQ(ServerAddress("no-such-host.invalid", 5000, cancel), 0u);
  SetEvent(cancel);
  EXPECT_EQ(ServerAddress("127.0.0.1", 0, cancel), htonl(INADDR_LOOPBACK)) << "dotted text needs no wait";
  CloseHandle(cancel);
  WSACleanup();
}
