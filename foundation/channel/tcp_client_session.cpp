// CTcpClientSession: connect, send a framed request, receive its reply.
#include "foundation/channel/tcp_client_session.h"

#include <climits>
#include <cstdlib>

#include "foundation/channel/session_log.h"
#include "foundation/channel/socket_ops.h"
#include "foundation/codec/channel_frame.h"

namespace {
constexpr int32_t kStepMs = int32_t(kChannelStepTimeoutMs);
}

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

  const uint32_t length = request->Length();
  if (length > UINT32_MAX - 4) return fail("Pre Total Length Send");
  uint8_t field[4];
  ChannelStoreU32(field, length + 4);
  if (TcpSendExact(s, field, 4, kStepMs) != 4) return fail("Pre Total Length Send");
  ChannelStoreU32(field, IpcEncodeBody(request->Data(), length));
  if (TcpSendExact(s, field, 4, kStepMs) != 4) return fail("Pre Crc Length Send");
  if (TcpSendExact(s, request->Data(), length, callerMs) != int64_t(length)) return fail("Act Send");

  if (TcpRecvExact(s, field, 4, kStepMs) != 4) return fail("Pre Recv");
  const uint32_t total = ChannelLoadU32(field);
  if (!ChannelTotalAcceptable(total)) {
    // The stream cannot be resynchronised after a length like this.
    CHANNEL_LOG("CTcpClientSession::send_cmd bad reply length [%u]", total);
    Drop();
    return kChannelSocketError;
  }
  uint8_t* block = static_cast<uint8_t*>(std::malloc(total));
  if (block == nullptr) {
    CHANNEL_LOG("CTcpClientSession::send_cmd no memory for [%u] bytes", total);
    Drop();
    return kChannelSocketError;
  }
  if (TcpRecvExact(s, block, total, callerMs) != int64_t(total)) {
    std::free(block);
    return fail("Act Recv");
  }
  if (!IpcDecodeBody(block + 4, total - 4, ChannelLoadU32(block))) {
    std::free(block);
    CHANNEL_LOG("CTcpClientSession::send_cmd decode error");
    return kChannelChecksumMismatch;
  }
  const int stored = reply->Append(block + 4, total - 4);
  std::free(block);
  if (stored != 0) {
    // The frame was read whole, so the connection stays usable.
    CHANNEL_LOG("CTcpClientSession::send_cmd reply could not be stored");
    return kChannelSocketError;
  }
  return kChannelOk;
}
