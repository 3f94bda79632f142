// A channel server for end-to-end tests of channel clients: serves on
// 127.0.0.1:PORT until it gets command 129, which it answers with status 200.
//   empty request -> empty reply; 'E'... -> the request echoed;
//   'N' u32 n -> n bytes (i mod 251); u16 129 -> u16 200, then the server stops.
#include <winsock2.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "foundation/channel/tcp_channel.h"
#include "foundation/codec/stream_reader.h"

namespace {
HANDLE stopEvent;

void Handler(CByteBuffer* request, CByteBuffer* reply) {
  CStreamReader in(request->Data(), request->Length());
  if (request->Length() == 0) return;
  if (request->Data()[0] == 'E') {
    reply->Append(request->Data(), request->Length());
    return;
  }
  if (request->Data()[0] == 'N') {
    in.Skip(1);
    std::vector<uint8_t> big(in.ReadUInt32());
    for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i % 251);
    reply->Append(big.data(), uint32_t(big.size()));
    return;
  }
  if (in.ReadUInt16() == 129) {
    const uint8_t ok[2] = {200, 0};
    reply->Append(ok, 2);
    SetEvent(stopEvent);
  }
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: channel_echo_server PORT\n");
    return 2;
  }
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 3;
  stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const int started = TcpServerStart("127.0.0.1", uint32_t(std::atoi(argv[1])), Handler);
  if (started != kChannelOk) {
    std::printf("start failed %d\n", started);
    return 1;
  }
  std::printf("listening\n");
  std::fflush(stdout);
  WaitForSingleObject(stopEvent, INFINITE);
  TcpServerStop();
  WSACleanup();
  return 0;
}
