// The server session (CP2pSession): state and identity, the scheduler thread
// "p2p_scheduler" with its timers, the request queue of the task exports,
// and the address lists. The session with the P2P servers runs on this
// thread; the state machine and the sockets it serves build on it.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "p2pcore/codec/ip_list.h"
#include "p2pcore/p2pbase/inc/netutil.h"
#include "p2pcore/seedlift_api.h"

namespace p2p {

enum session_state : int {
  Session_State_BAD = -1,
  Session_State_INIT = 0,
  Session_State_DNS = 1,
  Session_State_REGISTER = 2,
  Session_State_QUERYSP = 3,
  Session_state_LOGIN = 4,
  Session_State_SCHEDULER = 5,
  Session_State_WAIT = 6,
  Session_State_ERROR = 7,
  Session_State_FINISH = 8,
};
const char* session_state_name(int state);

#pragma pack(push, 1)
struct identity_block {
  uint32_t size;  // 48
  uint64_t user_id;
  uint8_t node_type;
  uint8_t logged_in;
  uint8_t nat_type;  // high nibble class, low nibble detail
  uint32_t nat_value;
  uint32_t public_ip;  // 0 until a login reply
  uint16_t public_port;
  uint32_t lan_ip;
  uint16_t lan_port;
  uint16_t subnet_id;
  uint8_t reserved[15];
};
#pragma pack(pop)
static_assert(sizeof(identity_block) == 48, "identity block is 48 bytes");

// A download task created by create_p2p_task; its work belongs to the download side.
struct p2p_task {
  p2p_task_info info;
  int started = 0;
};

// Requests the task exports queue for the scheduler thread.
enum : uint32_t { kRequestAddTask = 0, kRequestStartTask = 1, kRequestDeleteTask = 2, kRequestFinish = 5 };
struct session_request {
  uint32_t type;
  void* data;
  void* handle;
};

class CP2pSession {
 public:
  CP2pSession();
  ~CP2pSession();
  CP2pSession(const CP2pSession&) = delete;
  CP2pSession& operator=(const CP2pSession&) = delete;

  void start();
  void stop();
  bool running() const { return thread_ != nullptr; }

  void set_session_state(int state, int next);
  int state();
  int next_state();
  // Back to INIT with DNS next, retry bookkeeping cleared, public address forgotten.
  void restart_from_dns();
  void set_lan_port(uint16_t port);

  identity_block identity();
  uint64_t machine_id();
  // Fills the outputs given (null ones are skipped); true once the public address is known.
  bool get_id(uint64_t* machine, uint64_t* user, int* nat_class, int* nat_detail, uint32_t* public_ip,
              int* public_port, uint32_t* lan_ip, int* lan_port);

  void queue_request(uint32_t type, void* data, void* handle);
  bool has_task(void* handle);

  const std::vector<ip_range>& allow_list() const { return allow_list_; }

 private:
  static unsigned __stdcall scheduler_entry(void* self);
  void scheduler();
  void run_requests();
  void drop_requests();

  CRITICAL_SECTION lock_;
  int state_ = Session_State_INIT;
  int next_ = Session_State_DNS;
  uint32_t wait_tick_ = 0;
  uint32_t retry_count_ = 0;
  uint32_t resend_count_ = 0;
  uint32_t dns_retry_ = 0, dns_tick_ = 0, nat_retry_ = 0, nat_tick_ = 0;
  identity_block id_ = {};
  machine_identity machine_ = {};

  volatile LONG stop_flag_ = 0;
  HANDLE thread_ = nullptr;
  HANDLE stop_event_ = nullptr;

  CRITICAL_SECTION queue_lock_;
  std::list<session_request> requests_;
  std::map<void*, p2p_task*> tasks_;

  std::vector<ip_range> allow_list_;
};

// The session, created on first use; deleted by the last p2p_uninitialize.
CP2pSession* get_session();
CP2pSession* existing_session();
void delete_session();

// The limit list "./ipdata/iplist.dat": true when not loaded or the address is in it.
bool limit_ip_load();
bool limit_ip_check(const char* dotted);

}  // namespace p2p
