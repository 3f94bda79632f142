// CP2SSocket: the small HTTP/1.1 client under the lookup and p2s clients.
// One request and one response at a time over a fresh direct connection,
// within a per-step time-out and an overall deadline, ended at once by a
// cancel event; the body goes to the subclass's response hook.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/text/url_parse.h"
#include "foundation/util/tcp_socket.h"
#include "server/http/codec/http_codes.h"
#include "server/http/codec/http_response.h"

class CP2SSocket {
 public:
  // Connection attempts the whole program may have in progress at once.
  static constexpr int kMaxConnecting = 30;
  // Bytes taken from the connection per read.
  static constexpr int kReadBlock = 1024;

  CP2SSocket();
  virtual ~CP2SSocket();
  CP2SSocket(const CP2SSocket&) = delete;
  CP2SSocket& operator=(const CP2SSocket&) = delete;

  // Prepares the request bytes (nothing is sent): -4 for an empty or
  // unreadable URL, else 0.
  int SendRequest(const char* method, const std::string& url, const uint8_t* body, size_t length);
  // One exchange: connect, send, receive. Each step waits at most timeoutMs,
  // the whole exchange at most deadlineMs; a signalled cancel event ends it
  // at once. The outcome is Result().
  void Run(HANDLE cancel, DWORD timeoutMs, DWORD deadlineMs);
  // Run, then close the connection: 1 when the cancel event is not
  // signalled afterwards, 0 when it is or when there is none.
  int Execute(HANDLE cancel, DWORD timeoutMs, DWORD deadlineMs);
  // Result pending, response emptied; Run does it first.
  void ResetExchange();
  void Close() { socket_.Close(); }

  int Result() const { return result_; }
  const std::string& ResponseHead() const { return response_.HeadText(); }
  // The status code of the response head; 0 before a head came or when it has none.
  int ResponseStatus() const { return HttpResponseReader::StatusCode(response_.HeadText()); }

  // Attempts in progress now, program-wide (for tests).
  static int ConnectingNow();

 protected:
  // The complete body of an accepted response; the subclass decodes it and
  // sets the result. A hook that leaves the result pending accepts it.
  virtual void OnResponse(const uint8_t* body, size_t length);
  void SetResult(int code) { result_ = code; }

 private:
  int Exchange(DWORD timeoutMs, ULONGLONG deadline);
  bool TakeConnectSlot(ULONGLONG deadline);

  int result_ = kHttpPending;
  std::vector<uint8_t> request_;
  HttpResponseReader response_;
  CTcpSocket socket_;
  UrlParts url_;
  HANDLE cancel_ = nullptr;
};
