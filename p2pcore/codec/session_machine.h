// The server session's state machines over UDP and over the TCP link, with
// the resend, retry-timer and housekeeping rules, as one pure step:
// (machine, event, now) -> (new machine, actions). The scheduler thread feeds
// it events and carries out its actions; the clock is passed in. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>

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

constexpr int kMaxResends = 5;                 // the time-out after the fifth resend changes transport
constexpr uint32_t kDnsRetryBaseMs = 5000;
constexpr uint32_t kNatRetryBaseMs = 30000;
constexpr uint32_t kRetryCountCap = 120;
constexpr uint32_t kUdpKeepaliveMs = 180000;
constexpr uint32_t kLinkShareMs = 10000;
constexpr uint32_t kKeepaliveMissLimit = 4;
constexpr uint32_t kHousekeepingMs = 30;
constexpr uint32_t kDnsFailedStepMs = 1000;
constexpr uint32_t kTcpOnlyReconnectMs = 1000;

// Periods the servers' replies set.
struct session_periods {
  uint32_t share_report_ms = 3600000;  // full share report
  uint32_t second_period_ms = 60000;
  uint32_t share_send_ms = 5000;       // share batches to the super node
  uint32_t link_keepalive_ms = 60000;  // TCP keepalive to the upload server
  uint32_t keep_nat_ms = 30000;
};

// A reply's periods: 0 keeps the current value.
struct period_update {
  uint32_t share_report_ms = 0, second_period_ms = 0, share_send_ms = 0, link_keepalive_ms = 0, keep_nat_ms = 0;
};

struct session_machine {
  int state = Session_State_INIT;
  int next = Session_State_DNS;
  uint32_t wait_tick = 0;     // last send in WAIT
  uint32_t retry_count = 0;   // entries into WAIT for the current request
  uint32_t resend_count = 0;  // resends since the last reset
  uint32_t dns_retry = 0, dns_tick = 0;
  uint32_t nat_retry = 0, nat_tick = 0;
  bool udp_mode = true;
  bool resolving = false;     // a name lookup was started and has not reported
  session_periods periods;
  uint32_t keepalive_tick = 0, keepalive_misses = 0;
  uint32_t share_send_tick = 0, share_report_tick = 0, keep_nat_tick = 0;
  uint32_t link_share_tick = 0;  // last share batch sent to or acknowledged by the upload server
  uint32_t timer_tick = 0, timer_step = kHousekeepingMs, second_tick = 0, minute_tick = 0;
  uint32_t connect_retry_tick = 0;  // TCP only: a failed connect to the CP waits a second
};

// What the session knows at the moment it feeds an event.
struct session_inputs {
  bool force_tcp = true;  // the ForceTcp setting; 0 keeps the session on the TCP link
  uint8_t node_type = 5;
  uint8_t nat_type = 0;   // high nibble class, low nibble detail
  bool user_id_known = false;
  bool addresses_known = false;  // registration-server addresses resolved
  bool up_known = false;         // an upload server from a reply
  bool login_to_sp = true;       // login target 2
  bool link_holds_socket = false;
  bool link_connected = false;
};

enum class session_event_kind : uint8_t {
  kRestart,            // session start, p2p_initialize_network: INIT, DNS, retry bookkeeping cleared
  kSchedulerStart,     // the scheduler thread starts: timers from now, default periods
  kPass,               // each pass of the scheduler loop
  kResolved,           // the name lookup ended; ok: usable addresses
  kConnected,          // a TCP connect ended; ok, to_up
  kRegisterReply,      // UDP 2
  kSuperNodeReply,     // UDP 11, 27, 73; periods
  kLoginReply,         // UDP 4, 77, TCP 4; over_tcp
  kKeepaliveReply,     // UDP 7, 81; status, flag (share timer restart)
  kNatPortCheck,       // UDP 19; flag (the port differs from the public one)
  kLinkRegisterReply,  // TCP 2 with result 0; periods
  kLinkKeepaliveOk,    // TCP 6 with result 0
  kTcpKeepaliveSent,   // the TCP keepalive went into the link
  kShareSentToUp,      // a share batch went to the upload server or was acknowledged
};

struct session_event {
  session_event_kind kind = session_event_kind::kPass;
  session_inputs in;
  bool ok = false;
  bool to_up = false;
  bool over_tcp = false;
  bool flag = false;
  uint16_t status = 0;
  period_update periods;
};

enum class session_action_kind : uint8_t {
  kStateChanged,          // a state, b next: log line; SCHEDULER sets the online flag
  kLoggedOut,             // public address forgotten, online flag off
  kTimeError,             // the tick count went backwards
  kRollSecond,
  kReportMinute,
  kStartResolve,
  kDnsResolved,           // b: 1 on the TCP path (log text)
  kDnsFailed,             // a: seconds until the next lookup; b: 1 on the TCP path
  kRebuildIdentity,       // a: 1 logs the bound port
  kPickCp,                // a: kPickByTime, kPickRandom or kPickIfNone
  kSendRegister,
  kSendQuery,
  kSendLogin,             // a: 1 to the super node (3), 0 to the upload server (76)
  kSendKeepalive,         // UDP 6
  kSendKeepalive2,        // UDP 80
  kSendKeepNat,           // UDP 18
  kKeepaliveMissed,       // UDP keepalive replies missed: log
  kChangeToTcp,           // a: next state of the request that timed out; b: 1 reconnects to the UP
  kCloseLink,             // closes the link's socket when it holds one
  kCloseCpLink,           // the CP link is done with after its register reply
  kBreakLink,             // marks the link broken; the next pass closes it
  kCloseBrokenLink,       // the pass step: a broken link's socket is closed
  kConnectCp,             // tcp_connect to the CP; the result comes back as kConnected
  kConnectUp,
  kSwitchToUdp,           // the TCP register reply moves the login to UDP
  kSendTcpRegister,
  kSendTcpLogin,
  kSendTcpKeepalive,      // kTcpKeepaliveSent comes back when it went out
  kTcpRequestTimeout,     // a: next state of the request (REGISTER or LOGIN): log
  kLinkKeepaliveTimeout,  // a: misses: log
  kResetShareStat,
  kSendShareToSp,
  kSendShareToUp,         // a: 1 periodic (incremental), 0 full after login
  kOpenNatSocket,         // the second UDP socket for the NAT test servers' probes
  kWriteNetworkFacts,
  kKeepNatPeriod,         // a: the new keep-NAT period in ms
  kRunRequests,
};
enum : int32_t { kPickByTime = 0, kPickRandom = 1, kPickIfNone = 2 };

struct session_action {
  session_action_kind kind;
  int32_t a = 0;
  int32_t b = 0;
};

// The actions of one step, in the order they are to be carried out.
class session_actions {
 public:
  static constexpr size_t kCapacity = 24;
  void add(session_action_kind kind, int32_t a = 0, int32_t b = 0);
  size_t size() const { return count_; }
  const session_action& operator[](size_t i) const { return list_[i]; }
  const session_action* begin() const { return list_; }
  const session_action* end() const { return list_ + count_; }
  bool has(session_action_kind kind) const;

 private:
  session_action list_[kCapacity] = {};
  size_t count_ = 0;
};

struct session_step_result {
  session_machine machine;
  session_actions actions;
};

session_step_result session_step(const session_machine& machine, const session_event& event, uint32_t now);

// The resend rule of WAIT: k = 1 while the retry count is below 16, else the
// count (at most 100); due when more than k x 3000 ms passed since the send.
bool resend_due(const session_machine& machine, uint32_t now);
// The DNS and NAT timers' period: the base while the count is below 4, else count x base.
uint32_t retry_period(uint32_t count, uint32_t base);

}  // namespace p2p
