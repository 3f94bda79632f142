// Sends one request through the real channel client and prints the result:
//   channel_send PORT HEXBODY [COUNT]
// prints "result R reply HEX" per request; COUNT requests on one connection.
#include <winsock2.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/channel/tcp_channel.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: channel_send PORT HEXBODY [COUNT]\n");
    return 2;
  }
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 3;
  std::vector<uint8_t> body;
  for (const char* p = argv[2]; p[0] && p[1]; p += 2) body.push_back(uint8_t(std::strtoul(std::string(p, 2).c_str(), nullptr, 16)));
  const int count = argc > 3 ? std::atoi(argv[3]) : 1;
  std::printf("connect %d\n", TcpClientConnect("127.0.0.1", uint16_t(std::atoi(argv[1]))));
  for (int i = 0; i < count; ++i) {
    CByteBuffer request, reply;
    request.Append(body.data(), uint32_t(body.size()));
    const int result = TcpClientSendCmd(&request, &reply, 3000);
    std::printf("result %d reply ", result);
    for (uint32_t j = 0; j < reply.Length(); ++j) std::printf("%02x", reply.Data()[j]);
    std::printf("\n");
  }
  std::fflush(stdout);
  TcpClientClose();
  WSACleanup();
  return 0;
}
