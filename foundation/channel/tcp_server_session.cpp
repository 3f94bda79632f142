// CTcpServerSession: the scheduler loop of the control channel's server.
// Every socket is non-blocking and nothing waits on one client: a pass
// moves each ready client on as far as its bytes allow and keeps the rest
// of its frame for the next pass, and each step's deadline is that client's.
#include "foundation/channel/tcp_server_session.h"

#include <process.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "foundation/channel/session_log.h"
#include "foundation/channel/socket_ops.h"
#include "foundation/check/orchard_assert.h"
#include "foundation/codec/channel_frame.h"
#include "foundation/codec/crc32.h"

namespace {
constexpr uint32_t kStepMs = kChannelStepTimeoutMs;
// Replies up to this size are copied behind their header and sent as one
// piece; larger bodies go out beside it from where they lie.
constexpr uint32_t kGatherLimit = 16 * 1024;
static_assert(kChannelSelectLimit <= MAXIMUM_WAIT_OBJECTS, "one wait covers the listener and every client waited on");
static_assert(CTcpServerSession::kMaxClients + 2 <= kChannelSelectLimit,
              "the listener and every client, one above the limit until it is evicted, are waited on");

uint64_t NowMs() { return GetTickCount64(); }

// The log line of a client that failed, or ran out of time, in this step
// (by ChannelStep: one that closes between frames fails on its total).
void LogFailure(ChannelStep step) {
  static const char* const kStepText[] = {"Pre Recv", "Pre Recv", "Act Recv", "Pre Send length", "Pre Send crc",
                                          "Act Send"};
  static_assert(sizeof kStepText / sizeof kStepText[0] == size_t(ChannelStep::kSendBody) + 1, "a text per step");
  CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server %s error errno=[%d] ", kStepText[size_t(step)],
              WSAGetLastError());
}
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
  auto it = state_.find(s);
  if (it != state_.end()) {
    CloseHandle(it->second->event);
    state_.erase(it);
  }
}

void CTcpServerSession::QueueClose(SOCKET s) {
  try {
    closing_[s] = 0;
  } catch (const std::bad_alloc&) {
    // Not queued: it stays open until it fails again.
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
    std::unique_ptr<Client> client(new Client);
    client->event = event;
    state_[SOCKET(s)] = std::move(client);
    clients_[SOCKET(s)] = int64_t(std::time(nullptr));
  } catch (const std::bad_alloc&) {
    if (state_.find(SOCKET(s)) == state_.end()) CloseHandle(event);
    CloseClient(SOCKET(s));
    clients_.erase(SOCKET(s));
    return;
  }
  CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server accept fd[%d]", int(s));
}

bool CTcpServerSession::WaitReady(DWORD ms) {
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  waitSockets_.clear();
  waitHandles_.clear();
  waitSockets_.push_back(listener_);
  waitHandles_.push_back(listenEvent_);
  for (const auto& entry : state_) {
    if (waitHandles_.size() >= kChannelSelectLimit) break;
    waitSockets_.push_back(entry.first);
    waitHandles_.push_back(entry.second->event);
  }
  const size_t n = waitHandles_.size();
  waitReady_.assign(n, false);
  DWORD r = WaitForMultipleObjects(DWORD(n), waitHandles_.data(), FALSE, ms);
  if (r == WAIT_TIMEOUT) return true;
  if (r < WAIT_OBJECT_0 || r >= WAIT_OBJECT_0 + n) return false;
  // A wait names only the first ready handle; the ones after it are asked
  // again without waiting, so that one pass serves every ready client.
  for (size_t from = 0;;) {
    const size_t at = from + (r - WAIT_OBJECT_0);
    waitReady_[at] = true;
    from = at + 1;
    if (from >= n) break;
    r = WaitForMultipleObjects(DWORD(n - from), waitHandles_.data() + from, FALSE, 0);
    if (r < WAIT_OBJECT_0 || r >= WAIT_OBJECT_0 + (n - from)) break;
  }
  return true;
}

DWORD CTcpServerSession::NextWaitMs(uint64_t nowMs) const {
  uint64_t wait = uint64_t(kSelectTimeoutMs);
  for (const auto& entry : state_) {
    const Client& c = *entry.second;
    if (c.due) return 0;
    if (c.link.Step() == ChannelStep::kIdle) continue;
    const uint64_t deadline = c.link.StepStartMs() + kStepMs;
    if (deadline <= nowMs) return 0;
    if (deadline - nowMs < wait) wait = deadline - nowMs;
  }
  return DWORD(wait);
}

bool CTcpServerSession::SendSome(SOCKET s, Client* c) {
  ChannelConnection& link = c->link;
  static uint8_t staging[kChannelHeaderSize + kGatherLimit];  // the scheduler thread's
  while (link.Sending()) {
    ChannelPiece pieces[2];
    const uint32_t count = link.NextPieces(pieces);
    WSABUF buffers[2];
    DWORD used = 0;
    const uint32_t length = pieces[0].length + (count > 1 ? pieces[1].length : 0);
    if (count > 1 && length <= sizeof staging) {
      std::memcpy(staging, pieces[0].data, pieces[0].length);
      std::memcpy(staging + pieces[0].length, pieces[1].data, pieces[1].length);
      buffers[used++] = {length, reinterpret_cast<char*>(staging)};
    } else {
      for (uint32_t i = 0; i < count; ++i)
        buffers[used++] = {pieces[i].length, reinterpret_cast<char*>(const_cast<uint8_t*>(pieces[i].data))};
    }
    const int64_t sent = TcpSendGatherOnce(s, buffers, used);
    if (sent < 0) {
      LogFailure(link.Step());
      return false;
    }
    if (sent == 0) return WatchRoom(s, c, true);  // the socket reports when there is room
    link.Sent(uint32_t(sent), NowMs());
  }
  return WatchRoom(s, c, false);
}

bool CTcpServerSession::WatchRoom(SOCKET s, Client* c, bool on) {
  if (c->watchRoom == on) return true;
  // Asked for only while needed: a socket with room would report it after
  // every reply and wake the loop for nothing. Asking sets the event at once
  // when there is room already, and bytes that came meanwhile are looked for.
  if (WSAEventSelect(s, c->event, FD_READ | FD_CLOSE | (on ? FD_WRITE : 0)) != 0) {
    LogFailure(c->link.Step());
    return false;
  }
  c->watchRoom = on;
  c->mayRead = true;
  return true;
}

bool CTcpServerSession::Serve(SOCKET s, Client* c) {
  // The handler is called on this thread only: requests of all clients are
  // served one after another, and the handler keeps buffers on that promise.
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  ChannelConnection& link = c->link;
  if (!IpcDecodeBody(link.RequestBody(), link.RequestLength(), link.RequestChecksum())) {
    CHANNEL_LOG("CTcpClientSession::send_cmd decode error");
    link.DropRequest(NowMs());
    return true;  // dropped without a reply; the connection stays open
  }
  CByteBuffer request;
  std::unique_ptr<CByteBuffer> reply(new (std::nothrow) CByteBuffer);
  if (reply == nullptr || request.Append(link.RequestBody(), link.RequestLength()) != 0) {
    CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server no memory for a request fd[%d]", int(s));
    return false;
  }
  if (handler_ != nullptr) handler_(&request, reply.get());
  // The checksum goes out first and fixes where the mask starts, so the
  // whole body is checksummed here; scrambling follows the send.
  const uint32_t checksum = Crc32Update(reply->Data(), reply->Length());
  c->reply = std::move(reply);
  link.StartReply(c->reply->Data(), c->reply->Length(), checksum, NowMs());
  return true;
}

bool CTcpServerSession::Progress(SOCKET s, Client* c, bool woke) {
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  ChannelConnection& link = c->link;
  if (link.Sending() && !woke) return true;  // waits for room
  bool served = false;
  for (;;) {
    if (link.Sending()) {
      if (!SendSome(s, c)) return false;
      if (link.Sending()) return true;
      c->reply.reset();
    }
    switch (link.Check()) {
      case ChannelConnection::Request::kBadTotal:
        // A total without room for the checksum, or beyond any request the
        // server answers, cannot be resynchronised: drop the connection.
        CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server bad frame length fd[%d]", int(s));
        return false;
      case ChannelConnection::Request::kReady:
        // One request a pass, so a client that sends without pause takes
        // its turn with the others.
        if (served) {
          c->due = true;
          return true;
        }
        served = true;
        if (!Serve(s, c)) return false;
        continue;
      case ChannelConnection::Request::kPartial:
        break;
    }
    // The socket layer reports bytes again once a recv has taken some, so
    // there is nothing to read until it has.
    if (!c->mayRead) return true;
    c->mayRead = false;
    const int64_t got = TcpRecvNow(s, link.RecvSpace(), link.RecvRoom());
    if (got == kTcpNothingYet) return true;  // a report whose bytes an earlier recv took
    if (got <= 0) {
      LogFailure(link.Step());  // the peer closed, or the socket failed
      return false;
    }
    link.Received(uint32_t(got), NowMs());
  }
}

void CTcpServerSession::CloseOverdue(uint64_t nowMs) {
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  for (const auto& entry : state_) {
    if (!entry.second->link.Overdue(nowMs, kStepMs) || closing_.count(entry.first) != 0) continue;
    WSASetLastError(WSAETIMEDOUT);
    LogFailure(entry.second->link.Step());
    QueueClose(entry.first);
  }
}

void CTcpServerSession::FinishReplies() {
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  const uint64_t until = NowMs() + kStepMs;
  for (;;) {
    bool sending = false;
    for (const auto& entry : state_) {
      Client* c = entry.second.get();
      if (!c->link.Sending() || closing_.count(entry.first) != 0) continue;
      if (!SendSome(entry.first, c)) {
        QueueClose(entry.first);
        continue;
      }
      sending = sending || c->link.Sending();
    }
    const uint64_t now = NowMs();
    CloseOverdue(now);
    if (!sending || now >= until) return;
    const uint64_t left = until - now;
    WaitReady(DWORD(left < uint64_t(kSelectTimeoutMs) ? left : uint64_t(kSelectTimeoutMs)));
  }
}

void CTcpServerSession::SchedulerInternal_server() {
  scheduler_.Bind();
  while (stop_ == 0) {
    ClosePending();
    EvictOldest();

    if (!WaitReady(NextWaitMs(NowMs()))) {
      CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server errorno[%d]", int(GetLastError()));
      continue;
    }
    // Clients in ascending handle order (the wait's order), each as far as
    // its bytes go.
    for (size_t i = 1; i < waitSockets_.size(); ++i) {
      auto it = state_.find(waitSockets_[i]);
      if (it == state_.end() || closing_.count(it->first) != 0) continue;
      Client* c = it->second.get();
      const bool woke = waitReady_[i];
      if (!woke && !c->due) continue;
      if (woke) c->mayRead = true;
      c->due = false;
      if (!Progress(it->first, c, woke)) QueueClose(it->first);
    }
    // Accepted last: a new client's socket is waited on from the next pass.
    if (waitReady_[0]) AcceptOne();
    CloseOverdue(NowMs());
  }
  FinishReplies();
  CHANNEL_LOG("CTcpServerSession::SchedulerInternal_server over");
  // The thread owns the sockets; once it has stopped nothing else serves them.
  for (const auto& client : closing_) {
    if (clients_.find(client.first) == clients_.end()) CloseClient(client.first);
  }
  while (!state_.empty()) CloseClient(state_.begin()->first);
  clients_.clear();
  closing_.clear();
  closesocket(listener_);
  listener_ = INVALID_SOCKET;
  scheduler_.Release();
  running_ = false;
}
