// CTcpClientSession: the client half of the control channel. One persistent
// connection, one request and then its reply at a time, under the session lock.
#pragma once
#include <winsock2.h>

#include <cstdint>
#include <string>

#include "foundation/channel/channel_io.h"
#include "foundation/sync/locks.h"
#include "foundation/channel/tcp_channel.h"

class CTcpClientSession {
 public:
  static CTcpClientSession& Instance();

  // Recreates "tcpclient.log", stores the address and connects (closing a
  // connection already open first). 0 connected, 1 not.
  int Initialize(const char* address, uint16_t port);
  // 0 success, 1 not connected, 2 socket error or a reply that cannot be
  // stored, 32 checksum mismatch. The request is left scrambled.
  int send_cmd(CByteBuffer* request, CByteBuffer* reply, uint32_t timeoutMs);
  void Close();

 private:
  CTcpClientSession() = default;
  bool connect_server();
  int Exchange(CByteBuffer* request, CByteBuffer* reply, uint32_t timeoutMs);
  void Drop();

  std::string address_ = "127.0.0.1";
  uint32_t port_ = 9090;
  // A pointer-sized socket; 0 or less means not connected.
  intptr_t socket_ = -1;
  CLock lock_;
  HANDLE replyEvent_ = nullptr;  // waits for a reply's first bytes; under lock_
};
