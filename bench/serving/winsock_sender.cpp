// References of the serving benchmark, under Wine like Seedlift itself:
//   winsock_sender.exe send <port> <file> <connections>
//       the plain RC4 sender: accepts that many connections on 127.0.0.1:port
//       and gives each its slice of the file (the file's K-th part) on a thread
//       of its own, read in 256 KiB blocks, enciphered with our RC4 under a key
//       of its own and sent a block at a time; the stream is the 4-byte seed,
//       plain, then the enciphered slice. Prints "ready" once it listens.
//   winsock_sender.exe rc4 <MiB>
//       our RC4 (the stream cipher of every peer connection) alone over that
//       much data in 256 KiB pieces; prints its MB/s.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "p2pcore/wire/rc4.h"
#include "p2pcore/wire/tcp_stream.h"
#include "p2pcore/wire/wire_bytes.h"

namespace {

constexpr size_t kBlock = 256 * 1024;

bool send_all(SOCKET s, const uint8_t* p, size_t n) {
  while (n) {
    const int sent = send(s, reinterpret_cast<const char*>(p), int(n), 0);
    if (sent <= 0) return false;
    p += sent;
    n -= size_t(sent);
  }
  return true;
}

// One connection: its slice [from, to) of the file, enciphered as it goes out.
void serve_slice(SOCKET s, const char* path, uint64_t from, uint64_t to, uint32_t seed) {
  HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  LARGE_INTEGER at;
  at.QuadPart = LONGLONG(from);
  SetFilePointerEx(f, at, nullptr, FILE_BEGIN);
  p2p::Rc4State cipher;
  p2p::stream_cipher_init(cipher, seed);
  uint8_t head[4];
  p2p::store_u32le(head, seed);
  std::vector<uint8_t> buffer(kBlock);
  bool ok = send_all(s, head, sizeof head);
  for (uint64_t left = to - from; ok && left;) {
    DWORD got = 0;
    if (!ReadFile(f, buffer.data(), DWORD(std::min<uint64_t>(buffer.size(), left)), &got, nullptr) || !got) break;
    p2p::rc4_apply(cipher, buffer.data(), got);
    ok = send_all(s, buffer.data(), got);
    left -= std::min<uint64_t>(left, got);
  }
  CloseHandle(f);
  shutdown(s, SD_SEND);
  closesocket(s);
}

int send_slices(int port, const char* path, int connections) {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 128) != 0) {
    printf("bind failed\n");
    return 1;
  }
  printf("ready\n");
  fflush(stdout);
  HANDLE probe = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  LARGE_INTEGER size = {};
  GetFileSizeEx(probe, &size);
  CloseHandle(probe);
  srand(GetTickCount());
  std::vector<std::thread> threads;
  for (int i = 0; i < connections; ++i) {
    SOCKET s = accept(listener, nullptr, nullptr);
    const uint64_t from = uint64_t(size.QuadPart) * i / connections;
    const uint64_t to = uint64_t(size.QuadPart) * (i + 1) / connections;
    threads.emplace_back(serve_slice, s, path, from, to, uint32_t(rand()) & 0x7FFF);
  }
  for (std::thread& t : threads) t.join();
  closesocket(listener);
  WSACleanup();
  return 0;
}

int rc4_alone(int mib) {
  p2p::Rc4State st;
  p2p::stream_cipher_init(st, 1234);
  std::vector<uint8_t> piece(kBlock, 0x5A);
  const uint64_t total = uint64_t(mib) << 20;
  const auto start = std::chrono::steady_clock::now();
  for (uint64_t done = 0; done < total; done += piece.size()) p2p::rc4_apply(st, piece.data(), piece.size());
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  printf("rc4 bytes=%llu seconds=%.3f mbps=%.1f check=%u\n", (unsigned long long)total, s, total / s / 1e6,
         unsigned(piece[7]));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::string(argv[1]) == "send") return send_slices(atoi(argv[2]), argv[3], atoi(argv[4]));
  if (argc >= 3 && std::string(argv[1]) == "rc4") return rc4_alone(atoi(argv[2]));
  fprintf(stderr, "usage: winsock_sender send <port> <file> <connections> | rc4 <MiB>\n");
  return 2;
}
