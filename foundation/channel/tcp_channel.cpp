// The flat entry points of the control channel.
#include "foundation/channel/tcp_channel.h"

#include "foundation/channel/tcp_client_session.h"
#include "foundation/channel/tcp_server_session.h"

int TcpServerStart(const char* address, uint32_t port, CommandHandler handler) {
  return CTcpServerSession::Instance().InitializeSession(address, port, handler);
}

int TcpServerStop() { return CTcpServerSession::Instance().Stop(); }

int TcpClientConnect(const char* address, uint16_t port) {
  return CTcpClientSession::Instance().Initialize(address, port);
}

int TcpClientClose() {
  CTcpClientSession::Instance().Close();
  return 1;
}

int TcpClientSendCmd(CByteBuffer* request, CByteBuffer* reply, uint32_t timeoutMs) {
  return CTcpClientSession::Instance().send_cmd(request, reply, timeoutMs);
}

int TcpClientSendCmd(CByteBuffer* request, CByteBuffer* reply) {
  return CTcpClientSession::Instance().send_cmd(request, reply, kChannelStepTimeoutMs);
}
