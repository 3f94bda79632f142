// CTcpClientSession: connect, send a framed request, receive its reply.
#include "foundation/channel/tcp_client_session.h"

#include <climits>

#include "foundation/channel/channel_io.h"
#include "foundation/channel/session_log.h"
#include "foundation/channel/socket_ops.h"
#include "foundation/codec/channel_frame.h"

CTcpClientSession& CTcpClientSession::Instance() {
  static CTcpClientSession* session = new CTcpClientSession;
  return *session;
}

void CTcpClientSession::Drop() {
  if (socket_ > 0) closesocket(SOCKET(socket_));
  socket_ = -1;
}

bool CTcpClientSession::connect_server() {
  // A reconnect must not leave the old connection open on the server.
  Drop();
  socket_ = TcpConnectTimeout(inet_addr(address_.c_str()), uint16_t(port_));
  if (socket_ > 0) {
    TcpNoDelay(SOCKET(socket_));
    CHANNEL_LOG("CTcpClientSession::connect_server Connect to Server OK");
    return true;
  }
  CHANNEL_LOG("CTcpClientSession::connect_server Connect to Server fail");
  return false;
}

int CTcpClientSession::Initialize(const char* address, uint16_t port) {
  CLockGuard guard(lock_);
  IpcBuildMask();
  CSessionLog::Instance().SetThreshold(1);
  CSessionLog::Instance().Open(L"tcpclient.log");
  address_ = address ? address : "";
  port_ = port;
  return connect_server() ? kChannelOk : kChannelNotConnected;
}

void CTcpClientSession::Close() {
  CLockGuard guard(lock_);
  Drop();
}

int CTcpClientSession::send_cmd(CByteBuffer* request, CByteBuffer* reply, uint32_t timeoutMs) {
  CLockGuard guard(lock_);
  return Exchange(request, reply, timeoutMs);
}

int CTcpClientSession::Exchange(CByteBuffer* request, CByteBuffer* reply, uint32_t timeoutMs) {
  const int32_t callerMs = timeoutMs > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(timeoutMs);
  if (socket_ <= 0) {
    CHANNEL_LOG("CTcpClientSession::send_cmd Reconnect to Server");
    if (!connect_server()) return kChannelNotConnected;
  }
  const SOCKET s = SOCKET(socket_);
  auto fail = [&](const char* step) {
    CHANNEL_LOG("CTcpClientSession::send_cmd %s error errno=[%d] ", step, WSAGetLastError());
    Drop();
    return kChannelSocketError;
  };

  const uint32_t checksum = IpcEncodeBody(request->Data(), request->Length());
  switch (ChannelSendFrame(s, checksum, request->Data(), request->Length(), callerMs)) {
    case FrameSend::kOk:
      break;
    case FrameSend::kTotalShort:
      return fail("Pre Total Length Send");
    case FrameSend::kChecksumShort:
      return fail("Pre Crc Length Send");
    case FrameSend::kBodyShort:
      return fail("Act Send");
  }

  // Made once; the session lives as long as the process.
  if (replyEvent_ == nullptr) replyEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  switch (ChannelRecvFrameInto(s, replyEvent_, callerMs, reply)) {
    case FrameRecv::kOk:
      return kChannelOk;
    case FrameRecv::kTotalShort:
      return fail("Pre Recv");
    case FrameRecv::kBadTotal:
      // The stream cannot be resynchronised after a length like this.
      CHANNEL_LOG("CTcpClientSession::send_cmd bad reply length");
      Drop();
      return kChannelSocketError;
    case FrameRecv::kNoMemory:
      // The body is still on its way and cannot be stored: the stream is lost.
      CHANNEL_LOG("CTcpClientSession::send_cmd reply could not be stored");
      Drop();
      return kChannelSocketError;
    case FrameRecv::kBlockShort:
      return fail("Act Recv");
    case FrameRecv::kChecksumMismatch:
      // Refused where it arrived: nothing is added to the caller's reply.
      CHANNEL_LOG("CTcpClientSession::send_cmd decode error");
      return kChannelChecksumMismatch;
  }
  return kChannelSocketError;
}
