// The name lookup of the registration server, on a thread of its own so the
// scheduler never waits on the resolver, and the LAN probe that finds the
// address this machine reaches a server from.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace p2p {

// 0.x.x.x, 255.x.x.x and 169.254.x.x count as a failed lookup.
bool usable_server_address(uint32_t ip);

class server_resolver {
 public:
  server_resolver() = default;
  ~server_resolver();
  server_resolver(const server_resolver&) = delete;
  server_resolver& operator=(const server_resolver&) = delete;

  // Starts a lookup unless one is running.
  void start(const std::string& host);
  bool running() const { return job_ != nullptr; }
  // -1 while the lookup runs (or none was started); else its usable
  // addresses (network order) go to *addresses and the result is 1, or 0 for none.
  int take(std::vector<uint32_t>* addresses);
  // The session's end: a lookup still running is waited for a short while and left to itself.
  void abandon();

  struct job;

 private:
  std::shared_ptr<job> job_;
  HANDLE thread_ = nullptr;
};

// The local address a datagram to ip:port (network order address) would leave from; 0 when unknown.
uint32_t lan_address_toward(uint32_t ip, uint16_t port);

}  // namespace p2p
