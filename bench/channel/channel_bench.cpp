// Benchmark: control-channel round trips (empty command) and 1 MiB reply
// throughput next to a plain loopback TCP ping-pong of the same sizes, and
// MD5 / SHA-1 throughput next to OpenSSL figures passed in by run.sh.
//   channel_bench [--openssl-md5 MB/s] [--openssl-sha1 MB/s] [--seconds S]
#include <winsock2.h>
#include <ws2tcpip.h>

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
constexpr uint16_t kPlainPort = 19302;
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
  double perSecond;  // exchanges per second
  double mbPerSecond;  // reply bytes, 10^6 bytes per second
};

Rate ChannelRate(const std::vector<uint8_t>& body, uint32_t replyBytes, double seconds) {
  long n = 0;
  const double start = Now();
  double elapsed = 0;
  do {
    CByteBuffer request, reply;
    request.Append(body.data(), uint32_t(body.size()));
    if (TcpClientSendCmd(&request, &reply, 3000) != kChannelOk || reply.Length() != replyBytes) {
      std::fprintf(stderr, "channel exchange failed\n");
      std::exit(1);
    }
    ++n;
    elapsed = Now() - start;
  } while (elapsed < seconds);
  return {n / elapsed, double(n) * replyBytes / elapsed / 1e6};
}

void NoDelay(SOCKET s) {
  BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

// Plain blocking ping-pong: the client sends `requestBytes`, the server
// answers `replyBytes`; the same byte counts as the channel's frames.
Rate PlainRate(size_t requestBytes, size_t replyBytes, double seconds) {
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  BOOL on = TRUE;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(kPlainPort);
  if (bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(listener, 1) != 0) {
    std::fprintf(stderr, "plain listener failed\n");
    std::exit(1);
  }
  std::thread server([&] {
    SOCKET s = accept(listener, nullptr, nullptr);
    NoDelay(s);
    std::vector<char> in(requestBytes), out(replyBytes, 0x5A);
    while (RecvAll(s, in.data(), in.size()) && SendAll(s, out.data(), out.size())) {
    }
    closesocket(s);
  });
  SOCKET c = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (connect(c, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    std::fprintf(stderr, "plain connect failed\n");
    std::exit(1);
  }
  NoDelay(c);
  std::vector<char> out(requestBytes, 1), in(replyBytes);
  long n = 0;
  const double start = Now();
  double elapsed = 0;
  do {
    if (!SendAll(c, out.data(), out.size()) || !RecvAll(c, in.data(), in.size())) {
      std::fprintf(stderr, "plain exchange failed\n");
      std::exit(1);
    }
    ++n;
    elapsed = Now() - start;
  } while (elapsed < seconds);
  closesocket(c);
  server.join();
  closesocket(listener);
  return {n / elapsed, double(n) * (replyBytes - kChannelHeaderSize) / elapsed / 1e6};
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

  if (TcpServerStart("127.0.0.1", kChannelPort, Handler) != kChannelOk ||
      TcpClientConnect("127.0.0.1", kChannelPort) != kChannelOk) {
    std::fprintf(stderr, "channel start failed\n");
    return 1;
  }
  const std::vector<uint8_t> askBig = {'N'};
  const Rate channelEmpty = ChannelRate({}, 0, seconds);
  const Rate channelBig = ChannelRate(askBig, kBigReply, seconds);
  TcpClientClose();
  TcpServerStop();
  // Frames: empty command 8 bytes each way; the 1 MiB request 9 bytes, reply 1 MiB + 8.
  const Rate plainEmpty = PlainRate(kChannelHeaderSize, kChannelHeaderSize, seconds);
  const Rate plainBig = PlainRate(kChannelHeaderSize + askBig.size(), kChannelHeaderSize + kBigReply, seconds);

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

  std::printf("control channel over loopback, %.1f s per figure; digests over 256 MiB; MB = 10^6 bytes\n", seconds);
  PrintRatio("channel empty command", channelEmpty.perSecond, plainEmpty.perSecond, "rt/s", 0.5);
  PrintRatio("channel 1 MiB reply", channelBig.mbPerSecond, plainBig.mbPerSecond, "MB/s", 0.5);
  PrintRatio("MD5", md5, opensslMd5, "MB/s", 0.8);
  PrintRatio("SHA-1", sha1, opensslSha1, "MB/s", 0.8);
  PrintRatio("SHA-1 (portable form)", sha1Portable, opensslSha1, "MB/s", 0.0);
  if (opensslMd5 == 0 || opensslSha1 == 0) std::printf("(no OpenSSL figures given: run bench/channel/run.sh)\n");
  WSACleanup();
  return 0;
}
