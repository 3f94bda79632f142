// CTcpSocket: one non-blocking TCP socket with deadline-bound connect, send
// and receive, under the HTTP clients. Times are in milliseconds; failures
// are negative.
#pragma once
#include <winsock2.h>

#include <cstdint>

enum : int {
  kSocketError = -1,    // no socket, or the system refused
  kSocketTimeout = -3,  // the deadline passed
  kSocketCancelled = -4,  // the cancel event was signalled while waiting
};

class CTcpSocket {
 public:
  CTcpSocket() = default;
  ~CTcpSocket() { Close(); }
  CTcpSocket(const CTcpSocket&) = delete;
  CTcpSocket& operator=(const CTcpSocket&) = delete;

  // Closes a socket it holds and makes a new non-blocking one.
  bool Create();
  void Close();
  void Reset() { Close(); }
  bool IsValid() const { return socket_ != 0; }
  SOCKET Handle() const { return socket_; }
  // An event that ends every later wait of this socket as soon as it is
  // signalled (kSocketCancelled); null for none. The caller keeps it open.
  void SetCancelEvent(HANDLE cancel) { cancel_ = cancel; }

  // address is an in_addr value (network order). 0 when connected; the
  // negated error, kSocketError, kSocketTimeout or kSocketCancelled otherwise.
  int ConnectTimeout(uint32_t ms, uint32_t address, uint16_t port);
  // Sends all n bytes before the deadline: n, or kSocketError,
  // kSocketTimeout or kSocketCancelled. Never 0 or a positive count on failure.
  int SendAll(uint32_t ms, const void* data, int n);
  // The bytes received, 0 when the peer closed, kSocketError, kSocketTimeout
  // or kSocketCancelled.
  int Recv(uint32_t ms, void* buffer, int size);

  // A port outside 0..65534 counts as 0. 0 or the negated error.
  int Bind(uint32_t address, int port);
  // The bound port, or the negated error.
  int LocalPort() const;
  int Listen(int backlog);
  // 0 with the new connection in accepted; kSocketTimeout or the negated error.
  int AcceptTimeout(uint32_t ms, CTcpSocket* accepted);

 private:
  // Waits until the socket can be written (or read); 0, kSocketError,
  // kSocketTimeout or kSocketCancelled.
  int Wait(uint32_t ms, bool forWrite) const;
  int WaitOnce(uint32_t ms, bool forWrite) const;

  SOCKET socket_ = 0;
  HANDLE cancel_ = nullptr;
};
