// The server session (CP2pSession): state and identity, and the scheduler
// thread "p2p_scheduler" that owns every socket and timer of the library. Its
// loop feeds the session machine (codec/session_machine.h) and carries out
// what it decides: UDP requests to the servers, the TCP link, share reports;
// replies are dispatched from here, peers' commands to the serving hooks.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/check/thread_owner.h"
#include "p2pcore/codec/ip_list.h"
#include "p2pcore/codec/session_machine.h"
#include "p2pcore/ke/ShareResources_new.h"
#include "p2pcore/ke/server_resolver.h"
#include "p2pcore/ke/servermanager.h"
#include "p2pcore/ke/task_requests.h"
#include "p2pcore/p2pbase/inc/netutil.h"
#include "p2pcore/wire/server_protocol.h"
#include "p2pcore/wire/udp_packet.h"

namespace p2p {

class CSimpleUdpServer;

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

  // The download tasks and their request queue (the task exports).
  task_requests& tasks() { return requests_; }
  bool on_scheduler_thread() const { return scheduler_.IsCurrent(); }

  const std::vector<ip_range>& allow_list() const { return allow_list_; }
  // The datagram came from the super node (the scheduler thread's view).
  bool is_super_node(const sockaddr_in& from);

 private:
  struct endpoint {
    uint32_t ip = 0;  // network order
    uint16_t port = 0;
    bool matches(const sockaddr_in& a) const { return ip && a.sin_addr.s_addr == ip && ntohs(a.sin_port) == port; }
  };

  static unsigned __stdcall scheduler_entry(void* self);
  void scheduler();
  void scheduler_setup();
  void scheduler_pass();
  void scheduler_end();
  bool udp_mode();

  // The machine: events in, actions out.
  void feed(session_event event, uint32_t now);
  session_inputs inputs();
  void carry_out(const session_action& action);

  // Sockets of the pass.
  bool open_listen_socket();
  void receive_udp(CSimpleUdpServer* udp);
  void accept_peers();
  void handle_rebind();
  bool bind_udp(uint16_t port);
  void open_nat_socket();

  // Identity.
  void rebuild_identity();
  LocalIdentity local_identity();
  std::string pcid_text();
  std::string server_host();
  endpoint cp_endpoint(bool random_pick);
  void write_network_facts();

  // Requests.
  void send_udp(const std::vector<uint8_t>& body, endpoint to);
  void send_register();
  void send_query();
  void send_login(bool to_sp);
  void send_keepalive();
  void send_keepalive2();
  void send_keep_nat();
  void send_logout();
  void send_tcp_register();
  void send_tcp_login();
  bool send_tcp_keepalive();

  // What the download tasks are told at each pass.
  download_context downloads_context();

  // Replies.
  void dispatch(const UdpChecked& packet, const sockaddr_in& from);
  bool expected(const char* what, const sockaddr_in& from, const endpoint& server, int state, int next);
  void on_register_reply(const uint8_t* body, size_t n, const sockaddr_in& from);
  void on_super_node_reply(uint16_t command, const uint8_t* body, size_t n, const sockaddr_in& from);
  void on_login_reply(const uint8_t* body, size_t n, const sockaddr_in& from);
  void on_keepalive_reply(const uint8_t* body, size_t n, const sockaddr_in& from);
  void on_nat_port_check(const uint8_t* body, size_t n, const sockaddr_in& from);
  void on_nat_probe(uint16_t command, const uint8_t* body, size_t n, const sockaddr_in& from);
  void on_nat_result(const uint8_t* body, size_t n, const sockaddr_in& from);
  void logged_in(const LoginReply& reply, bool over_tcp);

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

  // Guards the machine and the identity.
  CRITICAL_SECTION lock_;
  session_machine machine_;
  identity_block id_ = {};
  machine_identity host_ = {};

  volatile LONG stop_flag_ = 0;
  HANDLE thread_ = nullptr;
  HANDLE stop_event_ = nullptr;
  // The scheduler thread, bound while it runs: the members below are its alone.
  CThreadOwner scheduler_;

  task_requests requests_;
  std::vector<ip_range> allow_list_;

  // Everything below belongs to the scheduler thread.
  SOCKET listen_ = INVALID_SOCKET;
  bool udp_ready_ = false;
  uint32_t udp_missing_log_tick_ = 0;
  std::vector<uint32_t> cp_addresses_;  // network order
  endpoint cp_;                         // the registration server being talked to
  endpoint sp_;                         // the super node: UDP login, keepalives, share reports
  endpoint up_;                         // the upload server's TCP endpoint
  uint16_t login_target_ = kLoginTargetSuperNode;
  uint32_t start_tick_ = 0;
  server_resolver resolver_;

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

}  // namespace p2p
