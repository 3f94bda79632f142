// The server session: state, identity, the scheduler thread with its select
// loop and timers, the state machines over UDP and over the TCP link, the
// handlers of the servers' replies, and the request queue.
#include "p2pcore/ke/session.h"

#include <process.h>
#include <ws2tcpip.h>

#include <ctime>

#include <cstdio>
#include <cstring>

#include "p2pcore/codec/texts.h"
#include "p2pcore/io/SimpleUdpServer.h"
#include "p2pcore/ke/ShareResources_new.h"
#include "p2pcore/ke/options.h"
#include "p2pcore/ke/setting.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/scoped_lock.h"
#include "p2pcore/p2pbase/inc/winutil.h"
#include "p2pcore/stat/StatAPI.h"

namespace p2p {

namespace {

CP2pSession* g_session = nullptr;
CSimpleUdpServer* g_udp[2] = {nullptr, nullptr};

constexpr uint32_t kUdpKeepaliveMs = 180000;
constexpr uint32_t kLinkShareMs = 10000;
constexpr uint32_t kConnectTimeoutMs = 5000;
constexpr uint32_t kRebindWaitMs = 10000;
constexpr uint32_t kUdpMissingLogMs = 10000;
constexpr int kMaxResends = 5;
constexpr int kMaxDatagramsPerPass = 201;

bool usable_server_address(uint32_t ip) {
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&ip);
  return b[0] != 0 && b[0] != 255 && !(b[0] == 169 && b[1] == 254);
}

bool set_nonblocking(SOCKET s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}

bool elapsed(uint32_t now, uint32_t since, uint32_t period) { return now - since > period; }

struct limit_list_state {
  SRWLOCK lock = SRWLOCK_INIT;
  limit_ip_list list;
  bool loaded = false;
} g_limit;
}  // namespace

const char* session_state_name(int state) {
  switch (state) {
    case Session_State_BAD: return "Session_State_BAD";
    case Session_State_INIT: return "Session_State_INIT";
    case Session_State_DNS: return "Session_State_DNS";
    case Session_State_REGISTER: return "Session_State_REGISTER";
    case Session_State_QUERYSP: return "Session_State_QUERYSP";
    case Session_state_LOGIN: return "Session_state_LOGIN";
    case Session_State_SCHEDULER: return "Session_State_SCHEDULER";
    case Session_State_WAIT: return "Session_State_WAIT";
    case Session_State_ERROR: return "Session_State_ERROR";
    case Session_State_FINISH: return "Session_State_FINISH";
    default: return "State_Unknow";
  }
}

bool limit_ip_load() {
  AcquireSRWLockExclusive(&g_limit.lock);
  g_limit.loaded = false;
  FILE* f = std::fopen("./ipdata/iplist.dat", "rb");
  if (!f) {
    std::printf("inputfile\n");
    ReleaseSRWLockExclusive(&g_limit.lock);
    return false;
  }
  std::string text;
  char piece[0x4000];
  size_t n;
  while ((n = std::fread(piece, 1, sizeof piece, f)) > 0) text.append(piece, n);
  std::fclose(f);
  size_t count = g_limit.list.load(text);
  for (const ip_range& r : g_limit.list.ranges())
    std::printf("[from:%s] [to:%s]\n", ipv4_text(htonl(r.first)).c_str(), ipv4_text(htonl(r.last)).c_str());
  std::printf("total ip count [%d]\n", int(count));
  std::fflush(stdout);
  g_limit.loaded = true;
  ReleaseSRWLockExclusive(&g_limit.lock);
  return true;
}

bool limit_ip_check(const char* dotted) {
  AcquireSRWLockShared(&g_limit.lock);
  bool pass = true;
  uint32_t host = 0;
  if (g_limit.loaded) pass = dotted && parse_ipv4(dotted, &host) && g_limit.list.holds(host);
  ReleaseSRWLockShared(&g_limit.lock);
  return pass;
}

CP2pSession* get_session() {
  if (!g_session) g_session = new CP2pSession;
  return g_session;
}

CP2pSession* existing_session() { return g_session; }

void delete_session() {
  delete g_session;
  g_session = nullptr;
}

CSimpleUdpServer*& udp_server(int index) { return g_udp[index & 1]; }

CP2pSession::CP2pSession() {
  InitializeCriticalSection(&lock_);
  InitializeCriticalSection(&queue_lock_);
  InitializeCriticalSection(&rebind_lock_);
  id_.size = sizeof id_;
}

CP2pSession::~CP2pSession() {
  stop();
  drop_requests();
  DeleteCriticalSection(&rebind_lock_);
  DeleteCriticalSection(&queue_lock_);
  DeleteCriticalSection(&lock_);
}

void CP2pSession::set_session_state(int state, int next) {
  scoped_lock h(lock_);
  state_ = state;
  if (state == Session_State_INIT) resend_count_ = 0;
  if (next != -1) next_ = next;
  if (state == Session_State_WAIT) {
    ++retry_count_;
    wait_tick_ = GetTickCount();
  } else {
    retry_count_ = 0;
    wait_tick_ = 0;
  }
  if (state == Session_State_SCHEDULER) stat_set_online(true);
  P2P_LOG(2, "CP2pSession::SetSessionState,state=[%s],nextstate=[%s]", session_state_name(state_),
          session_state_name(next_));
}

int CP2pSession::state() {
  scoped_lock h(lock_);
  return state_;
}

int CP2pSession::next_state() {
  scoped_lock h(lock_);
  return next_;
}

void CP2pSession::restart_from_dns() {
  scoped_lock h(lock_);
  set_session_state(Session_State_INIT, Session_State_DNS);
  resend_count_ = retry_count_ = 0;
  dns_retry_ = dns_tick_ = nat_retry_ = nat_tick_ = 0;
  id_.public_ip = 0;
  id_.public_port = 0;
  id_.logged_in = 0;
  stat_set_online(false);
}

void CP2pSession::set_lan_port(uint16_t port) {
  scoped_lock h(lock_);
  id_.lan_port = port;
}

identity_block CP2pSession::identity() {
  scoped_lock h(lock_);
  return id_;
}

uint64_t CP2pSession::machine_id() {
  scoped_lock h(lock_);
  return machine_.pcid_new;
}

bool CP2pSession::get_id(uint64_t* machine, uint64_t* user, int* nat_class, int* nat_detail, uint32_t* public_ip,
                         int* public_port, uint32_t* lan_ip, int* lan_port) {
  scoped_lock h(lock_);
  const bool known = id_.public_ip != 0;
  if (machine) *machine = machine_.pcid_new;
  if (user) *user = id_.user_id;
  if (nat_class) *nat_class = known ? (id_.nat_type & 0xF0) : 0;
  if (nat_detail) *nat_detail = id_.nat_type & 0x0F;
  if (public_ip) *public_ip = id_.public_ip;
  if (public_port) *public_port = id_.public_port;
  if (lan_ip) *lan_ip = id_.lan_ip;
  if (lan_port) *lan_port = id_.lan_port;
  return known;
}

void CP2pSession::queue_request(uint32_t type, void* data, void* handle) {
  scoped_lock h(queue_lock_);
  requests_.push_back({type, data, handle});
}

bool CP2pSession::has_task(void* handle) {
  scoped_lock h(lock_);
  return tasks_.count(handle) != 0;
}

void CP2pSession::run_requests() {
  std::list<session_request> batch;
  {
    scoped_lock h(queue_lock_);
    batch.swap(requests_);
  }
  for (session_request& r : batch) {
    scoped_lock h(lock_);
    p2p_task* task = static_cast<p2p_task*>(r.handle);
    switch (r.type) {
      case kRequestAddTask:
        tasks_[task] = task;
        break;
      case kRequestStartTask:
        if (tasks_.count(task)) task->started = 1;
        break;
      case kRequestDeleteTask:
        if (tasks_.erase(task)) delete task;
        if (r.data) SetEvent(static_cast<HANDLE>(r.data));
        break;
      case kRequestFinish:
        delete[] static_cast<uint8_t*>(r.data);
        break;
    }
  }
}

void CP2pSession::drop_requests() {
  std::list<session_request> rest;
  {
    scoped_lock h(queue_lock_);
    rest.swap(requests_);
  }
  for (session_request& r : rest) {
    if (r.type == kRequestAddTask) delete static_cast<p2p_task*>(r.handle);
    if (r.type == kRequestFinish) delete[] static_cast<uint8_t*>(r.data);
    if (r.type == kRequestDeleteTask && r.data) SetEvent(static_cast<HANDLE>(r.data));
  }
  scoped_lock h(lock_);
  for (auto& [handle, task] : tasks_) delete task;
  tasks_.clear();
}

void CP2pSession::start() {
  if (thread_) return;
  P2P_LOG(4, limit_ip_load() ? "CP2pSession::load_ip_list load limit ip list success"
                             : "CP2pSession::load_ip_list load limit ip list fail");
  set_session_state(Session_State_INIT, Session_State_DNS);
  {
    scoped_lock h(lock_);
    id_.node_type = options().node_type;
    id_.user_id = settings().user_id;
    id_.subnet_id = uint16_t(settings().subnet_id);
    machine_id_init(&machine_);
    id_.lan_ip = machine_.adapter.ip;
    CSimpleUdpServer::set_user_id(id_.user_id);
  }
  get_shareres_manager()->pause_upload = 0;
  get_shareres_manager()->reload_share_list();
  stop_flag_ = 0;
  udp_mode_ = settings().tcp_udp != 0;
  stop_event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  rebind_done_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, scheduler_entry, this, 0, nullptr));
}

void CP2pSession::stop() {
  get_shareres_manager()->pause_upload = 1;
  if (!stop_event_) return;
  // The scheduler thread sends the logout itself: it owns the sockets.
  P2P_LOG(4, "CP2pSession::TermSession()  begin terminate p2p kernel .........");
  InterlockedExchange(&stop_flag_, 1);
  SetEvent(stop_event_);
  if (thread_) {
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  CloseHandle(stop_event_);
  stop_event_ = nullptr;
  if (rebind_done_) CloseHandle(rebind_done_);
  rebind_done_ = nullptr;
}

bool CP2pSession::bind_udp(uint16_t port) {
  CSimpleUdpServer*& udp = udp_server(0);
  if (udp && udp->is_open()) udp->close();
  if (!udp) udp = new (std::nothrow) CSimpleUdpServer;
  udp_ready_ = false;
  return udp && udp->bind_port(port);
}

bool CP2pSession::rebind_udp(uint16_t port) {
  if (!thread_) return bind_udp(port);
  {
    scoped_lock h(rebind_lock_);
    rebind_port_ = port;
    rebind_pending_ = true;
    ResetEvent(rebind_done_);
  }
  if (WaitForSingleObject(rebind_done_, kRebindWaitMs) != WAIT_OBJECT_0) return false;
  scoped_lock h(rebind_lock_);
  return rebind_result_;
}

void CP2pSession::handle_rebind() {
  uint16_t port = 0;
  {
    scoped_lock h(rebind_lock_);
    if (!rebind_pending_) return;
    port = rebind_port_;
  }
  const bool ok = bind_udp(port);
  scoped_lock h(rebind_lock_);
  rebind_pending_ = false;
  rebind_result_ = ok;
  SetEvent(rebind_done_);
}

unsigned __stdcall CP2pSession::scheduler_entry(void* self) {
  static_cast<CP2pSession*>(self)->scheduler();
  return 0;
}

bool CP2pSession::open_listen_socket() {
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    P2P_LOG(3, "TCP::Main create socket fail!");
    return false;
  }
  const char* failure = nullptr;
  BOOL reuse = TRUE;
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(uint16_t(settings().tcp_port));
  uint32_t host = 0;
  const std::string local = settings().tcp_local_host;
  addr.sin_addr.s_addr = (!local.empty() && parse_ipv4(local, &host)) ? htonl(host) : INADDR_ANY;
  if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse) != 0)
    failure = "TCP::Main setsockopt reuse fail!";
  else if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    failure = "TCP::Main bind socket fail!";
  else if (listen(s, 10) != 0)
    failure = "TCP::Main listen socket fail!";
  else if (!set_nonblocking(s))
    failure = "TCP::Main set_nonblock fail!";
  if (failure) {
    P2P_LOG(3, "%s", failure);
    closesocket(s);
    return false;
  }
  listen_ = s;
  return true;
}

void CP2pSession::write_network_facts() {
  identity_block id = identity();
  network_facts facts = {};
  facts.interface_name = machine_.adapter.name;
  std::memcpy(facts.mac, machine_.adapter.mac, 6);
  facts.lan_ip = id.lan_ip;
  facts.wan_ip = id.public_ip;
  facts.lan_port = id.lan_port;
  facts.wan_port = id.public_port;
  facts.bw_u = settings().bw_u;
  settings_write_network(facts);
}

void CP2pSession::scheduler_setup() {
  set_thread_name("p2p_scheduler");
  // The thread's own Winsock reference: the library may start before its UDP
  // port is set, when no socket object has started Winsock yet.
  winsock_start();
  // Without the listening socket peers cannot reach us over TCP, but the
  // session with the servers runs on over UDP.
  open_listen_socket();
  P2P_LOG(4, "=================TCP::Main Select FD_SETSIZE=[%d]====================", int(FD_SETSIZE));
  write_network_facts();
  std::vector<std::string> lines;
  read_lines(join_path(app_dir(), L"ipallow.csv"), &lines);
  allow_list_ = parse_allow_list(lines);
  if (!allow_list_.empty()) P2P_LOG(4, "load ip allow %d items...", int(allow_list_.size()));
  P2P_LOG(4, "channel id is %d\r\n", int(options().product_id));
  server_manager::instance().set_events(this);
  const uint32_t now = GetTickCount();
  keepalive_tick_ = share_send_tick_ = share_report_tick_ = keep_nat_tick_ = now;
  timer_tick_ = second_tick_ = minute_tick_ = start_tick_ = now;
  share_report_ms_ = 3600000;
  second_period_ms_ = 60000;
  share_send_ms_ = 5000;
  timer_step_ = 30;
}

void CP2pSession::scheduler() {
  scheduler_setup();
  while (!stop_flag_) scheduler_pass();
  send_logout();
  scheduler_end();
}

void CP2pSession::scheduler_pass() {
  handle_rebind();
  CSimpleUdpServer* udp = udp_server(0);
  if (!udp || !udp->is_open()) {
    const uint32_t now = GetTickCount();
    if (!udp_missing_log_tick_ || elapsed(now, udp_missing_log_tick_, kUdpMissingLogMs)) {
      P2P_LOG(3, "udp valid!");
      udp_missing_log_tick_ = now;
    }
    WaitForSingleObject(stop_event_, 1);
    return;
  }
  udp_missing_log_tick_ = 0;
  if (!udp_ready_) {
    if (!set_nonblocking(udp->socket())) {
      P2P_LOG(3, "TCP::Udp set_nonblock fail!");
      WaitForSingleObject(stop_event_, 100);
      return;
    }
    P2P_LOG(4, "TCP::Udp Add fdRead success!");
    udp_ready_ = true;
  }
  if (settings().force_tcp == 0) udp_mode_ = false;

  fd_set readable, writable, failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(udp->socket(), &readable);
  CSimpleUdpServer* nat = udp_server(1);
  if (nat && nat->is_open()) FD_SET(nat->socket(), &readable);
  if (listen_ != INVALID_SOCKET) FD_SET(listen_, &readable);
  server_manager& link = server_manager::instance();
  const bool link_readable = !udp_mode_ && link.holds_socket() && link.connected();
  if (link_readable) FD_SET(link.socket(), &readable);
  if (connecting_ != INVALID_SOCKET) {
    FD_SET(connecting_, &writable);
    FD_SET(connecting_, &failed);
  }
  timeval wait = {0, 30000};
  const int n = select(0, &readable, &writable, &failed, &wait);
  if (n == SOCKET_ERROR) {
    P2P_LOG(3, "TCP::Main select error=[%d]", WSAGetLastError());
    WaitForSingleObject(stop_event_, 30);
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
  }
  if (listen_ != INVALID_SOCKET && FD_ISSET(listen_, &readable)) accept_peers();
  if (FD_ISSET(udp->socket(), &readable)) receive_udp(udp);
  nat = udp_server(1);
  if (nat && nat->is_open() && FD_ISSET(nat->socket(), &readable)) receive_udp(nat);
  if (link_readable && link.holds_socket() && FD_ISSET(link.socket(), &readable)) receive_link();

  const uint32_t now = GetTickCount();
  poll_connect(writable, failed, now);
  if (!udp_mode_) link.flush();
  run_timers(now);
}

void CP2pSession::accept_peers() {
  for (;;) {
    SOCKET peer = accept(listen_, nullptr, nullptr);
    if (peer == INVALID_SOCKET) return;
    P2P_LOG(1, "TCP::Main Tcp Accpet Socket[%d]", int(peer));
    // Peers' TCP requests are served by the online-user side; until it is
    // present the connection is refused.
    P2P_LOG(3, "TCP::Main Accept Socket[%d] too many user!", int(peer));
    closesocket(peer);
  }
}

void CP2pSession::receive_udp(CSimpleUdpServer* udp) {
  static uint8_t buffer[65536];
  for (int i = 0; i < kMaxDatagramsPerPass; ++i) {
    sockaddr_in from = {};
    int from_len = sizeof from;
    const int n = recvfrom(udp->socket(), reinterpret_cast<char*>(buffer), sizeof buffer, 0,
                           reinterpret_cast<sockaddr*>(&from), &from_len);
    if (n == SOCKET_ERROR) {
      // Would-block ends the pass; anything else (a reset from an old send) is skipped.
      if (WSAGetLastError() == WSAEWOULDBLOCK) return;
      continue;
    }
    if (n == 0) continue;
    stat_note_datagram_received();
    p2p::UdpChecked packet = udp->process(buffer, size_t(n), from);
    if (packet.result == p2p::UdpCheck::kCommand) dispatch(packet, from);
    // The NAT test socket may be gone after a NAT result: stop reading it.
    if (udp != udp_server(0) && udp != udp_server(1)) return;
  }
}

void CP2pSession::receive_link() {
  server_manager& link = server_manager::instance();
  uint8_t buffer[16384];
  for (;;) {
    if (!link.connected() || !link.holds_socket()) return;
    const int n = recv(link.socket(), reinterpret_cast<char*>(buffer), sizeof buffer, 0);
    if (n > 0) {
      link.receive(buffer, size_t(n));
      continue;
    }
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return;
    link.mark_broken();
    return;
  }
}

void CP2pSession::scheduler_end() {
  cp_addresses_.clear();
  drop_requests();
  if (resolve_thread_) {
    // A name lookup still running keeps its own job alive; it is not waited for long.
    WaitForSingleObject(resolve_thread_, 2000);
    CloseHandle(resolve_thread_);
    resolve_thread_ = nullptr;
  }
  resolving_.reset();
  if (connecting_ != INVALID_SOCKET) closesocket(connecting_);
  connecting_ = INVALID_SOCKET;
  server_manager::instance().flush();
  server_manager::instance().close();
  if (listen_ != INVALID_SOCKET) closesocket(listen_);
  listen_ = INVALID_SOCKET;
  get_shareres_manager()->clear();
  settings_write_user_id(identity().user_id);
  P2P_LOG(4, "ul bandwidth max : %d KB", int(get_shareres_manager()->upload_speed_limit() >> 10));
  P2P_LOG(4, "CP2pSession::SchedulerInternal to free");
  server_manager::destroy();
  P2P_LOG(4, "CP2pSession::SchedulerInternal_cdn::  terminate p2p kernel ok!!!!!!!!!!");
  WSACleanup();
}

// ---- timers and the state machines

void CP2pSession::run_timers(uint32_t now) {
  if (int32_t(now - timer_tick_) < 0) {
    P2P_LOG(3, "Time Error");
  } else if (now - timer_tick_ < timer_step_) {
    return;
  }
  timer_tick_ = now;
  if (now - second_tick_ >= 1000) {
    second_tick_ = now;
    stat_roll_second();
  }
  if (now - minute_tick_ >= 60000) {
    minute_tick_ = now;
    stat_report_minute();
  }
  if (udp_mode_)
    udp_machine(now);
  else
    tcp_machine(now);
  if (state() == Session_State_SCHEDULER) run_requests();
}

bool CP2pSession::resend_due(uint32_t now) {
  const uint32_t k = retry_count_ < 16 ? 1 : std::min<uint32_t>(retry_count_, 100);
  return now - wait_tick_ > k * 3000;
}

CP2pSession::endpoint CP2pSession::cp_endpoint(bool random_pick) {
  endpoint e;
  if (cp_addresses_.empty()) return e;
  const size_t i = random_pick ? size_t(rand()) % cp_addresses_.size() : size_t(time(nullptr)) % cp_addresses_.size();
  e.ip = cp_addresses_[i];
  e.port = options().server_udp_port;
  return e;
}

struct CP2pSession::resolve_job {
  std::string host;
  std::vector<uint32_t> addresses;
  volatile LONG done = 0;
};

namespace {
unsigned __stdcall resolve_entry(void* arg) {
  // The thread holds its own reference: the session may move on without it.
  auto* job = static_cast<std::shared_ptr<CP2pSession::resolve_job>*>(arg);
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* list = nullptr;
  if (getaddrinfo((*job)->host.c_str(), nullptr, &hints, &list) == 0) {
    for (addrinfo* a = list; a; a = a->ai_next)
      (*job)->addresses.push_back(reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(list);
  }
  InterlockedExchange(&(*job)->done, 1);
  delete job;
  return 0;
}
}  // namespace

void CP2pSession::start_resolve() {
  if (resolving_) return;
  resolving_ = std::make_shared<resolve_job>();
  resolving_->host = settings().serv_host.empty() ? options_server_host() : settings().serv_host;
  auto* ref = new std::shared_ptr<resolve_job>(resolving_);
  if (resolve_thread_) CloseHandle(resolve_thread_);
  resolve_thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, resolve_entry, ref, 0, nullptr));
  if (!resolve_thread_) {
    delete ref;
    InterlockedExchange(&resolving_->done, 1);
  }
}

int CP2pSession::finish_resolve() {
  if (!resolving_ || !resolving_->done) return -1;
  std::shared_ptr<resolve_job> job = std::move(resolving_);
  cp_addresses_.clear();
  for (uint32_t a : job->addresses)
    if (usable_server_address(a)) cp_addresses_.push_back(a);
  return cp_addresses_.empty() ? 0 : 1;
}

// The DNS timer of INIT: starts a lookup when it fires and takes its result
// when it is there, so neither the caller nor this thread waits on the resolver.
bool CP2pSession::dns_step(uint32_t now, bool tcp) {
  const uint32_t base = 5000;
  const uint32_t period = dns_retry_ < 4 ? base : dns_retry_ * base;
  if (!resolving_) {
    if (dns_tick_ && now - dns_tick_ < period) return false;
    dns_tick_ = now;
    if (dns_retry_ < 120) ++dns_retry_;
    start_resolve();
    return false;
  }
  const int r = finish_resolve();
  if (r < 0) return false;
  const std::string host = settings().serv_host.empty() ? options_server_host() : settings().serv_host;
  if (r == 0) {
    const uint32_t next = dns_retry_ < 4 ? base : dns_retry_ * base;
    P2P_LOG(3, tcp ? "TCP::dns : %s resolve failed. wait %d seconds retry..." : "dns : %s resolve failed. wait %d seconds retry...",
            host.c_str(), int(next / 1000));
    timer_step_ = 1000;
    return false;
  }
  const endpoint e = cp_endpoint(false);
  P2P_LOG(2, tcp ? "TCP::dns : %s is %s" : "dns : %s is %s", host.c_str(), ipv4_text(e.ip).c_str());
  timer_step_ = 30;
  dns_retry_ = 0;
  dns_tick_ = 0;
  return true;
}

void CP2pSession::rebuild_identity() {
  machine_id_init(&machine_);
  id_.size = sizeof id_;
  id_.node_type = options().node_type;
  if (machine_.adapter.ip) id_.lan_ip = machine_.adapter.ip;
  if (!id_.lan_ip && !cp_addresses_.empty()) {
    // No adapter to name: the address this machine reaches the server from.
    SOCKET probe = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = cp_addresses_[0];
    to.sin_port = htons(options().server_udp_port);
    sockaddr_in local = {};
    int len = sizeof local;
    if (probe != INVALID_SOCKET && connect(probe, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&local), &len) == 0)
      id_.lan_ip = local.sin_addr.s_addr;
    if (probe != INVALID_SOCKET) closesocket(probe);
  }
  const uint8_t* m = machine_.adapter.mac;
  char mac[20];
  std::snprintf(mac, sizeof mac, "%02X%02X-%02X%02X-%02X%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
  P2P_LOG(4, "using network interface: [%s], ip [%s]", machine_.adapter.name.c_str(), ipv4_text(id_.lan_ip).c_str());
  P2P_LOG(4, "MAC:%s IP:%s Serial:%08X PCID:%s PCID_NEW:%08X-%08X", mac, ipv4_text(id_.lan_ip).c_str(),
          unsigned(machine_.volume_serial), pcid_text().c_str(), unsigned(machine_.pcid_new >> 32),
          unsigned(machine_.pcid_new & 0xFFFFFFFFu));
}

std::string CP2pSession::pcid_text() { return bin_to_hex(machine_.pcid, sizeof machine_.pcid); }

p2p::LocalIdentity CP2pSession::local_identity() {
  p2p::LocalIdentity l;
  l.user_id = id_.user_id;
  l.node_type = options().node_type;
  l.nat_type = id_.nat_type;
  l.nat_value = id_.nat_value;
  l.public_ip = id_.public_ip;
  l.public_port = id_.public_port;
  l.lan_ip = id_.lan_ip;
  l.lan_port = id_.lan_port;
  l.tcp_port = uint16_t(settings().tcp_port);
  l.subnet_id = id_.subnet_id;
  const int64_t limit_kb = int64_t(get_shareres_manager()->upload_speed_limit() >> 10);
  l.upload_kb = uint16_t(std::min<int64_t>(std::max<int64_t>(settings().bw_u ? settings().bw_u : limit_kb, 0), 0xFFFF));
  uint16_t version[4] = {};
  module_version(version);
  l.build = version[3];
  l.product_id = uint32_t(options().product_id);
  std::memcpy(l.machine_id, machine_.pcid, 16);
  return l;
}

// The keep-NAT timer of a logged-in session, over either transport.
void CP2pSession::keep_nat_step(uint32_t now) {
  if (!elapsed(now, keep_nat_tick_, keep_nat_ms_)) return;
  keep_nat_tick_ = now;
  send_udp(p2p::udp_keep_nat_body(local_identity()), sp_);
  P2P_LOG(1, "send keep_NAT_port: sp[%s:%d]", ipv4_text(sp_.ip).c_str(), int(sp_.port));
}

void CP2pSession::udp_machine(uint32_t now) {
  bool share_send = false, share_reset = false;
  {
    scoped_lock h(lock_);
    switch (state_) {
      case Session_State_INIT:
        if (next_ != Session_State_DNS) break;
        if (cp_addresses_.empty() || resolving_) {
          if (!dns_step(now, false)) {
            if (WaitForSingleObject(stop_event_, 0) == WAIT_OBJECT_0) InterlockedExchange(&stop_flag_, 1);
            break;
          }
        }
        rebuild_identity();
        P2P_LOG(2, "bind port: %d", int(id_.lan_port));
        set_session_state(Session_State_DNS, Session_State_REGISTER);
        break;
      case Session_State_DNS:
        if (next_ != Session_State_REGISTER) break;
        cp_ = cp_endpoint(false);
        if (id_.user_id == 0) {
          send_register();
          set_session_state(Session_State_WAIT, Session_State_REGISTER);
        } else {
          set_session_state(Session_State_REGISTER, Session_State_QUERYSP);
        }
        break;
      case Session_State_REGISTER:
        if (next_ != Session_State_QUERYSP) break;
        if (!cp_.ip) cp_ = cp_endpoint(false);
        send_query();
        set_session_state(Session_State_WAIT, Session_State_QUERYSP);
        break;
      case Session_State_QUERYSP:
        if (next_ != Session_state_LOGIN) break;
        send_login();
        set_session_state(Session_State_WAIT, Session_state_LOGIN);
        break;
      case Session_State_WAIT: {
        if (!resend_due(now)) break;
        const int next = next_;
        // The time-out that finds the fifth resend unanswered changes transport.
        if (int(resend_count_) >= kMaxResends) {
          if (next == Session_State_REGISTER)
            change_to_tcp(false, "Session: Send register timeout Change TCP");
          else if (next == Session_State_QUERYSP)
            change_to_tcp(false, "Session: Send querysp timeout Change TCP");
          else if (next == Session_state_LOGIN)
            change_to_tcp(true, "Session: Send login timeout Change TCP");
          break;
        }
        ++resend_count_;
        if (next == Session_State_REGISTER) {
          cp_ = cp_endpoint(false);
          send_register();
        } else if (next == Session_State_QUERYSP) {
          cp_ = cp_endpoint(true);
          send_query();
        } else if (next == Session_state_LOGIN) {
          send_login();
        }
        set_session_state(Session_State_WAIT, next);
        break;
      }
      case Session_State_SCHEDULER: {
        if (elapsed(now, share_send_tick_, share_send_ms_)) {
          share_send_tick_ = now;
          share_send = true;
        }
        if (elapsed(now, share_report_tick_, share_report_ms_)) {
          share_report_tick_ = now;
          share_reset = share_send = true;
        }
        const uint8_t node = options().node_type;
        if ((node < 5 || node > 7) && (id_.nat_type & 0x0F) == 0) {
          const uint32_t period = nat_retry_ < 4 ? 30000 : nat_retry_ * 30000;
          if (now - nat_tick_ > period) {
            nat_tick_ = now;
            if (nat_retry_ < 120) ++nat_retry_;
          }
        }
        if (elapsed(now, keepalive_tick_, kUdpKeepaliveMs)) {
          if (keepalive_misses_ >= 4) {
            P2P_LOG(3, "Keepalive response miss three times");
            keepalive_misses_ = 0;
            set_session_state(Session_State_REGISTER, Session_State_QUERYSP);
          } else {
            keepalive_tick_ = now;
            send_keepalive();
          }
        }
        keep_nat_step(now);
        break;
      }
      default:
        break;
    }
  }
  if (options().no_submit_share) return;
  if (share_reset) get_shareres_manager()->reset_shareres_stat();
  if (share_send) get_shareres_manager()->send_shareres_to_sp(*this);
}

void CP2pSession::change_to_tcp(bool to_up, const char* why) {
  P2P_LOG(3, "%s", why);
  udp_mode_ = false;
  server_manager& link = server_manager::instance();
  if (link.holds_socket()) link.close();
  if (connecting_ != INVALID_SOCKET) closesocket(connecting_);
  connecting_ = INVALID_SOCKET;
  connect_purpose_ = kConnectNone;
  if (to_up && up_.ip && up_.port) {
    P2P_LOG(3, "TCP::ServerManager Reconnect to Up");
    begin_connect(up_, kConnectUp);
    return;
  }
  P2P_LOG(3, "TCP::ServerManager Reconnect to Cp");
  set_session_state(Session_State_INIT, Session_State_DNS);
}

void CP2pSession::begin_connect(endpoint to, connect_purpose purpose) {
  if (connecting_ != INVALID_SOCKET) closesocket(connecting_);
  connecting_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  connect_purpose_ = purpose;
  connect_to_ = to;
  connect_tick_ = GetTickCount();
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = to.ip;
  addr.sin_port = htons(to.port);
  // Non-blocking: the select loop learns the outcome, no thread waits on it.
  if (connecting_ == INVALID_SOCKET || !set_nonblocking(connecting_) ||
      (connect(connecting_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 &&
       WSAGetLastError() != WSAEWOULDBLOCK)) {
    connect_tick_ -= kConnectTimeoutMs + 1;  // reported as failed by the next poll
  }
}

void CP2pSession::poll_connect(const fd_set& writable, const fd_set& failed, uint32_t now) {
  if (connect_purpose_ == kConnectNone) return;
  bool done = false, ok = false;
  if (connecting_ != INVALID_SOCKET && FD_ISSET(connecting_, &writable)) {
    int error = 0;
    int len = sizeof error;
    getsockopt(connecting_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len);
    done = true;
    ok = error == 0;
  } else if ((connecting_ != INVALID_SOCKET && FD_ISSET(connecting_, &failed)) ||
             now - connect_tick_ > kConnectTimeoutMs) {
    done = true;
  }
  if (!done) return;
  const connect_purpose purpose = connect_purpose_;
  const endpoint to = connect_to_;
  connect_purpose_ = kConnectNone;
  SOCKET s = connecting_;
  connecting_ = INVALID_SOCKET;
  scoped_lock h(lock_);
  if (ok) {
    server_manager::instance().attach(s);
    if (purpose == kConnectCp) {
      P2P_LOG(2, "TCP::ServerManager Connect to Cp[%s:%d] success!", ipv4_text(to.ip).c_str(), int(to.port));
      set_session_state(Session_State_DNS, Session_State_REGISTER);
    } else {
      P2P_LOG(2, "TCP::ServerManager Connect Up[%s:%d] success!", ipv4_text(to.ip).c_str(), int(to.port));
      set_session_state(Session_State_QUERYSP, Session_state_LOGIN);
    }
    return;
  }
  if (s != INVALID_SOCKET) closesocket(s);
  if (purpose == kConnectCp) {
    P2P_LOG(3, "TCP::ServerManager Connect to Cp[%s:%d] fail!", ipv4_text(to.ip).c_str(), int(to.port));
    udp_mode_ = true;
    // TCP only: the next attempt waits a second (without holding up the loop).
    if (settings().force_tcp == 0) connect_retry_tick_ = now;
  } else {
    P2P_LOG(3, "TCP::ServerManager Connect Up [%s:%d] fail!Reconnct to Cp!", ipv4_text(to.ip).c_str(), int(to.port));
  }
  set_session_state(Session_State_INIT, Session_State_DNS);
}

void CP2pSession::link_pass_step() {
  server_manager& link = server_manager::instance();
  if (!link.holds_socket() || link.connected()) return;
  link.close();
  udp_mode_ = true;
  set_session_state(Session_State_INIT, Session_State_DNS);
  P2P_LOG(3, "TCP::ServerManager IO Error but not done");
}

void CP2pSession::tcp_machine(uint32_t now) {
  bool share_periodic = false;
  {
    scoped_lock h(lock_);
    link_pass_step();
    if (udp_mode_ || connect_purpose_ != kConnectNone) return;
    server_manager& link = server_manager::instance();
    switch (state_) {
      case Session_State_INIT:
        if (next_ != Session_State_DNS) break;
        if (cp_addresses_.empty() || resolving_) {
          if (!dns_step(now, true)) break;
          rebuild_identity();
        }
        if (connect_retry_tick_ && now - connect_retry_tick_ < 1000) break;
        connect_retry_tick_ = 0;
        if (link.holds_socket()) link.close();
        cp_ = cp_endpoint(false);
        begin_connect({cp_.ip, options().server_tcp_port}, kConnectCp);
        break;
      case Session_State_DNS:
        if (next_ != Session_State_REGISTER) break;
        send_tcp_register();
        set_session_state(Session_State_WAIT, Session_State_REGISTER);
        break;
      case Session_State_QUERYSP:
        if (next_ != Session_state_LOGIN) break;
        send_tcp_login();
        set_session_state(Session_State_WAIT, Session_state_LOGIN);
        break;
      case Session_State_WAIT:
        if (!resend_due(now)) break;
        if (next_ == Session_State_REGISTER) {
          P2P_LOG(3, "TCP::Main register cp timeout!");
          link.mark_broken();
        } else if (next_ == Session_state_LOGIN) {
          P2P_LOG(3, "TCP::Main login up timeout!");
          link.mark_broken();
        }
        break;
      case Session_State_SCHEDULER:
        if (elapsed(now, link.share_tick, kLinkShareMs)) {
          P2P_LOG(9, "================ Pre to send share! ================");
          share_periodic = true;
        }
        if (elapsed(now, keepalive_tick_, link_keepalive_ms_)) {
          if (keepalive_misses_ >= 4) {
            P2P_LOG(3, "keep alive timeout %d", int(keepalive_misses_));
            link.mark_broken();
            keepalive_misses_ = 0;
          } else {
            send_tcp_keepalive();
            send_keepalive2();
          }
        }
        keep_nat_step(now);
        break;
      default:
        break;
    }
  }
  if (share_periodic && !options().no_submit_share) {
    server_manager::instance().share_tick = now;
    get_shareres_manager()->send_shareres_to_up(true, *this);
  }
}

// ---- requests

void CP2pSession::send_udp(const std::vector<uint8_t>& body, endpoint to) {
  CSimpleUdpServer* udp = udp_server(0);
  if (udp && to.ip && to.port) udp->send(body.data(), body.size(), to.ip, to.port, true);
}

void CP2pSession::send_register() {
  send_udp(p2p::udp_register_body(local_identity()), cp_);
  P2P_LOG(2, "send register: cp[%s:%d] pcid[%s]", ipv4_text(cp_.ip).c_str(), int(cp_.port), pcid_text().c_str());
}

void CP2pSession::send_query() {
  send_udp(p2p::udp_query_sp_body(local_identity()), cp_);
  P2P_LOG(2, "query spnode: cp[%s:%d]", ipv4_text(cp_.ip).c_str(), int(cp_.port));
}

void CP2pSession::send_login() {
  if (login_target_ == p2p::kLoginTargetSuperNode) {
    send_udp(p2p::udp_login_sp_body(local_identity()), sp_);
    P2P_LOG(2, "send login : sp[%s:%d] myuserid: %llu", ipv4_text(sp_.ip).c_str(), int(sp_.port),
            (unsigned long long)id_.user_id);
  } else {
    send_udp(p2p::udp_login_up_body(local_identity()), sp_);
    P2P_LOG(2, "send login : up[%s:%d] myuserid: %llu", ipv4_text(sp_.ip).c_str(), int(sp_.port),
            (unsigned long long)id_.user_id);
  }
}

void CP2pSession::send_keepalive() {
  send_udp(p2p::udp_keepalive_body(local_identity()), sp_);
  if (udp_mode_) ++keepalive_misses_;
  P2P_LOG(2, "send keeplive: sp[%s:%u] pcid [%s]", ipv4_text(sp_.ip).c_str(), unsigned(sp_.port), pcid_text().c_str());
}

void CP2pSession::send_keepalive2() {
  send_udp(p2p::udp_keepalive2_body(local_identity()), sp_);
  P2P_LOG(2, "send keeplive: sp[%s:%u] pcid[%s] ", ipv4_text(sp_.ip).c_str(), unsigned(sp_.port), pcid_text().c_str());
}

void CP2pSession::send_logout() {
  scoped_lock h(lock_);
  if (udp_mode_) {
    if (!sp_.ip) return;
    send_udp(p2p::udp_logout_body(local_identity()), sp_);
    P2P_LOG(2, "send logout: sp[%s:%d]", ipv4_text(sp_.ip).c_str(), int(sp_.port));
    return;
  }
  server_manager& link = server_manager::instance();
  if (!link.connected()) return;
  link.send(p2p::kTcpLogout, p2p::tcp_logout_body(GetTickCount() - start_tick_));
  P2P_LOG(2, "TCP::send logout: up\r\n");
}

void CP2pSession::send_tcp_register() {
  server_manager::instance().send(p2p::kTcpRegister, p2p::tcp_register_body(local_identity(), pcid_text().c_str()));
  P2P_LOG(2, "TCP::ServerManager Send Register to cp!pcid[%s]", pcid_text().c_str());
}

void CP2pSession::send_tcp_login() {
  server_manager::instance().send(p2p::kTcpLogin, p2p::tcp_login_body(local_identity()));
  P2P_LOG(2, "TCP::ServerManager Send Login Up and Myuserid: %llu", (unsigned long long)id_.user_id);
}

void CP2pSession::send_tcp_keepalive() {
  const int shares = get_shareres_manager()->share_count();
  const bool sent = server_manager::instance().send(
      p2p::kTcpKeepalive, p2p::tcp_keepalive_body(GetTickCount() - start_tick_, uint16_t(std::min(shares, 0xFFFF))));
  ++keepalive_misses_;
  P2P_LOG(2, "TCP::ServerManager Send Keepalive to Up!");
  if (sent) keepalive_tick_ = GetTickCount();
}

// ---- replies

bool CP2pSession::expected(const char* what, const sockaddr_in& from, const endpoint& server, int state, int next) {
  // Only the server being talked to, and only while its reply is awaited.
  const bool from_server = server.matches(from);
  const bool in_state = state_ == state && (next < 0 || next_ == next);
  if (from_server && in_state) return true;
  P2P_LOG(1, "ignored %s from [%s:%u] (%s, %s)", what, ipv4_text(from.sin_addr.s_addr).c_str(),
          unsigned(ntohs(from.sin_port)), from_server ? "expected server" : "not the server",
          session_state_name(state_));
  return false;
}

void CP2pSession::dispatch(const p2p::UdpChecked& packet, const sockaddr_in& from) {
  const uint8_t* body = packet.body();
  const size_t n = packet.body_length();
  const uint16_t command = packet.command;
  const std::string source = ipv4_text(from.sin_addr.s_addr);
  const unsigned port = ntohs(from.sin_port);
  switch (command) {
    case p2p::kUdpRegisterReply:
      on_register_reply(body, n, from);
      return;
    case p2p::kUdpSpList:
    case p2p::kUdpSpReply:
    case p2p::kUdpSpServers:
      on_super_node_reply(command, body, n, from);
      return;
    case p2p::kUdpLoginReply:
    case p2p::kUdpLoginUpReply:
      on_login_reply(body, n, from);
      return;
    case p2p::kUdpKeepaliveReply:
    case p2p::kUdpKeepalive2Reply:
      on_keepalive_reply(body, n, from);
      return;
    case p2p::kUdpNatPortCheck:
      on_nat_port_check(body, n, from);
      return;
    case p2p::kUdpShareAccepted:
    case p2p::kUdpShareAccepted2: {
      bool ok;
      {
        scoped_lock h(lock_);
        ok = expected("share acknowledgement", from, sp_, Session_State_SCHEDULER, -1);
      }
      if (ok) get_shareres_manager()->server_accept_share(body, n, *this);
      return;
    }
    case p2p::kUdpNatFullConeTest:
    case p2p::kUdpNatCallMeTest:
    case p2p::kUdpNatRestrictedTest:
      on_nat_probe(command, body, n, from);
      return;
    case p2p::kUdpNatResult:
      on_nat_result(body, n, from);
      return;
    case p2p::kUdpShareNotice:
      return;
    case p2p::kUdpVerifyRange:
      if (n < 50) P2P_LOG(2, "get verify range packet too small %d", int(n));
      return;
    case p2p::kUdpFinishRange:
    case p2p::kUdpFinishRange2:
      if (n < 2 + 8 + 16) P2P_LOG(3, "finish range packet too small %d", int(n));
      return;
    case p2p::kUdpPeerList:
    case p2p::kUdpPeerList2: {
      p2p::PeerListHead head;
      const p2p::ReplyError e = p2p::parse_peer_list(body, n, head);
      if (e != p2p::ReplyError::kNone || head.user_id != identity().user_id)
        P2P_LOG(3, "peer list dropped: %s from [%s:%u]", p2p::reply_error_text(e), source.c_str(), port);
      return;
    }
    default:
      // Call-me, task commands and block requests belong to the transfer side.
      P2P_LOG(1, "unk packet, cmd:%u, len %u from [%s:%u]", unsigned(command), unsigned(n), source.c_str(), port);
      return;
  }
}

void CP2pSession::on_register_reply(const uint8_t* body, size_t n, const sockaddr_in& from) {
  scoped_lock h(lock_);
  endpoint cp = cp_;
  // Any resolved registration-server address answers for the server on its port.
  for (uint32_t a : cp_addresses_)
    if (a == from.sin_addr.s_addr) cp.ip = a;
  if (!expected("register reply", from, cp, Session_State_WAIT, Session_State_REGISTER)) return;
  p2p::RegisterReply reply;
  if (p2p::parse_register_reply(body, n, reply) != p2p::ReplyError::kNone) {
    P2P_LOG(3, "error packet len=%u, from [%s:%u]", unsigned(n), ipv4_text(from.sin_addr.s_addr).c_str(),
            unsigned(ntohs(from.sin_port)));
    return;
  }
  id_.user_id = reply.user_id;
  id_.subnet_id = reply.subnet_id;
  CSimpleUdpServer::set_user_id(reply.user_id);
  if (!options().temp_mode) {
    write_network_facts();
    settings_write_user_id(reply.user_id);
  }
  set_session_state(Session_State_REGISTER, Session_State_QUERYSP);
  resend_count_ = 0;
  P2P_LOG(2, "reply register: userid:%llu, subnetid:%u", (unsigned long long)reply.user_id, unsigned(reply.subnet_id));
}

void CP2pSession::on_super_node_reply(uint16_t command, const uint8_t* body, size_t n, const sockaddr_in& from) {
  scoped_lock h(lock_);
  endpoint cp = cp_;
  for (uint32_t a : cp_addresses_)
    if (a == from.sin_addr.s_addr) cp.ip = a;
  if (!expected("super node reply", from, cp, Session_State_WAIT, Session_State_QUERYSP)) return;
  p2p::SuperNodeReply r;
  p2p::ReplyError e = command == p2p::kUdpSpList  ? p2p::parse_sp_list(body, n, r)
                      : command == p2p::kUdpSpReply ? p2p::parse_sp_reply(body, n, r)
                                                    : p2p::parse_sp_servers(body, n, r);
  if (e != p2p::ReplyError::kNone) {
    P2P_LOG(3, "reply spnode cmd %u rejected: %s, len %u", unsigned(command), p2p::reply_error_text(e), unsigned(n));
    return;
  }
  sp_ = {r.sp_ip, r.sp_port};
  if (options().forced_sp_ip) sp_ = {options().forced_sp_ip, uint16_t(options().forced_sp_port)};
  if (r.up_ip && r.up_port) up_ = {r.up_ip, r.up_port};
  // Replies without a login target send the login to the super node.
  login_target_ = r.login_target;
  if (r.share_report_ms) share_report_ms_ = r.share_report_ms;
  if (r.second_period_ms) second_period_ms_ = r.second_period_ms;
  if (r.share_send_ms) share_send_ms_ = r.share_send_ms;
  if (r.keepalive_ms) link_keepalive_ms_ = r.keepalive_ms;
  if (r.keep_nat_ms) {
    keep_nat_ms_ = r.keep_nat_ms;
    stat_set_keep_nat_ms(keep_nat_ms_);
  }
  if (r.batch_max) get_shareres_manager()->set_batch_max(r.batch_max);
  resend_count_ = 0;
  P2P_LOG(2, "reply spnode: ip[%s:%u], upload downloaded interval:%d, upload downloading interval:%d",
          ipv4_text(sp_.ip).c_str(), unsigned(sp_.port), int(share_report_ms_ / 1000), int(second_period_ms_ / 1000));
  set_session_state(Session_State_QUERYSP, Session_state_LOGIN);
}

void CP2pSession::on_login_reply(const uint8_t* body, size_t n, const sockaddr_in& from) {
  p2p::LoginReply reply;
  {
    scoped_lock h(lock_);
    if (!expected("login reply", from, sp_, Session_State_WAIT, Session_state_LOGIN)) return;
    if (p2p::parse_login_reply(body, n, reply) != p2p::ReplyError::kNone) {
      P2P_LOG(3, "login reply of %u bytes dropped", unsigned(n));
      return;
    }
  }
  logged_in(reply, false);
}

void CP2pSession::logged_in(const p2p::LoginReply& reply, bool over_tcp) {
  const uint32_t now = GetTickCount();
  {
    scoped_lock h(lock_);
    id_.public_ip = reply.public_ip;
    id_.public_port = reply.public_port;
    if (reply.subnet_id) id_.subnet_id = reply.subnet_id;
    id_.logged_in = 1;
    resend_count_ = 0;
    keepalive_misses_ = 0;
    keepalive_tick_ = share_send_tick_ = share_report_tick_ = keep_nat_tick_ = now;
    server_manager::instance().share_tick = now;
    P2P_LOG(2, "%s%s, Port:%d, subnetid:%d ", gbk("reply login: 本机公网Ip:").c_str(),
            ipv4_text(reply.public_ip).c_str(), int(reply.public_port), int(reply.subnet_id));
    set_session_state(Session_State_SCHEDULER, Session_State_FINISH);
    if (over_tcp) {
      send_keepalive2();
    } else {
      send_keepalive();
      // The NAT test servers' probes are answered from a second socket.
      CSimpleUdpServer*& nat = udp_server(1);
      if ((id_.nat_type & 0x0F) == 0 && !nat) {
        nat = new (std::nothrow) CSimpleUdpServer;
        if (nat && (!nat->bind_port(0) || !set_nonblocking(nat->socket()))) {
          delete nat;
          nat = nullptr;
        }
      }
    }
  }
  write_network_facts();
  if (options().no_submit_share) return;
  shareres_manager* shares = get_shareres_manager();
  shares->reset_shareres_stat();
  if (over_tcp) {
    P2P_LOG(2, "TCP::ServerManager Start to send Share to Up!");
    shares->send_shareres_to_up(false, *this);
  } else {
    shares->send_shareres_to_sp(*this);
  }
}

void CP2pSession::on_keepalive_reply(const uint8_t* body, size_t n, const sockaddr_in& from) {
  bool restart = false, share_timer = false;
  {
    scoped_lock h(lock_);
    if (!expected("keepalive reply", from, sp_, Session_State_SCHEDULER, -1)) return;
    p2p::KeepaliveReply r;
    if (p2p::parse_keepalive_reply(body, n, r) != p2p::ReplyError::kNone) {
      P2P_LOG(3, "keepalive reply of %u bytes dropped", unsigned(n));
      return;
    }
    if (r.seen_ip != id_.public_ip || r.seen_port != id_.public_port) {
      const uint8_t node = options().node_type;
      if (node >= 5 && node <= 7)
        P2P_LOG(3,
                "CP2pSession::incoming_keeplive,server check ip not same as local,\t\t\t\t\t\t\t\t\t\t   "
                "server return ip=[%s:%d],localip=[%s:%d]",
                ipv4_text(r.seen_ip).c_str(), int(r.seen_port), ipv4_text(id_.public_ip).c_str(), int(id_.public_port));
      id_.public_ip = r.seen_ip;
      machine_id_init(&machine_);
      id_.nat_type = 0;
      id_.nat_value = 0;
    }
    id_.public_port = r.seen_port;
    share_timer = r.flags != 0;
    restart = r.status == p2p::kKeepaliveStatusRestart;
    if (udp_mode_) keepalive_misses_ = 0;
    if (share_timer) share_report_tick_ = GetTickCount() - share_report_ms_ - 1;
    P2P_LOG(2, "CP2pSession::incoming_keeplive");
  }
  if (restart) restart_from_dns();
}

void CP2pSession::on_nat_port_check(const uint8_t* body, size_t n, const sockaddr_in& from) {
  scoped_lock h(lock_);
  const uint8_t node = options().node_type;
  if (node == 5 || node == 7) return;
  if (!expected("NAT port check", from, sp_, Session_State_SCHEDULER, -1)) return;
  p2p::NatPortCheck r;
  if (p2p::parse_nat_port_check(body, n, r) != p2p::ReplyError::kNone) return;
  keep_nat_ms_ = (id_.nat_type & 0xF0) == 0x10 ? 60000 : 30000;
  if (r.seen_port != id_.public_port) {
    keepalive_tick_ = 0;
    keep_nat_ms_ = 15000;
    P2P_LOG(3, "my NAT port changed %d to %u", int(id_.public_port), unsigned(r.seen_port));
  }
  stat_set_keep_nat_ms(keep_nat_ms_);
}

void CP2pSession::on_nat_probe(uint16_t command, const uint8_t* body, size_t n, const sockaddr_in& from) {
  CSimpleUdpServer* nat = udp_server(1);
  const std::string source = ipv4_text(from.sin_addr.s_addr);
  const unsigned port = ntohs(from.sin_port);
  p2p::NatProbe probe;
  if (p2p::parse_nat_probe(body, n, probe) != p2p::ReplyError::kNone) return;
  // Probes that arrive after the NAT result, when the test socket is gone, are dropped.
  if (!nat || !nat->is_open()) {
    P2P_LOG(1, "NAT probe cmd %u from [%s:%u] dropped: no test socket", unsigned(command), source.c_str(), port);
    return;
  }
  uint16_t answer_port = uint16_t(port);
  uint16_t answer = p2p::kUdpNatFullConeAnswer;
  if (command == p2p::kUdpNatFullConeTest) {
    P2P_LOG(2, "recv NAT_fullcone_test: uid %llu from %s:%u", (unsigned long long)probe.user_id, source.c_str(), port);
  } else if (command == p2p::kUdpNatRestrictedTest) {
    answer = p2p::kUdpNatRestrictedAnswer;
    P2P_LOG(2, "recv NAT_restricted_test: uid %llu from %s:%u", (unsigned long long)probe.user_id, source.c_str(), port);
  } else {
    answer = p2p::kUdpNatCallMeAnswer;
    answer_port = probe.answer_port;
    P2P_LOG(2, "recv NAT_callme_test: uid %llu from %s:%u LocalPort:%u", (unsigned long long)probe.user_id,
            source.c_str(), port, unsigned(probe.answer_port));
  }
  // The answer goes to the address the probe came from, never to one named in it.
  const std::vector<uint8_t> reply = p2p::udp_nat_answer_body(answer, identity().user_id);
  nat->send(reply.data(), reply.size(), from.sin_addr.s_addr, answer_port, true);
}

void CP2pSession::on_nat_result(const uint8_t* body, size_t n, const sockaddr_in& from) {
  uint8_t nat_type = 0;
  {
    scoped_lock h(lock_);
    if (!expected("NAT result", from, sp_, Session_State_SCHEDULER, -1)) return;
    if (p2p::parse_nat_result(body, n, nat_type) != p2p::ReplyError::kNone) return;
    id_.nat_type = nat_type;
  }
  P2P_LOG(2, "%s%02X:%02X (%s) ", gbk("recv NAT检查结果: ").c_str(), unsigned(nat_type >> 4), unsigned(nat_type & 0x0F),
          p2p::nat_type_name(nat_type));
  CSimpleUdpServer*& nat = udp_server(1);
  delete nat;
  nat = nullptr;
}

// ---- the TCP link's replies

void CP2pSession::on_link_register_reply(const uint8_t* body, uint32_t n) {
  scoped_lock h(lock_);
  if (state_ != Session_State_WAIT || next_ != Session_State_REGISTER) {
    P2P_LOG(1, "ignored TCP register reply in %s", session_state_name(state_));
    return;
  }
  p2p::TcpRegisterReply r;
  if (p2p::parse_tcp_register_reply(body, n, r) != p2p::ReplyError::kNone) {
    P2P_LOG(3, "TCP::ServerManager Incoming Register LenError[=%u], from", unsigned(n));
    return;
  }
  server_manager& link = server_manager::instance();
  if (r.result != 0) {
    if (r.result == 1 || r.result == 2) link.mark_broken();
    P2P_LOG(3, "reply register: userid:%llu, up Tcp addr[%s:%d], resultCode[%d]", (unsigned long long)r.user_id,
            ipv4_text(r.up_ip).c_str(), int(r.up_port), int(r.result));
    return;
  }
  id_.user_id = r.user_id;
  CSimpleUdpServer::set_user_id(r.user_id);
  sp_ = {r.sp_ip, r.sp_port};
  if (options().forced_sp_ip) sp_ = {options().forced_sp_ip, uint16_t(options().forced_sp_port)};
  up_ = {r.up_ip, r.up_port};
  login_target_ = r.login_target ? r.login_target : p2p::kLoginTargetSuperNode;
  if (r.share_report_ms) share_report_ms_ = r.share_report_ms;
  if (r.keepalive_ms) link_keepalive_ms_ = r.keepalive_ms;
  if (r.batch_max) get_shareres_manager()->set_batch_max(r.batch_max);
  if (!options().temp_mode) settings_write_user_id(r.user_id);
  P2P_LOG(2, "reply register: userid:%llu, up Tcp addr[%s:%d], resultCode[%d]", (unsigned long long)r.user_id,
          ipv4_text(r.up_ip).c_str(), int(r.up_port), int(r.result));
  resend_count_ = 0;
  if (settings().force_tcp != 0) {
    P2P_LOG(2, "Main:: change udp mode");
    udp_mode_ = true;
    link.close();
    set_session_state(Session_State_QUERYSP, Session_state_LOGIN);
    return;
  }
  link.close();
  P2P_LOG(2, "TCP::ServerManager Close Connect Cp!");
  begin_connect(up_, kConnectUp);
}

void CP2pSession::on_link_login_reply(const uint8_t* body, uint32_t n) {
  p2p::TcpLoginReply r;
  {
    scoped_lock h(lock_);
    if (state_ != Session_State_WAIT || next_ != Session_state_LOGIN) {
      P2P_LOG(1, "ignored TCP login reply in %s", session_state_name(state_));
      return;
    }
    if (p2p::parse_tcp_login_reply(body, n, r) != p2p::ReplyError::kNone) {
      P2P_LOG(3, "TCP login reply of %u bytes dropped", unsigned(n));
      return;
    }
    if (r.result != 0) {
      if (r.result == 1 || r.result == 2) server_manager::instance().mark_broken();
      P2P_LOG(3, "TCP login refused, result %d", int(r.result));
      return;
    }
  }
  logged_in(r.login, true);
}

void CP2pSession::on_link_keepalive_ok() {
  scoped_lock h(lock_);
  keepalive_misses_ = 0;
}

void CP2pSession::on_link_share_accepted() { get_shareres_manager()->server_accept_share_up(*this); }

uint8_t CP2pSession::node_type() { return options().node_type; }

uint64_t CP2pSession::node_id() { return identity().user_id; }

void CP2pSession::send_to_sp(const std::vector<uint8_t>& body) {
  endpoint sp;
  {
    scoped_lock h(lock_);
    sp = sp_;
  }
  send_udp(body, sp);
}

bool CP2pSession::send_to_up(const std::vector<uint8_t>& body) {
  return server_manager::instance().send(p2p::kTcpShareBatch, body);
}

void CP2pSession::stamp_up_tick() { server_manager::instance().share_tick = GetTickCount(); }

}  // namespace p2p
