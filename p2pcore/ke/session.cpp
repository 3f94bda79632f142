// The server session: state, identity, scheduler thread and timers, requests.
#include "p2pcore/ke/session.h"

#include <process.h>

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

CP2pSession::CP2pSession() {
  InitializeCriticalSection(&lock_);
  InitializeCriticalSection(&queue_lock_);
  id_.size = sizeof id_;
}

CP2pSession::~CP2pSession() {
  stop();
  drop_requests();
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
  }
  get_shareres_manager()->pause_upload = 0;
  get_shareres_manager()->reload_share_list();
  stop_flag_ = 0;
  stop_event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  thread_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, scheduler_entry, this, 0, nullptr));
}

void CP2pSession::stop() {
  get_shareres_manager()->pause_upload = 1;
  if (!stop_event_) return;
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
}

unsigned __stdcall CP2pSession::scheduler_entry(void* self) {
  static_cast<CP2pSession*>(self)->scheduler();
  return 0;
}

void CP2pSession::scheduler() {
  set_thread_name("p2p_scheduler");
  P2P_LOG(4, "=================TCP::Main Select FD_SETSIZE=[%d]====================", int(FD_SETSIZE));
  {
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
  std::vector<std::string> lines;
  read_lines(join_path(app_dir(), L"ipallow.csv"), &lines);
  allow_list_ = parse_allow_list(lines);
  if (!allow_list_.empty()) P2P_LOG(4, "load ip allow %d items...", int(allow_list_.size()));
  P2P_LOG(4, "channel id is %d\r\n", int(options().product_id));

  DWORD last_second = GetTickCount();
  DWORD last_minute = last_second;
  while (!stop_flag_) {
    if (WaitForSingleObject(stop_event_, 30) == WAIT_OBJECT_0) break;
    const DWORD now = GetTickCount();
    if (now - last_second >= 1000) {
      last_second = now;
      stat_roll_second();
    }
    if (now - last_minute >= 60000) {
      last_minute = now;
      stat_report_minute();
    }
    if (state() == Session_State_SCHEDULER) run_requests();
  }
  settings_write_user_id(identity().user_id);
  get_shareres_manager()->clear();
}

}  // namespace p2p
