// The lookup thread and the LAN probe.
#include "p2pcore/ke/server_resolver.h"

#include <process.h>
#include <ws2tcpip.h>

#include <atomic>

namespace p2p {

struct server_resolver::job {
  std::string host;
  std::vector<uint32_t> addresses;
  std::atomic<int> done{0};  // set by the lookup thread, read by the scheduler
};

bool usable_server_address(uint32_t ip) {
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&ip);
  return b[0] != 0 && b[0] != 255 && !(b[0] == 169 && b[1] == 254);
}

namespace {
unsigned __stdcall resolve_entry(void* arg) {
  // The thread holds its own reference: the session may move on without it.
  auto* ref = static_cast<std::shared_ptr<server_resolver::job>*>(arg);
  server_resolver::job& j = **ref;
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(j.host.c_str(), nullptr, &hints, &list) == 0) {
    for (addrinfo* a = list; a; a = a->ai_next)
      j.addresses.push_back(reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(list);
  }
  j.done = 1;
  delete ref;
  return 0;
}
}  // namespace

server_resolver::~server_resolver() { abandon(); }

void server_resolver::start(const std::string& host) {
  if (job_) return;
  job_ = std::make_shared<job>();
  job_->host = host;
  auto* ref = new std::shared_ptr<job>(job_);
  if (thread_) CloseHandle(thread_);
  thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, resolve_entry, ref, 0, nullptr));
  if (!thread_) {
    delete ref;
    job_->done = 1;
  }
}

int server_resolver::take(std::vector<uint32_t>* addresses) {
  if (!job_ || !job_->done) return -1;
  std::shared_ptr<job> j = std::move(job_);
  addresses->clear();
  for (uint32_t a : j->addresses)
    if (usable_server_address(a)) addresses->push_back(a);
  return addresses->empty() ? 0 : 1;
}

void server_resolver::abandon() {
  if (thread_) {
    WaitForSingleObject(thread_, 2000);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  job_.reset();
}

uint32_t lan_address_toward(uint32_t ip, uint16_t port) {
  SOCKET probe = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (probe == INVALID_SOCKET) return 0;
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = ip;
  to.sin_port = htons(port);
  sockaddr_in local = {};
  int len = sizeof local;
  uint32_t found = 0;
  if (connect(probe, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
      getsockname(probe, reinterpret_cast<sockaddr*>(&local), &len) == 0)
    found = local.sin_addr.s_addr;
  closesocket(probe);
  return found;
}

}  // namespace p2p
