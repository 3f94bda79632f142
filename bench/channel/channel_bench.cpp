// Benchmark: control-channel round trips (empty command) and 1 MiB reply
// throughput next to a plain loopback TCP ping-pong of the same sizes, and
// MD5 / SHA-1 throughput next to OpenSSL figures passed in by run.sh.
//   channel_bench [--openssl-md5 MB/s] [--openssl-sha1 MB/s] [--seconds S]
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/channel/tcp_channel.h"
#include "foundation/codec/channel_frame.h"
#include "foundation/codec/md5.h"
#include "foundation/codec/sha1.h"
#include "tests/channel/raw_peer.h"

namespace {

constexpr uint16_t kChannelPort = 19301;
// The reference takes two ports a round from here on, none reused.
constexpr uint16_t kPlainPort = 19302;
// Each figure is the median of this many rounds.
constexpr int kRounds = 5;
constexpr uint32_t kBigReply = 1u << 20;
constexpr size_t kDigestBytes = size_t(256) << 20;

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) / double(f.QuadPart);
}

std::vector<uint8_t> bigReply(kBigReply, 0x5A);

// Empty request -> empty reply; any other request -> 1 MiB.
void Handler(CByteBuffer* request, CByteBuffer* reply) {
  if (request->Length() != 0) reply->Append(bigReply.data(), kBigReply);
}

struct Rate {
  double perSecond;    // exchanges per second
  double mbPerSecond;  // reply payload, 10^6 bytes per second
};

// Runs exchange() untimed for a moment, so first-use costs (allocations,
// the connection's buffers growing) fall outside the figure, then for
// `seconds` timed. replyPayload: the reply bytes each exchange counts.
template <typename Exchange>
Rate Measure(Exchange exchange, uint32_t replyPayload, double seconds) {
  const double warmUp = seconds / 10;
  for (const double until = Now() + warmUp; Now() < until;) exchange();
  long n = 0;
  const double start = Now();
  double elapsed = 0;
  do {
    exchange();
    ++n;
    elapsed = Now() - start;
  } while (elapsed < seconds);
  return {n / elapsed, double(n) * replyPayload / elapsed / 1e6};
}

// One channel command: `body` out, a reply of replyBytes back.
void ChannelExchange(const std::vector<uint8_t>& body, uint32_t replyBytes) {
  CByteBuffer request, reply;
  request.Append(body.data(), uint32_t(body.size()));
  if (TcpClientSendCmd(&request, &reply, 3000) != kChannelOk || reply.Length() != replyBytes) {
    std::fprintf(stderr, "channel exchange failed\n");
    std::exit(1);
  }
}

void NoDelay(SOCKET s) {
  BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

// Plain blocking ping-pong over its own loopback connection: the client
// sends `requestBytes`, the server answers `replyBytes`; the same byte counts
// as the channel's frames, and TCP_NODELAY on both ends as the channel has.
class PlainPeer {
 public:
  PlainPeer(uint16_t port, size_t requestBytes, size_t replyBytes)
      : out_(requestBytes, 1), in_(replyBytes) {
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL on = TRUE;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(listener_, 1) != 0) {
      std::fprintf(stderr, "plain listener failed\n");
      std::exit(1);
    }
    server_ = std::thread([this, requestBytes, replyBytes] {
      SOCKET s = accept(listener_, nullptr, nullptr);
      NoDelay(s);
      std::vector<char> in(requestBytes), out(replyBytes, 0x5A);
      while (RecvAll(s, in.data(), in.size()) && SendAll(s, out.data(), out.size())) {
      }
      closesocket(s);
    });
    client_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (connect(client_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      std::fprintf(stderr, "plain connect failed\n");
      std::exit(1);
    }
    NoDelay(client_);
  }
  ~PlainPeer() {
    closesocket(client_);
    server_.join();
    closesocket(listener_);
  }
  void Exchange() {
    if (!SendAll(client_, out_.data(), out_.size()) || !RecvAll(client_, in_.data(), in_.size())) {
      std::fprintf(stderr, "plain exchange failed\n");
      std::exit(1);
    }
  }

 private:
  SOCKET listener_ = INVALID_SOCKET, client_ = INVALID_SOCKET;
  std::thread server_;
  std::vector<char> out_, in_;
};

// The middle of the rounds' figures: one round caught by a busy moment of
// the machine moves neither side.
Rate Median(std::vector<Rate> rounds) {
  std::sort(rounds.begin(), rounds.end(), [](const Rate& a, const Rate& b) { return a.perSecond < b.perSecond; });
  return rounds[rounds.size() / 2];
}

template <typename Fn>
double DigestRate(Fn fn) {
  const double start = Now();
  fn();
  return double(kDigestBytes) / (Now() - start) / 1e6;
}

void PrintRatio(const char* what, double ours, double reference, const char* unit, double target) {
  const double ratio = reference > 0 ? ours / reference : 0;
  std::printf("%-28s %12.1f %-6s  reference %12.1f %-6s  ratio %.2f (target >= %.1f)%s\n", what, ours, unit,
              reference, unit, ratio, target, reference > 0 && ratio < target ? "  BELOW TARGET" : "");
}

}  // namespace

int main(int argc, char** argv) {
  double opensslMd5 = 0, opensslSha1 = 0, seconds = 2;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--openssl-md5")) opensslMd5 = std::atof(argv[i + 1]);
    if (!std::strcmp(argv[i], "--openssl-sha1")) opensslSha1 = std::atof(argv[i + 1]);
    if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
  }
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;

  const std::vector<uint8_t> askBig = {'N'};
  // Channel and reference take turns, round by round, so that both meet the
  // same moments of the machine; each runs with only its own sockets and
  // threads alive, the other's are set up afresh for its turn.
  std::vector<Rate> channelEmptyRounds, plainEmptyRounds, channelBigRounds, plainBigRounds;
  const double roundSeconds = seconds / kRounds;
  for (int round = 0; round < kRounds; ++round) {
    if (TcpServerStart("127.0.0.1", kChannelPort, Handler) != kChannelOk ||
        TcpClientConnect("127.0.0.1", kChannelPort) != kChannelOk) {
      std::fprintf(stderr, "channel start failed\n");
      return 1;
    }
    channelEmptyRounds.push_back(Measure([] { ChannelExchange({}, 0); }, 0, roundSeconds));
    channelBigRounds.push_back(Measure([&] { ChannelExchange(askBig, kBigReply); }, kBigReply, roundSeconds));
    TcpClientClose();
    TcpServerStop();
    // Frames: empty command 8 bytes each way; the 1 MiB request 9 bytes, reply 1 MiB + 8.
    {
      PlainPeer peer(uint16_t(kPlainPort + 2 * round), kChannelHeaderSize, kChannelHeaderSize);
      plainEmptyRounds.push_back(Measure([&] { peer.Exchange(); }, 0, roundSeconds));
    }
    {
      PlainPeer peer(uint16_t(kPlainPort + 2 * round + 1), kChannelHeaderSize + askBig.size(),
                     kChannelHeaderSize + kBigReply);
      plainBigRounds.push_back(Measure([&] { peer.Exchange(); }, kBigReply, roundSeconds));
    }
  }
  const Rate channelEmpty = Median(channelEmptyRounds), plainEmpty = Median(plainEmptyRounds);
  const Rate channelBig = Median(channelBigRounds), plainBig = Median(plainBigRounds);

  std::vector<uint8_t> data(kDigestBytes);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + 3);
  uint8_t digest[20];
  const double md5 = DigestRate([&] { MD5Digest(data.data(), data.size(), digest); });
  const double sha1 = DigestRate([&] { Sha1Digest(digest, data.data(), data.size()); });
  const double sha1Portable = DigestRate([&] {
    uint32_t state[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    Sha1BlocksPortable(state, data.data(), data.size() / 64);
    digest[0] = uint8_t(state[0]);
  });

  std::printf(
      "control channel over loopback, %.1f s per figure (median of %d rounds, channel and reference in turn); "
      "digests over 256 MiB; MB = 10^6 bytes\n",
      seconds, kRounds);
  PrintRatio("channel empty command", channelEmpty.perSecond, plainEmpty.perSecond, "rt/s", 0.7);
  PrintRatio("channel 1 MiB reply", channelBig.mbPerSecond, plainBig.mbPerSecond, "MB/s", 0.8);
  PrintRatio("MD5", md5, opensslMd5, "MB/s", 0.9);
  PrintRatio("SHA-1", sha1, opensslSha1, "MB/s", 0.9);
  PrintRatio("SHA-1 (portable form)", sha1Portable, opensslSha1, "MB/s", 0.0);
  if (opensslMd5 == 0 || opensslSha1 == 0) std::printf("(no OpenSSL figures given: run bench/channel/run.sh)\n");
  WSACleanup();
  return 0;
}
