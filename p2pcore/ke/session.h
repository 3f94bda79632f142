// The server session (CP2pSession): state and identity, the scheduler thread
// "p2p_scheduler" that owns every socket and timer of the library, the state
// machine from DNS through registration, super-node query and login over UDP
// or over the TCP link, keepalives and share reports, the request queue of
// the task exports, and the address lists.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "p2pcore/codec/ip_list.h"
#include "p2pcore/ke/ShareResources_new.h"
#include "p2pcore/ke/servermanager.h"
#include "p2pcore/p2pbase/inc/netutil.h"
#include "p2pcore/seedlift_api.h"
#include "p2pcore/wire/server_protocol.h"
#include "p2pcore/wire/udp_packet.h"

namespace p2p {

class CSimpleUdpServer;

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

// The two UDP server objects: 0 the one in use, 1 the NAT test socket.
CSimpleUdpServer*& udp_server(int index);

class CP2pSession : private server_link_events, private share_report_link {
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
  // Binds the UDP socket on a new port. While the scheduler thread runs it
  // does the work (it owns the sockets) and the caller waits for its result.
  bool rebind_udp(uint16_t port);

  identity_block identity();
  uint64_t machine_id();
  // Fills the outputs given (null ones are skipped); true once the public address is known.
  bool get_id(uint64_t* machine, uint64_t* user, int* nat_class, int* nat_detail, uint32_t* public_ip,
              int* public_port, uint32_t* lan_ip, int* lan_port);

  void queue_request(uint32_t type, void* data, void* handle);
  bool has_task(void* handle);

  const std::vector<ip_range>& allow_list() const { return allow_list_; }

  // A name lookup running on a thread of its own.
  struct resolve_job;

 private:
  struct endpoint {
    uint32_t ip = 0;  // network order
    uint16_t port = 0;
    bool matches(const sockaddr_in& a) const { return ip && a.sin_addr.s_addr == ip && ntohs(a.sin_port) == port; }
  };
  enum connect_purpose { kConnectNone, kConnectCp, kConnectUp };

  static unsigned __stdcall scheduler_entry(void* self);
  void scheduler();
  void scheduler_setup();
  void scheduler_pass();
  void scheduler_end();
  void run_requests();
  void drop_requests();

  // Sockets of the pass.
  bool open_listen_socket();
  void receive_udp(CSimpleUdpServer* udp);
  void receive_link();
  void accept_peers();
  void handle_rebind();
  bool bind_udp(uint16_t port);

  // Timers and the two state machines.
  void run_timers(uint32_t now);
  void udp_machine(uint32_t now);
  void tcp_machine(uint32_t now);
  bool resend_due(uint32_t now);
  void keep_nat_step(uint32_t now);
  bool dns_step(uint32_t now, bool tcp);
  void start_resolve();
  int finish_resolve();  // 1 resolved, 0 failed, -1 still running
  endpoint cp_endpoint(bool random_pick);
  void change_to_tcp(bool to_up, const char* why);
  void begin_connect(endpoint to, connect_purpose purpose);
  void poll_connect(const fd_set& writable, const fd_set& failed, uint32_t now);
  void link_pass_step();
  void rebuild_identity();
  p2p::LocalIdentity local_identity();
  std::string pcid_text();

  // Requests.
  void send_udp(const std::vector<uint8_t>& body, endpoint to);
  void send_register();
  void send_query();
  void send_login();
  void send_keepalive();
  void send_keepalive2();
  void send_logout();
  void send_tcp_register();
  void send_tcp_login();
  void send_tcp_keepalive();

  // Replies.
  void dispatch(const p2p::UdpChecked& packet, const sockaddr_in& from);
  bool expected(const char* what, const sockaddr_in& from, const endpoint& server, int state, int next);
  void on_register_reply(const uint8_t* body, size_t n, const sockaddr_in& from);
  void on_super_node_reply(uint16_t command, const uint8_t* body, size_t n, const sockaddr_in& from);
  void on_login_reply(const uint8_t* body, size_t n, const sockaddr_in& from);
  void on_keepalive_reply(const uint8_t* body, size_t n, const sockaddr_in& from);
  void on_nat_port_check(const uint8_t* body, size_t n, const sockaddr_in& from);
  void on_nat_probe(uint16_t command, const uint8_t* body, size_t n, const sockaddr_in& from);
  void on_nat_result(const uint8_t* body, size_t n, const sockaddr_in& from);
  void logged_in(const p2p::LoginReply& reply, bool over_tcp);
  void write_network_facts();

  // server_link_events
  void on_link_register_reply(const uint8_t* body, uint32_t n) override;
  void on_link_login_reply(const uint8_t* body, uint32_t n) override;
  void on_link_keepalive_ok() override;
  void on_link_share_accepted() override;
  // share_report_link
  uint8_t node_type() override;
  uint64_t node_id() override;
  void send_to_sp(const std::vector<uint8_t>& body) override;
  bool send_to_up(const std::vector<uint8_t>& body) override;
  void stamp_up_tick() override;

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

  // Everything below belongs to the scheduler thread.
  SOCKET listen_ = INVALID_SOCKET;
  bool udp_ready_ = false;
  uint32_t udp_missing_log_tick_ = 0;
  bool udp_mode_ = true;
  std::vector<uint32_t> cp_addresses_;  // network order
  endpoint cp_;                         // the registration server being talked to
  endpoint sp_;                         // the super node: UDP login, keepalives, share reports
  endpoint up_;                         // the upload server's TCP endpoint
  uint16_t login_target_ = p2p::kLoginTargetSuperNode;
  uint32_t share_report_ms_ = 3600000, second_period_ms_ = 60000, share_send_ms_ = 5000;
  uint32_t link_keepalive_ms_ = 60000, keep_nat_ms_ = 30000;
  uint32_t share_report_tick_ = 0, share_send_tick_ = 0, keepalive_tick_ = 0, keep_nat_tick_ = 0;
  uint32_t keepalive_misses_ = 0;
  uint32_t timer_tick_ = 0, timer_step_ = 30, second_tick_ = 0, minute_tick_ = 0;
  uint32_t start_tick_ = 0;
  std::shared_ptr<resolve_job> resolving_;
  HANDLE resolve_thread_ = nullptr;
  SOCKET connecting_ = INVALID_SOCKET;
  connect_purpose connect_purpose_ = kConnectNone;
  endpoint connect_to_;
  uint32_t connect_tick_ = 0;
  uint32_t connect_retry_tick_ = 0;

  // A rebind asked for by p2p_initialize_network, done by the scheduler thread.
  CRITICAL_SECTION rebind_lock_;
  uint16_t rebind_port_ = 0;
  bool rebind_pending_ = false;
  bool rebind_result_ = false;
  HANDLE rebind_done_ = nullptr;
};

// The session, created on first use; deleted by the last p2p_uninitialize.
CP2pSession* get_session();
CP2pSession* existing_session();
void delete_session();

// The limit list "./ipdata/iplist.dat": true when not loaded or the address is in it.
bool limit_ip_load();
bool limit_ip_check(const char* dotted);

}  // namespace p2p
