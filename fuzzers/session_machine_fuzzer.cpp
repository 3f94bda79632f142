// Fuzz target: the server session's state machine over a run of events, as
// the scheduler thread feeds it: passes on a clock that steps forwards (now
// and then back), the servers' replies read from the input by the reply
// parsers, name lookups and connects that end as the input says, a link that
// breaks, a restart from the exports. The world answers the machine's actions
// as the session does (a connect is answered at once, a lookup some passes
// later). After every step the machine is in one of its states with its
// counters in bounds, keeps the resend rule and the ForceTcp setting, logs in
// only on a login reply, and never stays stuck before the login: within the
// longest DNS wait it moves, looks up, connects or sends a request.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "p2pcore/codec/session_machine.h"
#include "p2pcore/wire/server_protocol.h"

using namespace p2p;

namespace {

using A = session_action_kind;
using E = session_event_kind;

constexpr uint32_t kLongestDnsWaitMs = kRetryCountCap * kDnsRetryBaseMs;  // 600 s
constexpr uint32_t kResendWaitMs = 3000;

bool ValidPair(int state, int next) {
  switch (state) {
    case Session_State_INIT: return next == Session_State_DNS;
    case Session_State_DNS: return next == Session_State_REGISTER;
    case Session_State_REGISTER: return next == Session_State_QUERYSP;
    case Session_State_QUERYSP: return next == Session_state_LOGIN;
    case Session_State_WAIT:
      return next == Session_State_REGISTER || next == Session_State_QUERYSP || next == Session_state_LOGIN;
    case Session_State_SCHEDULER: return next == Session_State_FINISH;
    default: return false;  // BAD, ERROR and FINISH are never entered
  }
}

bool IsUdpRequest(A k) {
  return k == A::kSendRegister || k == A::kSendQuery || k == A::kSendLogin || k == A::kSendKeepalive ||
         k == A::kSendShareToSp;
}
bool IsTcpRequest(A k) {
  return k == A::kSendTcpRegister || k == A::kSendTcpLogin || k == A::kSendTcpKeepalive || k == A::kSendShareToUp;
}
// What moves a session that is not logged in towards the login (a broken
// link is closed and the session starts over).
bool IsProgress(A k) {
  return k == A::kStartResolve || k == A::kSendRegister || k == A::kSendQuery || k == A::kSendLogin ||
         k == A::kSendTcpRegister || k == A::kSendTcpLogin || k == A::kConnectCp || k == A::kConnectUp ||
         k == A::kBreakLink || k == A::kCloseBrokenLink;
}

class world {
 public:
  explicit world(FuzzedDataProvider& in) : in_(in) {
    force_tcp_ = in_.ConsumeIntegralInRange(0, 3) != 0;
    node_type_ = in_.ConsumeIntegralInRange<uint8_t>(0, 8);
    user_id_ = in_.ConsumeBool() ? 77 : 0;  // a stored UserID
    now_ = in_.ConsumeIntegral<uint32_t>();
    feed(kind(E::kSchedulerStart));
    last_roll_ = last_progress_ = now_;
  }

  void run() {
    for (int steps = 0; steps < 600 && in_.remaining_bytes() > 0; ++steps) {
      switch (in_.ConsumeIntegralInRange(0, 9)) {
        case 0: case 1: case 2: case 3: pass(); break;
        case 4: case 5: case 6: reply(); break;
        case 7: link_breaks(); break;
        case 8: feed(kind(E::kRestart)); break;
        case 9: share_acknowledged(); break;
      }
    }
  }

 private:
  session_event kind(E k) {
    session_event e;
    e.kind = k;
    return e;
  }

  session_inputs inputs() const {
    session_inputs in;
    in.force_tcp = force_tcp_;
    in.node_type = node_type_;
    in.nat_type = nat_type_;
    in.user_id_known = user_id_ != 0;
    in.addresses_known = addresses_;
    in.up_known = up_known_;
    in.login_to_sp = login_target_ == kLoginTargetSuperNode;
    in.link_holds_socket = holds_;
    in.link_connected = connected_;
    return in;
  }

  // A pass of the scheduler loop; a lookup that has ended is taken first.
  void pass() {
    uint32_t step;
    switch (in_.ConsumeIntegralInRange(0, 7)) {
      case 0: step = in_.ConsumeIntegralInRange<uint32_t>(0, 40); break;
      case 1: case 2: step = in_.ConsumeIntegralInRange<uint32_t>(0, 1500); break;
      case 3: case 4: step = in_.ConsumeIntegralInRange<uint32_t>(1000, 6000); break;
      case 5: step = in_.ConsumeIntegralInRange<uint32_t>(1000, 200000); break;
      case 6: step = in_.ConsumeIntegralInRange<uint32_t>(1000, kLongestDnsWaitMs + 5000); break;
      default: step = -in_.ConsumeIntegralInRange<uint32_t>(1, 100000); break;  // the tick count went back
    }
    const bool forward = int32_t(step) >= 0;
    now_ += step;
    if (!forward) clock_went_back_ = true;
    if (lookup_ && lookup_passes_-- == 0) {
      lookup_ = false;
      addresses_ = lookup_ok_;
      session_event e = kind(E::kResolved);
      e.ok = lookup_ok_;
      feed(e);
    }
    // A pass at least 1000 ms after the one before surely runs the timers.
    pass_runs_timers_ = forward && step >= kDnsFailedStepMs;
    feed(kind(E::kPass));
    pass_runs_timers_ = false;
  }

  void link_breaks() {
    if (holds_) connected_ = false;
  }

  void share_acknowledged() {
    if (!udp() && connected_) feed(kind(E::kShareSentToUp));
  }

  bool udp() const { return m_.udp_mode; }

  // A reply body from the input through its parser, then into the machine
  // as the session hands it on, in the state where the session takes it.
  void reply() {
    const int which = in_.ConsumeIntegralInRange(0, 10);
    std::vector<uint8_t> body = in_.ConsumeBytes<uint8_t>(in_.ConsumeIntegralInRange(0, 48));
    const uint8_t* b = body.empty() ? nullptr : body.data();
    const size_t n = body.size();
    const bool wait_for = m_.state == Session_State_WAIT;
    const bool scheduler = m_.state == Session_State_SCHEDULER;
    switch (which) {
      case 0: {  // UDP 2
        RegisterReply r;
        if (!wait_for || m_.next != Session_State_REGISTER || parse_register_reply(b, n, r) != ReplyError::kNone) return;
        user_id_ = r.user_id;
        feed(kind(E::kRegisterReply));
        return;
      }
      case 1: case 2: case 3: {  // UDP 11, 27, 73
        SuperNodeReply r;
        const ReplyError e = which == 1 ? parse_sp_list(b, n, r) : which == 2 ? parse_sp_reply(b, n, r) : parse_sp_servers(b, n, r);
        if (!wait_for || m_.next != Session_State_QUERYSP || e != ReplyError::kNone) return;
        if (r.up_ip && r.up_port) up_known_ = true;
        login_target_ = r.login_target;
        session_event ev = kind(E::kSuperNodeReply);
        ev.periods = {r.share_report_ms, r.second_period_ms, r.share_send_ms, r.keepalive_ms, r.keep_nat_ms};
        feed(ev);
        return;
      }
      case 4: {  // UDP 4, 77
        LoginReply r;
        if (!wait_for || m_.next != Session_state_LOGIN || parse_login_reply(b, n, r) != ReplyError::kNone) return;
        public_port_ = r.public_port;
        feed(kind(E::kLoginReply));
        return;
      }
      case 5: {  // UDP 7, 81
        KeepaliveReply r;
        if (!scheduler || parse_keepalive_reply(b, n, r) != ReplyError::kNone) return;
        if (r.seen_port != public_port_) nat_type_ = 0;
        public_port_ = r.seen_port;
        session_event e = kind(E::kKeepaliveReply);
        e.status = r.status;
        e.flag = r.flags != 0;
        const bool restart = r.status == kKeepaliveStatusRestart;
        const session_step_result got = feed(e);
        // A keepalive reply with status 2 sends the session back to DNS, logged out.
        if (restart) FUZZ_CHECK(got.machine.state == Session_State_INIT && got.actions.has(A::kLoggedOut));
        return;
      }
      case 6: {  // UDP 19
        NatPortCheck r;
        if (node_type_ == 5 || node_type_ == 7 || !scheduler || parse_nat_port_check(b, n, r) != ReplyError::kNone) return;
        session_event e = kind(E::kNatPortCheck);
        e.flag = r.seen_port != public_port_;
        feed(e);
        return;
      }
      case 7: {  // UDP 71
        uint8_t type = 0;
        if (scheduler && parse_nat_result(b, n, type) == ReplyError::kNone) nat_type_ = type;
        return;
      }
      case 8: {  // TCP 2
        TcpRegisterReply r;
        if (udp() || !connected_ || !wait_for || m_.next != Session_State_REGISTER ||
            parse_tcp_register_reply(b, n, r) != ReplyError::kNone)
          return;
        if (r.result == 1 || r.result == 2) connected_ = false;
        if (r.result != 0) return;
        user_id_ = r.user_id;
        up_known_ = r.up_ip && r.up_port;
        login_target_ = r.login_target ? r.login_target : kLoginTargetSuperNode;
        session_event e = kind(E::kLinkRegisterReply);
        e.periods.share_report_ms = r.share_report_ms;
        e.periods.link_keepalive_ms = r.keepalive_ms;
        feed(e);
        return;
      }
      case 9: {  // TCP 4
        TcpLoginReply r;
        if (udp() || !connected_ || !wait_for || m_.next != Session_state_LOGIN ||
            parse_tcp_login_reply(b, n, r) != ReplyError::kNone)
          return;
        if (r.result == 1 || r.result == 2) connected_ = false;
        if (r.result != 0) return;
        public_port_ = r.login.public_port;
        session_event e = kind(E::kLoginReply);
        e.over_tcp = true;
        feed(e);
        return;
      }
      case 10: {  // TCP 6
        uint16_t result = 0;
        if (udp() || !connected_ || parse_tcp_result(b, n, result) != ReplyError::kNone) return;
        if (result == 0) feed(kind(E::kLinkKeepaliveOk));
        if (result == 1 || result == 2) connected_ = false;
        return;
      }
    }
  }

  // One step, checked, then its actions carried out as the session does.
  session_step_result feed(session_event e) {
    // The session passes no inputs with a restart from the exports.
    if (e.kind != E::kRestart) e.in = inputs();
    const session_machine before = m_;
    const session_step_result r = session_step(m_, e, now_);
    m_ = r.machine;
    check(before, e, r);
    for (const session_action& a : r.actions) carry_out(a);
    return r;
  }

  void carry_out(const session_action& a) {
    switch (a.kind) {
      case A::kStartResolve:
        FUZZ_CHECK(!lookup_);
        lookup_ = true;
        lookup_ok_ = in_.ConsumeIntegralInRange(0, 3) != 0;
        lookup_passes_ = in_.ConsumeIntegralInRange(0, 3);
        break;
      case A::kConnectCp:
      case A::kConnectUp: {
        const bool to_up = a.kind == A::kConnectUp;
        const bool ok = (!to_up || up_known_) && in_.ConsumeIntegralInRange(0, 3) != 0;
        holds_ = connected_ = ok;
        session_event e = kind(E::kConnected);
        e.to_up = to_up;
        e.ok = ok;
        feed(e);
        break;
      }
      case A::kCloseLink:
      case A::kCloseCpLink:
      case A::kCloseBrokenLink:
        holds_ = connected_ = false;
        break;
      case A::kBreakLink:
        connected_ = false;
        break;
      case A::kSendTcpKeepalive:
        if (connected_) feed(kind(E::kTcpKeepaliveSent));
        break;
      case A::kLoggedOut:
        public_port_ = 0;
        break;
      default:
        break;
    }
  }

  void check(const session_machine& before, const session_event& e, const session_step_result& r) {
    const session_machine& m = r.machine;
    // In a state of the tables, with counters in bounds.
    FUZZ_CHECK(ValidPair(m.state, m.next));
    FUZZ_CHECK(m.resend_count <= uint32_t(kMaxResends));
    // SetSessionState: WAIT counts its entries, every other state clears them;
    // a request is sent once and resent at most five times.
    FUZZ_CHECK(m.state == Session_State_WAIT ? m.retry_count >= 1 && m.retry_count <= uint32_t(kMaxResends) + 1
                                             : m.retry_count == 0);
    FUZZ_CHECK(m.keepalive_misses <= kKeepaliveMissLimit);
    FUZZ_CHECK(m.dns_retry <= kRetryCountCap && m.nat_retry <= kRetryCountCap);
    FUZZ_CHECK(m.timer_step == kHousekeepingMs || m.timer_step == kDnsFailedStepMs);
    const session_periods& p = m.periods;
    FUZZ_CHECK(p.share_report_ms && p.second_period_ms && p.share_send_ms && p.link_keepalive_ms && p.keep_nat_ms);
    FUZZ_CHECK(r.actions.size() <= session_actions::kCapacity);

    // A change of state is logged; the last line logged is the state it ends in.
    int logged_state = -2, logged_next = -2;
    bool progress = m.state != before.state || m.next != before.next || m.udp_mode != before.udp_mode;
    bool resent = false, rolled = false, time_error = false;
    for (const session_action& a : r.actions) {
      if (a.kind == A::kStateChanged) {
        FUZZ_CHECK(ValidPair(a.a, a.b));
        logged_state = a.a;
        logged_next = a.b;
      }
      if (a.kind == A::kDnsFailed) FUZZ_CHECK(a.a >= 5 && uint32_t(a.a) <= kLongestDnsWaitMs / 1000);
      if (a.kind == A::kPickCp) FUZZ_CHECK(a.a == kPickByTime || a.a == kPickRandom || a.a == kPickIfNone);
      if (a.kind == A::kRollSecond) rolled = true;
      if (a.kind == A::kTimeError) time_error = true;
      if (IsProgress(a.kind)) progress = true;
      // A stored UserID skips registration.
      if (a.kind == A::kSendRegister) FUZZ_CHECK(!e.in.user_id_known);
      if (before.state == Session_State_WAIT &&
          (a.kind == A::kSendRegister || a.kind == A::kSendQuery || a.kind == A::kSendLogin || a.kind == A::kChangeToTcp))
        resent = true;
    }
    if (m.state != before.state || m.next != before.next) {
      FUZZ_CHECK(logged_state == m.state && logged_next == m.next);
    }
    // Logged in only by a login reply.
    if (m.state == Session_State_SCHEDULER && before.state != Session_State_SCHEDULER) FUZZ_CHECK(e.kind == E::kLoginReply);

    if (e.kind != E::kPass) return;
    // The transport: ForceTcp 0 keeps a pass off UDP requests; a pass in UDP
    // mode sends nothing over the link.
    if (!e.in.force_tcp) {
      for (const session_action& a : r.actions) FUZZ_CHECK(!IsUdpRequest(a.kind));
    }
    if (before.udp_mode && e.in.force_tcp) {
      for (const session_action& a : r.actions) FUZZ_CHECK(!IsTcpRequest(a.kind));
    }
    // The resend rule: a request in WAIT is resent (or its transport changed)
    // only when more than 3000 ms have passed since it was sent, and the
    // transport changes only after the fifth resend.
    const uint32_t since_send = now_ - before.wait_tick;
    if (resent) FUZZ_CHECK(since_send > kResendWaitMs);
    if (r.actions.has(A::kChangeToTcp)) FUZZ_CHECK(before.resend_count == uint32_t(kMaxResends));
    // ... and surely is once that time has passed, on a pass that runs the timers.
    if (pass_runs_timers_ && before.state == Session_State_WAIT && before.udp_mode && e.in.force_tcp &&
        since_send > kResendWaitMs) {
      FUZZ_CHECK(resent);
    }
    // The statistics second: never sooner than 1000 ms after the last one
    // unless the clock went back, and never later than two seconds.
    if (rolled) {
      if (!clock_went_back_) FUZZ_CHECK(now_ - last_roll_ >= 1000);
      last_roll_ = now_;
      clock_went_back_ = false;
    } else if (pass_runs_timers_ && !clock_went_back_) {
      FUZZ_CHECK(now_ - last_roll_ < 2000);
    }
    if (int32_t(now_ - last_roll_) < 0) FUZZ_CHECK(time_error || rolled);
    // Before the login the session never stays still for longer than its
    // longest DNS wait (a lookup that has not ended yet aside).
    if (progress || m.state == Session_State_SCHEDULER || lookup_ || int32_t(now_ - last_progress_) < 0) {
      last_progress_ = now_;
    } else if (pass_runs_timers_) {
      FUZZ_CHECK(now_ - last_progress_ <= kLongestDnsWaitMs + kDnsFailedStepMs);
    }
  }

  FuzzedDataProvider& in_;
  session_machine m_;
  uint32_t now_ = 0;
  bool force_tcp_ = true;
  uint8_t node_type_ = 5, nat_type_ = 0;
  uint64_t user_id_ = 0;
  uint16_t public_port_ = 0;
  uint16_t login_target_ = kLoginTargetSuperNode;
  bool addresses_ = false, up_known_ = false;
  bool holds_ = false, connected_ = false;
  bool lookup_ = false, lookup_ok_ = false;
  int lookup_passes_ = 0;
  bool pass_runs_timers_ = false, clock_went_back_ = false;
  uint32_t last_roll_ = 0, last_progress_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  world w(in);
  w.run();
  return 0;
}
