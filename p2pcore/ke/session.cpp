// The server session: state and identity, the scheduler thread with its
// select loop, the carrying out of the session machine's actions and the UDP
// requests to the servers (their replies are in session_replies.cpp).
#include "p2pcore/ke/session.h"

#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "foundation/check/orchard_assert.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/io/SimpleUdpServer.h"
#include "p2pcore/ke/ShareResources_new.h"
#include "p2pcore/ke/downloads.h"
#include "p2pcore/ke/ip_list_files.h"
#include "p2pcore/ke/options.h"
#include "p2pcore/ke/peer_hooks.h"
#include "p2pcore/ke/setting.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/scoped_lock.h"
#include "p2pcore/p2pbase/inc/winutil.h"
#include "p2pcore/stat/StatAPI.h"

namespace p2p {

namespace {

CP2pSession* g_session = nullptr;
CSimpleUdpServer* g_udp[2] = {nullptr, nullptr};

constexpr uint32_t kRebindWaitMs = 10000;
constexpr uint32_t kUdpMissingLogMs = 10000;
constexpr int kMaxDatagramsPerPass = 201;

bool set_nonblocking(SOCKET s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}

bool elapsed(uint32_t now, uint32_t since, uint32_t period) { return now - since > period; }

}  // namespace

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
  InitializeCriticalSection(&rebind_lock_);
  id_.size = sizeof id_;
}

CP2pSession::~CP2pSession() {
  stop();
  requests_.drop_all();
  DeleteCriticalSection(&rebind_lock_);
  DeleteCriticalSection(&lock_);
}

int CP2pSession::state() {
  scoped_lock h(lock_);
  return machine_.state;
}

int CP2pSession::next_state() {
  scoped_lock h(lock_);
  return machine_.next;
}

bool CP2pSession::udp_mode() {
  scoped_lock h(lock_);
  return machine_.udp_mode;
}

void CP2pSession::restart_from_dns() {
  session_event e;
  e.kind = session_event_kind::kRestart;
  feed(e, GetTickCount());
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
  return host_.pcid_new;
}

bool CP2pSession::get_id(uint64_t* machine, uint64_t* user, int* nat_class, int* nat_detail, uint32_t* public_ip,
                         int* public_port, uint32_t* lan_ip, int* lan_port) {
  scoped_lock h(lock_);
  const bool known = id_.public_ip != 0;
  if (machine) *machine = host_.pcid_new;
  if (user) *user = id_.user_id;
  if (nat_class) *nat_class = known ? (id_.nat_type & 0xF0) : 0;
  if (nat_detail) *nat_detail = id_.nat_type & 0x0F;
  if (public_ip) *public_ip = id_.public_ip;
  if (public_port) *public_port = id_.public_port;
  if (lan_ip) *lan_ip = id_.lan_ip;
  if (lan_port) *lan_port = id_.lan_port;
  return known;
}

void CP2pSession::start() {
  if (thread_) return;
  P2P_LOG(4, limit_ip_load() ? "CP2pSession::load_ip_list load limit ip list success"
                             : "CP2pSession::load_ip_list load limit ip list fail");
  {
    scoped_lock h(lock_);
    machine_ = session_machine();
    machine_.udp_mode = settings().tcp_udp != 0;
    id_.node_type = options().node_type;
    id_.user_id = settings().user_id;
    id_.subnet_id = uint16_t(settings().subnet_id);
    machine_id_init(&host_);
    id_.lan_ip = host_.adapter.ip;
    CSimpleUdpServer::set_user_id(id_.user_id);
  }
  restart_from_dns();
  get_shareres_manager()->pause_upload = 0;
  get_shareres_manager()->reload_share_list();
  stop_flag_ = 0;
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
  // The sockets are the scheduler thread's; before it runs, the caller's.
  ORCHARD_ASSERT(scheduler_.IsCurrent() || !thread_);
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
  ORCHARD_ASSERT(scheduler_.IsCurrent());
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

// ---- the scheduler thread

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

void CP2pSession::scheduler_setup() {
  scheduler_.Bind();
  set_thread_name("p2p_scheduler");
  // The runtime's random generator is per thread: unseeded, this thread's
  // pad lengths and bytes would repeat the same sequence at every start.
  std::srand(unsigned(std::time(nullptr)) ^ GetTickCount() ^ (GetCurrentThreadId() << 16));
  // The thread's own Winsock reference: the library may start before its UDP
  // port is set, when no socket object has started Winsock yet.
  winsock_start();
  serving().tcp_users->start();
  // Without the listening socket peers cannot reach us over TCP, but the
  // session with the servers runs on over UDP.
  open_listen_socket();
  P2P_LOG(4, "=================TCP::Main Select FD_SETSIZE=[%d]====================", int(FD_SETSIZE));
  serving().upload_workers->start();
  write_network_facts();
  allow_list_ = allow_list_load();
  if (!allow_list_.empty()) P2P_LOG(4, "load ip allow %d items...", int(allow_list_.size()));
  P2P_LOG(4, "channel id is %d\r\n", int(options().product_id));
  server_manager::instance().set_events(this);
  const uint32_t now = GetTickCount();
  start_tick_ = now;
  session_event e;
  e.kind = session_event_kind::kSchedulerStart;
  feed(e, now);
}

void CP2pSession::scheduler() {
  scheduler_setup();
  while (!stop_flag_) scheduler_pass();
  send_logout();
  scheduler_end();
  scheduler_.Release();
}

void CP2pSession::scheduler_pass() {
  ORCHARD_ASSERT(scheduler_.IsCurrent());
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

  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(udp->socket(), &readable);
  CSimpleUdpServer* nat = udp_server(1);
  if (nat && nat->is_open()) FD_SET(nat->socket(), &readable);
  if (listen_ != INVALID_SOCKET) FD_SET(listen_, &readable);
  server_manager& link = server_manager::instance();
  const bool over_link = !udp_mode();
  const bool link_readable = over_link && link.holds_socket() && link.connected();
  if (link_readable) FD_SET(link.socket(), &readable);
  tcp_peer_hook& users = *serving().tcp_users;
  users.fill_read_set(readable);
  fd_set writable;
  FD_ZERO(&writable);
  users.fill_write_set(writable);
  timeval wait = {0, 30000};
  if (select(0, &readable, writable.fd_count ? &writable : nullptr, nullptr, &wait) == SOCKET_ERROR) {
    P2P_LOG(3, "TCP::Main select error=[%d]", WSAGetLastError());
    WaitForSingleObject(stop_event_, 30);
    FD_ZERO(&readable);
    FD_ZERO(&writable);
  }
  if (listen_ != INVALID_SOCKET && FD_ISSET(listen_, &readable)) accept_peers();
  if (FD_ISSET(udp->socket(), &readable)) receive_udp(udp);
  nat = udp_server(1);
  if (nat && nat->is_open() && FD_ISSET(nat->socket(), &readable)) receive_udp(nat);
  if (link_readable && link.holds_socket() && FD_ISSET(link.socket(), &readable)) link.receive_from_socket();
  users.on_readable(readable);
  users.on_writable(writable);

  const uint32_t now = GetTickCount();
  users.housekeeping(now);
  if (over_link) link.flush();
  std::vector<uint32_t> found;
  const int resolved = resolver_.take(&found);
  if (resolved >= 0) {
    cp_addresses_ = found;
    session_event e;
    e.kind = session_event_kind::kResolved;
    e.ok = resolved == 1;
    feed(e, now);
  }
  session_event pass;
  pass.kind = session_event_kind::kPass;
  feed(pass, now);
}

void CP2pSession::accept_peers() {
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  // Every waiting connection is taken, served or closed: a listening socket
  // left readable would end every select at once.
  serving().tcp_users->accept_from(listen_);
}

void CP2pSession::receive_udp(CSimpleUdpServer* udp) {
  ORCHARD_ASSERT(scheduler_.IsCurrent());
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
    UdpChecked packet = udp->process(buffer, size_t(n), from);
    if (packet.result == UdpCheck::kCommand) dispatch(packet, from);
    else if (packet.result == UdpCheck::kData)
      download_data(requests_, downloads_context(), packet, from, GetTickCount());
    // The NAT test socket may be gone after a NAT result: stop reading it.
    if (udp != udp_server(0) && udp != udp_server(1)) return;
  }
}

void CP2pSession::scheduler_end() {
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  cp_addresses_.clear();
  requests_.drop_all();
  resolver_.abandon();
  server_manager::instance().flush();
  server_manager::instance().close();
  serving().tcp_users->stop();
  serving().upload_workers->stop();
  if (listen_ != INVALID_SOCKET) closesocket(listen_);
  listen_ = INVALID_SOCKET;
  // Taken before the share manager's clear() puts the default limit back.
  const uint64_t upload_limit = get_shareres_manager()->upload_speed_limit();
  get_shareres_manager()->clear();
  settings_write_user_id(identity().user_id);
  P2P_LOG(4, "ul bandwidth max : %d KB", int(upload_limit >> 10));
  P2P_LOG(4, "CP2pSession::SchedulerInternal to free");
  server_manager::destroy();
  P2P_LOG(4, "CP2pSession::SchedulerInternal_cdn::  terminate p2p kernel ok!!!!!!!!!!");
  WSACleanup();
}

// ---- the machine

session_inputs CP2pSession::inputs() {
  // Scheduler-thread data: cp_addresses_, up_ and the link.
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  session_inputs in;
  in.force_tcp = settings().force_tcp != 0;
  in.node_type = options().node_type;
  in.nat_type = id_.nat_type;
  in.user_id_known = id_.user_id != 0;
  in.addresses_known = !cp_addresses_.empty();
  in.up_known = up_.ip && up_.port;
  in.login_to_sp = login_target_ == kLoginTargetSuperNode;
  server_manager& link = server_manager::instance();
  in.link_holds_socket = link.holds_socket();
  in.link_connected = link.connected();
  return in;
}

// The step runs under the session lock; its actions are carried out after
// it, so that share reports (which take the share manager's lock first) are
// never sent with the session lock held.
void CP2pSession::feed(session_event event, uint32_t now) {
  session_step_result r;
  {
    scoped_lock h(lock_);
    // A restart comes from the exports' threads and needs nothing of the scheduler's.
    ORCHARD_ASSERT(event.kind == session_event_kind::kRestart || scheduler_.IsCurrent());
    if (event.kind != session_event_kind::kRestart) event.in = inputs();
    r = session_step(machine_, event, now);
    machine_ = r.machine;
  }
  for (const session_action& a : r.actions) carry_out(a);
}

void CP2pSession::carry_out(const session_action& action) {
  // The link is the scheduler thread's; a restart from an export never reaches it.
  auto link = [] () -> server_manager& { return server_manager::instance(); };
  const bool submit = !options().no_submit_share;
  using A = session_action_kind;
  switch (action.kind) {
    case A::kStateChanged:
      if (action.a == Session_State_SCHEDULER) stat_set_online(true);
      P2P_LOG(2, "CP2pSession::SetSessionState,state=[%s],nextstate=[%s]", session_state_name(action.a),
              session_state_name(action.b));
      break;
    case A::kLoggedOut: {
      scoped_lock h(lock_);
      id_.public_ip = 0;
      id_.public_port = 0;
      id_.logged_in = 0;
      stat_set_online(false);
      break;
    }
    case A::kTimeError:
      P2P_LOG(3, "Time Error");
      break;
    case A::kRollSecond:
      stat_roll_second();
      break;
    case A::kReportMinute:
      stat_report_minute();
      break;
    case A::kStartResolve:
      resolver_.start(server_host());
      break;
    case A::kDnsResolved:
      P2P_LOG(2, action.b ? "TCP::dns : %s is %s" : "dns : %s is %s", server_host().c_str(),
              ipv4_text(cp_endpoint(false).ip).c_str());
      break;
    case A::kDnsFailed:
      P2P_LOG(3, action.b ? "TCP::dns : %s resolve failed. wait %d seconds retry..."
                          : "dns : %s resolve failed. wait %d seconds retry...",
              server_host().c_str(), int(action.a));
      break;
    case A::kRebuildIdentity:
      rebuild_identity();
      if (action.a) P2P_LOG(2, "bind port: %d", int(identity().lan_port));
      break;
    case A::kPickCp:
      if (action.a != kPickIfNone || !cp_.ip) cp_ = cp_endpoint(action.a == kPickRandom);
      break;
    case A::kSendRegister:
      send_register();
      break;
    case A::kSendQuery:
      send_query();
      break;
    case A::kSendLogin:
      send_login(action.a != 0);
      break;
    case A::kSendKeepalive:
      send_keepalive();
      break;
    case A::kSendKeepalive2:
      send_keepalive2();
      break;
    case A::kSendKeepNat:
      send_keep_nat();
      break;
    case A::kKeepaliveMissed:
      P2P_LOG(3, "Keepalive response miss three times");
      break;
    case A::kChangeToTcp:
      P2P_LOG(3, "%s", action.a == Session_State_REGISTER  ? "Session: Send register timeout Change TCP"
                       : action.a == Session_State_QUERYSP ? "Session: Send querysp timeout Change TCP"
                                                           : "Session: Send login timeout Change TCP");
      P2P_LOG(3, action.b ? "TCP::ServerManager Reconnect to Up" : "TCP::ServerManager Reconnect to Cp");
      break;
    case A::kCloseLink:
      if (link().holds_socket()) link().close();
      break;
    case A::kCloseCpLink:
      link().close();
      P2P_LOG(2, "TCP::ServerManager Close Connect Cp!");
      break;
    case A::kBreakLink:
      link().mark_broken();
      break;
    case A::kCloseBrokenLink:
      link().close_broken();
      break;
    case A::kConnectCp:
    case A::kConnectUp: {
      const bool to_up = action.kind == A::kConnectUp;
      session_event e;
      e.kind = session_event_kind::kConnected;
      e.to_up = to_up;
      e.ok = to_up ? link().connect(up_.ip, up_.port, true) : link().connect(cp_.ip, options().server_tcp_port, false);
      feed(e, GetTickCount());
      break;
    }
    case A::kSwitchToUdp:
      P2P_LOG(2, "Main:: change udp mode");
      break;
    case A::kSendTcpRegister:
      send_tcp_register();
      break;
    case A::kSendTcpLogin:
      send_tcp_login();
      break;
    case A::kSendTcpKeepalive:
      if (send_tcp_keepalive()) {
        session_event e;
        e.kind = session_event_kind::kTcpKeepaliveSent;
        feed(e, GetTickCount());
      }
      break;
    case A::kTcpRequestTimeout:
      P2P_LOG(3, action.a == Session_State_REGISTER ? "TCP::Main register cp timeout!" : "TCP::Main login up timeout!");
      break;
    case A::kLinkKeepaliveTimeout:
      P2P_LOG(3, "keep alive timeout %d", int(action.a));
      break;
    case A::kResetShareStat:
      if (submit) get_shareres_manager()->reset_shareres_stat();
      break;
    case A::kSendShareToSp:
      if (submit) get_shareres_manager()->send_shareres_to_sp(*this);
      break;
    case A::kSendShareToUp:
      if (!submit) break;
      if (action.a)
        P2P_LOG(9, "================ Pre to send share! ================");
      else
        P2P_LOG(2, "TCP::ServerManager Start to send Share to Up!");
      get_shareres_manager()->send_shareres_to_up(action.a != 0, *this);
      break;
    case A::kOpenNatSocket:
      open_nat_socket();
      break;
    case A::kWriteNetworkFacts:
      write_network_facts();
      break;
    case A::kKeepNatPeriod:
      stat_set_keep_nat_ms(uint32_t(action.a));
      break;
    case A::kRunRequests:
      requests_.run();
      download_passes(requests_, downloads_context(), GetTickCount());
      break;
  }
}

// ---- identity

std::string CP2pSession::server_host() {
  return settings().serv_host.empty() ? options_server_host() : settings().serv_host;
}

CP2pSession::endpoint CP2pSession::cp_endpoint(bool random_pick) {
  endpoint e;
  if (cp_addresses_.empty()) return e;
  const size_t i = random_pick ? size_t(rand()) % cp_addresses_.size() : size_t(time(nullptr)) % cp_addresses_.size();
  e.ip = cp_addresses_[i];
  e.port = options().server_udp_port;
  return e;
}

void CP2pSession::rebuild_identity() {
  scoped_lock h(lock_);
  machine_id_init(&host_);
  id_.size = sizeof id_;
  id_.node_type = options().node_type;
  if (host_.adapter.ip) id_.lan_ip = host_.adapter.ip;
  // No adapter to name: the address this machine reaches the server from.
  if (!id_.lan_ip && !cp_addresses_.empty()) id_.lan_ip = lan_address_toward(cp_addresses_[0], options().server_udp_port);
  const uint8_t* m = host_.adapter.mac;
  char mac[20];
  std::snprintf(mac, sizeof mac, "%02X%02X-%02X%02X-%02X%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
  P2P_LOG(4, "using network interface: [%s], ip [%s]", host_.adapter.name.c_str(), ipv4_text(id_.lan_ip).c_str());
  P2P_LOG(4, "MAC:%s IP:%s Serial:%08X PCID:%s PCID_NEW:%08X-%08X", mac, ipv4_text(id_.lan_ip).c_str(),
          unsigned(host_.volume_serial), pcid_text().c_str(), unsigned(host_.pcid_new >> 32),
          unsigned(host_.pcid_new & 0xFFFFFFFFu));
}

std::string CP2pSession::pcid_text() {
  scoped_lock h(lock_);
  return bin_to_hex(host_.pcid, sizeof host_.pcid);
}

LocalIdentity CP2pSession::local_identity() {
  scoped_lock h(lock_);
  LocalIdentity l;
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
  std::memcpy(l.machine_id, host_.pcid, 16);
  return l;
}

void CP2pSession::write_network_facts() {
  network_facts facts = {};
  {
    scoped_lock h(lock_);
    facts.interface_name = host_.adapter.name;
    std::memcpy(facts.mac, host_.adapter.mac, 6);
    facts.lan_ip = id_.lan_ip;
    facts.wan_ip = id_.public_ip;
    facts.lan_port = id_.lan_port;
    facts.wan_port = id_.public_port;
  }
  facts.bw_u = settings().bw_u;
  settings_write_network(facts);
}

void CP2pSession::open_nat_socket() {
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  // The NAT test servers' probes are answered from a second socket.
  CSimpleUdpServer*& nat = udp_server(1);
  if (nat) return;
  nat = new (std::nothrow) CSimpleUdpServer;
  if (nat && (!nat->bind_port(0) || !set_nonblocking(nat->socket()))) {
    delete nat;
    nat = nullptr;
  }
}

// ---- requests

void CP2pSession::send_udp(const std::vector<uint8_t>& body, endpoint to) {
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  CSimpleUdpServer* udp = udp_server(0);
  if (udp && to.ip && to.port) udp->send(body.data(), body.size(), to.ip, to.port, true);
}

void CP2pSession::send_register() {
  send_udp(udp_register_body(local_identity()), cp_);
  P2P_LOG(2, "send register: cp[%s:%d] pcid[%s]", ipv4_text(cp_.ip).c_str(), int(cp_.port), pcid_text().c_str());
}

void CP2pSession::send_query() {
  send_udp(udp_query_sp_body(local_identity()), cp_);
  P2P_LOG(2, "query spnode: cp[%s:%d]", ipv4_text(cp_.ip).c_str(), int(cp_.port));
}

void CP2pSession::send_login(bool to_sp) {
  const LocalIdentity me = local_identity();
  send_udp(to_sp ? udp_login_sp_body(me) : udp_login_up_body(me), sp_);
  P2P_LOG(2, to_sp ? "send login : sp[%s:%d] myuserid: %llu" : "send login : up[%s:%d] myuserid: %llu",
          ipv4_text(sp_.ip).c_str(), int(sp_.port), (unsigned long long)me.user_id);
}

void CP2pSession::send_keepalive() {
  send_udp(udp_keepalive_body(local_identity()), sp_);
  P2P_LOG(2, "send keeplive: sp[%s:%u] pcid [%s]", ipv4_text(sp_.ip).c_str(), unsigned(sp_.port), pcid_text().c_str());
}

void CP2pSession::send_keepalive2() {
  send_udp(udp_keepalive2_body(local_identity()), sp_);
  P2P_LOG(2, "send keeplive: sp[%s:%u] pcid[%s] ", ipv4_text(sp_.ip).c_str(), unsigned(sp_.port), pcid_text().c_str());
}

void CP2pSession::send_keep_nat() {
  send_udp(udp_keep_nat_body(local_identity()), sp_);
  P2P_LOG(1, "send keep_NAT_port: sp[%s:%d]", ipv4_text(sp_.ip).c_str(), int(sp_.port));
}

void CP2pSession::send_logout() {
  if (udp_mode()) {
    if (!sp_.ip) return;
    send_udp(udp_logout_body(local_identity()), sp_);
    P2P_LOG(2, "send logout: sp[%s:%d]", ipv4_text(sp_.ip).c_str(), int(sp_.port));
    return;
  }
  server_manager& link = server_manager::instance();
  if (!link.connected()) return;
  link.send(kTcpLogout, tcp_logout_body(GetTickCount() - start_tick_));
  P2P_LOG(2, "TCP::send logout: up\r\n");
}

void CP2pSession::send_tcp_register() {
  server_manager::instance().send(kTcpRegister, tcp_register_body(local_identity(), pcid_text().c_str()));
  P2P_LOG(2, "TCP::ServerManager Send Register to cp!pcid[%s]", pcid_text().c_str());
}

void CP2pSession::send_tcp_login() {
  const LocalIdentity me = local_identity();
  server_manager::instance().send(kTcpLogin, tcp_login_body(me));
  P2P_LOG(2, "TCP::ServerManager Send Login Up and Myuserid: %llu", (unsigned long long)me.user_id);
}

bool CP2pSession::send_tcp_keepalive() {
  const int shares = get_shareres_manager()->share_count();
  const bool sent = server_manager::instance().send(
      kTcpKeepalive, tcp_keepalive_body(GetTickCount() - start_tick_, uint16_t(std::min(shares, 0xFFFF))));
  P2P_LOG(2, "TCP::ServerManager Send Keepalive to Up!");
  return sent;
}

// ---- download tasks

download_context CP2pSession::downloads_context() {
  const identity_block id = identity();
  download_context ctx;
  ctx.user_id = id.user_id;
  ctx.nat_type = id.nat_type;
  ctx.node_type = id.node_type;
  ctx.public_ip = id.public_ip;
  ctx.public_port = id.public_port;
  ctx.lan_ip = id.lan_ip;
  ctx.lan_port = id.lan_port;
  ctx.sp_ip = sp_.ip;
  ctx.sp_port = sp_.port;
  const p2p_settings& s = settings();
  ctx.rules.disable_sources = s.debug_disable_source != 0;
  ctx.rules.disable_lan = s.debug_disable_lan != 0;
  if (s.append_uid) {
    ctx.fixed_peer.user_id = uint64_t(unsigned(s.append_uid));
    ctx.fixed_peer.ip = inet_addr(s.append_pub_ip.c_str());
    ctx.fixed_peer.port = uint16_t(s.append_pub_port);
    ctx.fixed_peer.second_ip = inet_addr(s.append_lan_ip.c_str());
    ctx.fixed_peer.second_port = uint16_t(s.append_lan_port);
    if (ctx.fixed_peer.second_ip == INADDR_NONE) ctx.fixed_peer.second_ip = 0;
    ctx.only_fixed_peer = s.append_only_me != 0;
  }
  return ctx;
}

}  // namespace p2p
