// CTcpServerSession: the select loop of the control channel's server.
#include "foundation/channel/tcp_server_session.h"

#include <process.h>

#include <cstdlib>
#include <ctime>
#include <new>

#include "foundation/channel/session_log.h"
#include "foundation/channel/socket_ops.h"
#include "foundation/codec/channel_frame.h"

namespace {
constexpr int32_t kStepMs = int32_t(kChannelStepTimeoutMs);

// Owns the receive block of one frame.
struct FrameBlock {
  uint8_t* data = nullptr;
  ~FrameBlock() { std::free(data); }
};
}  // namespace

CTcpServerSession& CTcpServerSession::Instance() {
  static CTcpServerSession* session = new CTcpServerSession;
  return *session;
}

int CTcpServerSession::InitializeSession(const char* address, uint32_t port, CommandHandler handler) {
  if (thread_ != nullptr) return kChannelStartSocketFailed;  // already serving
  IpcBuildMask();
  address_ = address ? address : "";
  port_ = port;
  handler_ = handler;
  stop_ = 0;
  CSessionLog::Instance().SetThreshold(1);
  CSessionLog::Instance().Open(L"tcpserver.log");

  const intptr_t listener = TcpListenOn(address_.c_str(), port_);
  if (listener < 0) {
    CHANNEL_LOG("CTcpServerSession::InitializeSession initial fail");
    return kChannelStartSocketFailed;
  }
  listener_ = SOCKET(listener);
  thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ThreadMain, this, 0, nullptr));
  if (thread_ == nullptr) {
    CHANNEL_LOG("CTcpServerSession::InitializeSession CreateThread failed!");
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
    return kChannelStartThreadFailed;
  }
  CHANNEL_LOG("CTcpServerSession::InitializeSession initial OK");
  return kChannelOk;
}

int CTcpServerSession::Stop() {
  stop_ = 1;
  if (thread_ == nullptr) return 0;
  // The handler must not run while the caller tears the server down.
  const bool ended = WaitForSingleObject(thread_, kStopWaitMs) == WAIT_OBJECT_0;
  CloseHandle(thread_);
  thread_ = nullptr;
  if (!ended) return 0;  // the thread still uses the sockets: leave them be
  for (const auto& client : clients_) closesocket(client.first);
  clients_.clear();
  closing_.clear();
  closesocket(listener_);
  listener_ = INVALID_SOCKET;
  return 0;
}

unsigned __stdcall CTcpServerSession::ThreadMain(void* self) {
  static_cast<CTcpServerSession*>(self)->SchedulerInternal_server();
  return 0;
}

void CTcpServerSession::ClosePending() {
  for (const auto& entry : closing_) {
    auto it = clients_.find(entry.first);
    if (it != clients_.end()) {
      CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server fd[%d] is closing!", int(entry.first));
      clients_.erase(it);
    }
    closesocket(entry.first);
  }
  closing_.clear();
}

void CTcpServerSession::EvictOldest() {
  if (clients_.size() <= kMaxClients) return;
  const int64_t now = int64_t(std::time(nullptr));
  // The map is ordered by handle, so the first of equal times is the lowest handle.
  auto victim = clients_.end();
  for (auto it = clients_.begin(); it != clients_.end(); ++it) {
    if (it->second < now && (victim == clients_.end() || it->second < victim->second)) victim = it;
  }
  if (victim == clients_.end()) victim = clients_.begin();
  closesocket(victim->first);
  CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server timeout fd [%d]", int(victim->first));
  clients_.erase(victim);
}

void CTcpServerSession::AcceptOne() {
  const intptr_t s = TcpAccept(listener_);
  if (s < 0) return;
  TcpNoDelay(SOCKET(s));
  try {
    clients_[SOCKET(s)] = int64_t(std::time(nullptr));
  } catch (const std::bad_alloc&) {
    closesocket(SOCKET(s));
    return;
  }
  CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server accept fd[%d]", int(s));
}

bool CTcpServerSession::ServeRequest(SOCKET s) {
  uint8_t totalBytes[kChannelTotalSize];
  if (TcpRecvExact(s, totalBytes, sizeof totalBytes, kStepMs) != int64_t(sizeof totalBytes)) {
    CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server Pre Recv error errno=[%d] ", WSAGetLastError());
    return false;
  }
  const uint32_t total = ChannelLoadU32(totalBytes);
  // A total without room for the checksum, or beyond any frame the channel
  // carries, cannot be resynchronised: drop the connection.
  if (!ChannelTotalAcceptable(total)) {
    CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server bad frame length [%u] fd[%d]", total, int(s));
    return false;
  }
  FrameBlock block;
  block.data = static_cast<uint8_t*>(std::malloc(total));
  if (block.data == nullptr) {
    CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server no memory for [%u] bytes fd[%d]", total, int(s));
    return false;
  }
  if (TcpRecvExact(s, block.data, total, kStepMs) != int64_t(total)) {
    CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server Act Recv error errno=[%d] ", WSAGetLastError());
    return false;
  }
  uint8_t* body = block.data + 4;
  const uint32_t bodyLength = total - 4;
  if (!IpcDecodeBody(body, bodyLength, ChannelLoadU32(block.data))) {
    CHANNEL_LOG("CTcpClientSession::send_cmd decode error");
    return true;  // dropped without a reply; the connection stays open
  }
  CByteBuffer request, reply;
  if (request.Append(body, bodyLength) != 0) {
    CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server no memory for [%u] bytes fd[%d]", bodyLength, int(s));
    return false;
  }
  if (handler_ != nullptr) handler_(&request, &reply);
  return SendReply(s, &reply);
}

bool CTcpServerSession::SendReply(SOCKET s, CByteBuffer* reply) {
  const uint32_t length = reply->Length();
  if (length > UINT32_MAX - 4) {
    CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server bad frame length [%u] fd[%d]", length, int(s));
    return false;
  }
  uint8_t field[4];
  ChannelStoreU32(field, length + 4);
  if (TcpSendExact(s, field, 4, kStepMs) != 4) {
    CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server Pre Send length error errno=[%d] ", WSAGetLastError());
    return false;
  }
  ChannelStoreU32(field, IpcEncodeBody(reply->Data(), length));
  if (TcpSendExact(s, field, 4, kStepMs) != 4) {
    CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server Pre Send crc error errno=[%d] ", WSAGetLastError());
    return false;
  }
  if (TcpSendExact(s, reply->Data(), length, kStepMs) != int64_t(length)) {
    CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server Act Send error errno=[%d] ", WSAGetLastError());
    return false;
  }
  return true;
}

void CTcpServerSession::SchedulerInternal_server() {
  while (stop_ == 0) {
    ClosePending();
    EvictOldest();

    fd_set readSet;
    readSet.fd_count = 0;
    readSet.fd_array[readSet.fd_count++] = listener_;
    for (auto it = clients_.begin(); it != clients_.end() && readSet.fd_count < kChannelSelectLimit; ++it)
      readSet.fd_array[readSet.fd_count++] = it->first;

    timeval tv = {0, kSelectTimeoutMs * 1000};
    const int r = select(0, &readSet, nullptr, nullptr, &tv);
    if (r == 0) continue;
    if (r == SOCKET_ERROR) {
      CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server errorno[%d]", int(GetLastError()));
      continue;
    }
    if (__WSAFDIsSet(listener_, &readSet)) AcceptOne();
    for (const auto& client : clients_) {
      if (!__WSAFDIsSet(client.first, &readSet)) continue;
      if (!ServeRequest(client.first)) {
        try {
          closing_[client.first] = 0;
        } catch (const std::bad_alloc&) {
          // Not queued: the next select reports the socket again and the
          // next failed read queues it then.
        }
      }
    }
  }
  CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server over");
}
