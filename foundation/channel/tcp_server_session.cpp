// CTcpServerSession: the select loop of the control channel's server.
#include "foundation/channel/tcp_server_session.h"

#include <process.h>

#include <cstdlib>
#include <ctime>
#include <new>

#include "foundation/channel/channel_io.h"
#include "foundation/channel/session_log.h"
#include "foundation/channel/socket_ops.h"
#include "foundation/check/orchard_assert.h"
#include "foundation/codec/channel_frame.h"

namespace {
constexpr int32_t kStepMs = int32_t(kChannelStepTimeoutMs);
static_assert(kChannelSelectLimit <= MAXIMUM_WAIT_OBJECTS, "one wait covers the listener and every client waited on");
}  // namespace

CTcpServerSession& CTcpServerSession::Instance() {
  static CTcpServerSession* session = new CTcpServerSession;
  return *session;
}

int CTcpServerSession::InitializeSession(const char* address, uint32_t port, CommandHandler handler) {
  // Already serving, or a stopped thread has not finished its last pass.
  if (thread_ != nullptr || running_) return kChannelStartSocketFailed;
  IpcBuildMask();
  address_ = address ? address : "";
  port_ = port;
  handler_ = handler;
  stop_ = 0;
  CSessionLog::Instance().SetThreshold(1);
  CSessionLog::Instance().Open(L"tcpserver.log");

  const intptr_t listener = TcpListenOn(address_.c_str(), port_);
  if (listener >= 0 && listenEvent_ == nullptr) listenEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (listener < 0 || listenEvent_ == nullptr || WSAEventSelect(SOCKET(listener), listenEvent_, FD_ACCEPT) != 0) {
    if (listener >= 0) closesocket(SOCKET(listener));
    CHANNEL_LOG("CTcpServerSession::InitializeSession initial fail");
    return kChannelStartSocketFailed;
  }
  listener_ = SOCKET(listener);
  running_ = true;
  thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ThreadMain, this, 0, &threadId_));
  if (thread_ == nullptr) {
    CHANNEL_LOG("CTcpServerSession::InitializeSession CreateThread failed!");
    running_ = false;
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
  // The handler must not run while the caller tears the server down, so wait
  // for the thread (bounded). A stop from the handler itself cannot wait for
  // its own thread; the thread ends after this pass either way.
  if (GetCurrentThreadId() != threadId_) WaitForSingleObject(thread_, kStopWaitMs);
  CloseHandle(thread_);
  thread_ = nullptr;
  return 0;
}

unsigned __stdcall CTcpServerSession::ThreadMain(void* self) {
  static_cast<CTcpServerSession*>(self)->SchedulerInternal_server();
  return 0;
}

void CTcpServerSession::CloseClient(SOCKET s) {
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  closesocket(s);
  ahead_.erase(s);
  auto it = events_.find(s);
  if (it != events_.end()) {
    CloseHandle(it->second);
    events_.erase(it);
  }
}

void CTcpServerSession::ClosePending() {
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  for (const auto& entry : closing_) {
    auto it = clients_.find(entry.first);
    if (it != clients_.end()) {
      CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server fd[%d] is closing!", int(entry.first));
      clients_.erase(it);
    }
    CloseClient(entry.first);
  }
  closing_.clear();
}

void CTcpServerSession::EvictOldest() {
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  if (clients_.size() <= kMaxClients) return;
  const int64_t now = int64_t(std::time(nullptr));
  // The map is ordered by handle, so the first of equal times is the lowest handle.
  auto victim = clients_.end();
  for (auto it = clients_.begin(); it != clients_.end(); ++it) {
    if (it->second < now && (victim == clients_.end() || it->second < victim->second)) victim = it;
  }
  if (victim == clients_.end()) victim = clients_.begin();
  CloseClient(victim->first);
  CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server timeout fd [%d]", int(victim->first));
  clients_.erase(victim);
}

void CTcpServerSession::AcceptOne() {
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  const intptr_t s = TcpAccept(listener_);
  if (s < 0) return;
  TcpNoDelay(SOCKET(s));
  // The accepted socket took the listener's event over; it gets its own.
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (event == nullptr || WSAEventSelect(SOCKET(s), event, FD_READ | FD_CLOSE) != 0) {
    if (event != nullptr) CloseHandle(event);
    closesocket(SOCKET(s));
    return;
  }
  try {
    events_[SOCKET(s)] = event;
    clients_[SOCKET(s)] = int64_t(std::time(nullptr));
  } catch (const std::bad_alloc&) {
    CloseClient(SOCKET(s));
    clients_.erase(SOCKET(s));
    return;
  }
  CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server accept fd[%d]", int(s));
}

int CTcpServerSession::WaitReady(DWORD ms) {
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  // The listener first, then the clients in handle order starting after the
  // one served last, so a client that sends without pause cannot keep the
  // others waiting: a wait reports only its first ready entry.
  waitSockets_.clear();
  waitHandles_.clear();
  waitSockets_.push_back(listener_);
  waitHandles_.push_back(listenEvent_);
  auto start = clients_.upper_bound(lastServed_);
  for (size_t n = 0; n < clients_.size() && waitHandles_.size() < kChannelSelectLimit; ++n, ++start) {
    if (start == clients_.end()) start = clients_.begin();
    auto event = events_.find(start->first);
    if (event == events_.end()) continue;
    waitSockets_.push_back(start->first);
    waitHandles_.push_back(event->second);
  }
  const DWORD r = WaitForMultipleObjects(DWORD(waitHandles_.size()), waitHandles_.data(), FALSE, ms);
  if (r == WAIT_TIMEOUT) return -1;
  if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + waitHandles_.size()) return int(r - WAIT_OBJECT_0);
  return -2;
}

bool CTcpServerSession::ServeRequest(SOCKET s) {
  const bool keep = ServeFrame(s);
  receive_.Trim();
  return keep;
}

bool CTcpServerSession::ServeFrame(SOCKET s) {
  // The handler is called on this thread only: requests of all clients are
  // served one after another, and the handler keeps buffers on that promise.
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  ChannelBlock& block = receive_;
  ChannelCarry carry;
  if (auto it = ahead_.find(s); it != ahead_.end()) {
    carry = it->second;
    ahead_.erase(it);
  }
  switch (ChannelRecvFrameAhead(s, &carry, kStepMs, &block)) {
    case FrameRecv::kNothing:
      return true;  // a readiness report whose bytes came with the frame before
    case FrameRecv::kOk:
      if (carry.length != 0) {
        try {
          ahead_[s] = carry;
        } catch (const std::bad_alloc&) {
          CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server no memory for a request fd[%d]", int(s));
          return false;  // the next frame's bytes cannot be kept
        }
      }
      break;
    case FrameRecv::kTotalShort:
      CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server Pre Recv error errno=[%d] ", WSAGetLastError());
      return false;
    case FrameRecv::kBadTotal:
      // A total without room for the checksum, or beyond any frame the
      // channel carries, cannot be resynchronised: drop the connection.
      CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server bad frame length fd[%d]", int(s));
      return false;
    case FrameRecv::kNoMemory:
      CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server no memory for a request fd[%d]", int(s));
      return false;
    case FrameRecv::kBlockShort:
      CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server Act Recv error errno=[%d] ", WSAGetLastError());
      return false;
  }
  if (!IpcDecodeBody(block.Body(), block.BodyLength(), block.Checksum())) {
    CHANNEL_LOG("CTcpClientSession::send_cmd decode error");
    return true;  // dropped without a reply; the connection stays open
  }
  CByteBuffer request, reply;
  if (request.Append(block.Body(), block.BodyLength()) != 0) {
    CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server no memory for a request fd[%d]", int(s));
    return false;
  }
  if (handler_ != nullptr) handler_(&request, &reply);

  const uint32_t checksum = IpcEncodeBody(reply.Data(), reply.Length());
  switch (ChannelSendFrame(s, checksum, reply.Data(), reply.Length(), kStepMs)) {
    case FrameSend::kOk:
      return true;
    case FrameSend::kTotalShort:
      CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server Pre Send length error errno=[%d] ", WSAGetLastError());
      return false;
    case FrameSend::kChecksumShort:
      CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server Pre Send crc error errno=[%d] ", WSAGetLastError());
      return false;
    case FrameSend::kBodyShort:
      CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server Act Send error errno=[%d] ", WSAGetLastError());
      return false;
  }
  return false;
}

void CTcpServerSession::SchedulerInternal_server() {
  scheduler_.Bind();
  while (stop_ == 0) {
    ClosePending();
    EvictOldest();

    // A client with a frame already read in part is served without waiting.
    const int ready = WaitReady(ahead_.empty() ? DWORD(kSelectTimeoutMs) : 0);
    if (ready == -1 && ahead_.empty()) continue;
    if (ready == -2) {
      CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server errorno[%d]", int(GetLastError()));
      continue;
    }
    if (ready == 0) AcceptOne();
    const SOCKET readySocket = ready > 0 ? waitSockets_[size_t(ready)] : INVALID_SOCKET;
    for (const auto& client : clients_) {
      if (client.first != readySocket && ahead_.find(client.first) == ahead_.end()) continue;
      if (client.first == readySocket) lastServed_ = readySocket;
      if (!ServeRequest(client.first)) {
        try {
          closing_[client.first] = 0;
        } catch (const std::bad_alloc&) {
          // Not queued: it stays open until its next event fails again.
        }
      }
    }
  }
  CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server over");
  // The thread owns the sockets; once it has stopped nothing else serves them.
  for (const auto& client : clients_) CloseClient(client.first);
  for (const auto& client : closing_) {
    if (clients_.find(client.first) == clients_.end()) CloseClient(client.first);
  }
  clients_.clear();
  closing_.clear();
  ahead_.clear();
  closesocket(listener_);
  listener_ = INVALID_SOCKET;
  lastServed_ = INVALID_SOCKET;
  scheduler_.Release();
  running_ = false;
}
