// CP2SSocket over the foundation's socket.
#include "server/http/p2s_socket.h"

#include <atomic>

#include "foundation/util/net_address.h"
#include "server/http/codec/http_request.h"
#include "server/http/p2s_settings.h"

namespace {
std::atomic<int> g_connecting{0};

class ConnectSlot {
 public:
  ~ConnectSlot() { Release(); }
  void Hold() { held_ = true; }
  void Release() {
    if (held_) --g_connecting;
    held_ = false;
  }

 private:
  bool held_ = false;
};

bool Signalled(HANDLE event) { return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }
}  // namespace

CP2SSocket::CP2SSocket() { ResetExchange(); }

CP2SSocket::~CP2SSocket() { Close(); }

int CP2SSocket::ConnectingNow() { return g_connecting.load(); }

void CP2SSocket::ResetExchange() {
  result_ = kHttpPending;
  response_.Reset();
}

void CP2SSocket::OnResponse(const uint8_t*, size_t) {}

int CP2SSocket::SendRequest(const char* method, const std::string& url, const uint8_t* body, size_t length) {
  request_.clear();
  url_ = UrlParts();
  if (url.empty() || !ParseUrl(url, &url_)) return kHttpEmptyUrl;
  request_ = BuildHttpRequest(method ? method : "GET", url_.path, body, length);
  return 0;
}

bool CP2SSocket::TakeConnectSlot(ULONGLONG deadline) {
  for (;;) {
    int now = g_connecting.load();
    if (now < kMaxConnecting && g_connecting.compare_exchange_weak(now, now + 1)) return true;
    // All slots taken: only a caller that can be cancelled may wait for one.
    if (!cancel_ || GetTickCount64() >= deadline || WaitForSingleObject(cancel_, 100) != WAIT_TIMEOUT) return false;
  }
}

void CP2SSocket::Run(HANDLE cancel, DWORD timeoutMs, DWORD deadlineMs) {
  cancel_ = cancel;
  socket_.Close();
  ResetExchange();  // a response of an earlier exchange must not run into this one
  result_ = Exchange(timeoutMs, GetTickCount64() + deadlineMs);
}

int CP2SSocket::Exchange(DWORD timeoutMs, ULONGLONG deadline) {
  if (request_.empty()) return kHttpEmptyUrl;
  // Each step waits its time-out, but never past the exchange's deadline.
  auto stepMs = [&]() -> uint32_t {
    const ULONGLONG now = GetTickCount64();
    const ULONGLONG left = now >= deadline ? 0 : deadline - now;
    return uint32_t(left < timeoutMs ? left : timeoutMs);
  };
  if (Signalled(cancel_) || !socket_.Create()) return kHttpNoConnection;
  socket_.SetCancelEvent(cancel_);

  ConnectSlot slot;
  if (!TakeConnectSlot(deadline)) return kHttpNoConnection;
  slot.Hold();
  if (url_.port == 0 || url_.port > 65535) return kHttpNoConnection;
  // Looked up within this exchange's time and ended by its cancel event.
  const uint32_t address = ServerAddress(url_.host, stepMs(), cancel_);
  if (address == 0) return kHttpNoConnection;
  if (socket_.ConnectTimeout(stepMs(), address, uint16_t(url_.port)) != 0) return kHttpNoConnection;
  slot.Release();

  if (socket_.SendAll(stepMs(), request_.data(), int(request_.size())) != int(request_.size())) return kHttpSendFailed;

  uint8_t block[kReadBlock];
  for (;;) {
    const int got = socket_.Recv(stepMs(), block, sizeof block);
    if (got <= 0) return kHttpIncomplete;
    switch (response_.Feed(block, size_t(got))) {
      case HttpResponseReader::kReading:
        continue;
      case HttpResponseReader::kComplete:
        break;
      default:
        return kHttpMalformed;
    }
    // Complete: bytes behind the announced body are not read.
    result_ = kHttpPending;
    OnResponse(response_.Body().data(), response_.Body().size());
    return result_ == kHttpPending ? kHttpOk : result_;
  }
}

int CP2SSocket::Execute(HANDLE cancel, DWORD timeoutMs, DWORD deadlineMs) {
  Run(cancel, timeoutMs, deadlineMs);
  Close();
  return cancel && !Signalled(cancel) ? 1 : 0;
}
