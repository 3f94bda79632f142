// The session's transitions: one step per event, the timers of a pass, the
// UDP and TCP state tables and what the servers' replies do to them.
#include "p2pcore/codec/session_machine.h"

#include <algorithm>

#include "foundation/check/orchard_assert.h"

namespace p2p {

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

void session_actions::add(session_action_kind kind, int32_t a, int32_t b) {
  // A step never emits more than a handful; running out is a fault of the table.
  ORCHARD_ASSERT(count_ < kCapacity);
  if (count_ < kCapacity) list_[count_++] = {kind, a, b};
}

bool session_actions::has(session_action_kind kind) const {
  return std::any_of(begin(), end(), [kind](const session_action& x) { return x.kind == kind; });
}

bool resend_due(const session_machine& m, uint32_t now) {
  const uint32_t k = m.retry_count < 16 ? 1 : std::min<uint32_t>(m.retry_count, 100);
  return now - m.wait_tick > k * 3000;
}

uint32_t retry_period(uint32_t count, uint32_t base) { return count < 4 ? base : count * base; }

namespace {

using A = session_action_kind;

bool elapsed(uint32_t now, uint32_t since, uint32_t period) { return now - since > period; }

constexpr uint16_t kRestartStatus = 2;  // a keepalive reply's status that ends the login

class stepper {
 public:
  stepper(const session_machine& m, const session_event& e, uint32_t now) : m_(m), e_(e), in_(e.in), now_(now) {}

  session_step_result run() {
    switch (e_.kind) {
      case session_event_kind::kRestart: restart(); break;
      case session_event_kind::kSchedulerStart: scheduler_start(); break;
      case session_event_kind::kPass: pass(); break;
      case session_event_kind::kResolved: resolved(); break;
      case session_event_kind::kConnected: connected(); break;
      case session_event_kind::kRegisterReply: register_reply(); break;
      case session_event_kind::kSuperNodeReply: super_node_reply(); break;
      case session_event_kind::kLoginReply: login_reply(); break;
      case session_event_kind::kKeepaliveReply: keepalive_reply(); break;
      case session_event_kind::kNatPortCheck: nat_port_check(); break;
      case session_event_kind::kLinkRegisterReply: link_register_reply(); break;
      case session_event_kind::kLinkKeepaliveOk: m_.keepalive_misses = 0; break;
      case session_event_kind::kTcpKeepaliveSent: m_.keepalive_tick = now_; break;
      case session_event_kind::kShareSentToUp: m_.link_share_tick = now_; break;
    }
    return {m_, out_};
  }

 private:
  bool in(int state, int next) const { return m_.state == state && m_.next == next; }

  // SetSessionState: INIT clears the resends; WAIT counts its entries and
  // stamps the send; any other state clears both.
  void set_state(int state, int next) {
    m_.state = state;
    if (state == Session_State_INIT) m_.resend_count = 0;
    if (next != -1) m_.next = next;
    if (state == Session_State_WAIT) {
      ++m_.retry_count;
      m_.wait_tick = now_;
    } else {
      m_.retry_count = 0;
      m_.wait_tick = 0;
    }
    out_.add(A::kStateChanged, m_.state, m_.next);
  }

  void restart() {
    set_state(Session_State_INIT, Session_State_DNS);
    m_.resend_count = m_.retry_count = 0;
    m_.dns_retry = m_.dns_tick = m_.nat_retry = m_.nat_tick = 0;
    out_.add(A::kLoggedOut);
  }

  void scheduler_start() {
    m_.keepalive_tick = m_.share_send_tick = m_.share_report_tick = m_.keep_nat_tick = now_;
    m_.timer_tick = m_.second_tick = m_.minute_tick = now_;
    m_.periods.share_report_ms = session_periods().share_report_ms;
    m_.periods.second_period_ms = session_periods().second_period_ms;
    m_.periods.share_send_ms = session_periods().share_send_ms;
    m_.timer_step = kHousekeepingMs;
  }

  void pass() {
    if (!in_.force_tcp) m_.udp_mode = false;
    // Timers run once the housekeeping step has passed; a clock that went
    // backwards runs them at once.
    if (int32_t(now_ - m_.timer_tick) < 0) {
      out_.add(A::kTimeError);
    } else if (now_ - m_.timer_tick < m_.timer_step) {
      return;
    }
    m_.timer_tick = now_;
    if (now_ - m_.second_tick >= 1000) {
      m_.second_tick = now_;
      out_.add(A::kRollSecond);
    }
    if (now_ - m_.minute_tick >= 60000) {
      m_.minute_tick = now_;
      out_.add(A::kReportMinute);
    }
    if (m_.udp_mode)
      udp_pass();
    else
      tcp_pass();
    if (m_.state == Session_State_SCHEDULER) out_.add(A::kRunRequests);
  }

  // The DNS timer of INIT: a lookup starts when it fires; its end comes back as kResolved.
  void dns_timer() {
    if (m_.resolving) return;
    if (m_.dns_tick && now_ - m_.dns_tick < retry_period(m_.dns_retry, kDnsRetryBaseMs)) return;
    m_.dns_tick = now_;
    if (m_.dns_retry < kRetryCountCap) ++m_.dns_retry;
    m_.resolving = true;
    out_.add(A::kStartResolve);
  }

  // INIT, DNS without a resolved address runs the DNS timer and goes no further.
  bool waiting_for_address() {
    if (in_.addresses_known && !m_.resolving) return false;
    dns_timer();
    return true;
  }

  void resolved() {
    m_.resolving = false;
    const int32_t tcp = m_.udp_mode ? 0 : 1;
    if (!e_.ok) {
      out_.add(A::kDnsFailed, int32_t(retry_period(m_.dns_retry, kDnsRetryBaseMs) / 1000), tcp);
      m_.timer_step = kDnsFailedStepMs;
      return;
    }
    out_.add(A::kDnsResolved, 0, tcp);
    m_.timer_step = kHousekeepingMs;
    m_.dns_retry = 0;
    m_.dns_tick = 0;
    // The TCP path names its interface anew after each lookup; the UDP path at every INIT.
    if (!m_.udp_mode && in(Session_State_INIT, Session_State_DNS)) out_.add(A::kRebuildIdentity, 0);
  }

  void keep_nat() {
    if (!elapsed(now_, m_.keep_nat_tick, m_.periods.keep_nat_ms)) return;
    m_.keep_nat_tick = now_;
    out_.add(A::kSendKeepNat);
  }

  void change_to_tcp(int request) {
    m_.udp_mode = false;
    const bool to_up = request == Session_state_LOGIN && in_.up_known;
    out_.add(A::kChangeToTcp, request, to_up ? 1 : 0);
    out_.add(A::kCloseLink);
    if (to_up)
      out_.add(A::kConnectUp);
    else
      set_state(Session_State_INIT, Session_State_DNS);
  }

  void udp_pass() {
    switch (m_.state) {
      case Session_State_INIT:
        if (m_.next != Session_State_DNS) break;
        if (waiting_for_address()) break;
        out_.add(A::kRebuildIdentity, 1);
        set_state(Session_State_DNS, Session_State_REGISTER);
        break;
      case Session_State_DNS:
        if (m_.next != Session_State_REGISTER) break;
        out_.add(A::kPickCp, kPickByTime);
        if (!in_.user_id_known) {
          out_.add(A::kSendRegister);
          set_state(Session_State_WAIT, Session_State_REGISTER);
        } else {
          set_state(Session_State_REGISTER, Session_State_QUERYSP);
        }
        break;
      case Session_State_REGISTER:
        if (m_.next != Session_State_QUERYSP) break;
        out_.add(A::kPickCp, kPickIfNone);
        out_.add(A::kSendQuery);
        set_state(Session_State_WAIT, Session_State_QUERYSP);
        break;
      case Session_State_QUERYSP:
        if (m_.next != Session_state_LOGIN) break;
        out_.add(A::kSendLogin, in_.login_to_sp ? 1 : 0);
        set_state(Session_State_WAIT, Session_state_LOGIN);
        break;
      case Session_State_WAIT:
        udp_wait();
        break;
      case Session_State_SCHEDULER:
        udp_scheduler();
        break;
      default:
        break;
    }
  }

  void udp_wait() {
    if (!resend_due(m_, now_)) return;
    const int next = m_.next;
    if (int(m_.resend_count) >= kMaxResends) {
      if (next == Session_State_REGISTER || next == Session_State_QUERYSP || next == Session_state_LOGIN)
        change_to_tcp(next);
      return;
    }
    ++m_.resend_count;
    if (next == Session_State_REGISTER) {
      out_.add(A::kPickCp, kPickByTime);
      out_.add(A::kSendRegister);
    } else if (next == Session_State_QUERYSP) {
      out_.add(A::kPickCp, kPickRandom);
      out_.add(A::kSendQuery);
    } else if (next == Session_state_LOGIN) {
      out_.add(A::kSendLogin, in_.login_to_sp ? 1 : 0);
    }
    set_state(Session_State_WAIT, next);
  }

  void udp_scheduler() {
    bool share_send = false, share_reset = false;
    if (elapsed(now_, m_.share_send_tick, m_.periods.share_send_ms)) {
      m_.share_send_tick = now_;
      share_send = true;
    }
    if (elapsed(now_, m_.share_report_tick, m_.periods.share_report_ms)) {
      m_.share_report_tick = now_;
      share_reset = share_send = true;
    }
    if ((in_.node_type < 5 || in_.node_type > 7) && (in_.nat_type & 0x0F) == 0) {
      if (now_ - m_.nat_tick > retry_period(m_.nat_retry, kNatRetryBaseMs)) {
        m_.nat_tick = now_;
        if (m_.nat_retry < kRetryCountCap) ++m_.nat_retry;
      }
    }
    if (elapsed(now_, m_.keepalive_tick, kUdpKeepaliveMs)) {
      if (m_.keepalive_misses >= kKeepaliveMissLimit) {
        out_.add(A::kKeepaliveMissed);
        m_.keepalive_misses = 0;
        set_state(Session_State_REGISTER, Session_State_QUERYSP);
      } else {
        m_.keepalive_tick = now_;
        send_udp_keepalive();
      }
    }
    keep_nat();
    if (share_reset) out_.add(A::kResetShareStat);
    if (share_send) out_.add(A::kSendShareToSp);
  }

  // UDP 6 counts as a miss until its reply, in UDP mode.
  void send_udp_keepalive() {
    out_.add(A::kSendKeepalive);
    if (m_.udp_mode) ++m_.keepalive_misses;
  }

  void tcp_pass() {
    // The link's pass step: a broken link is closed and the session starts over on UDP.
    if (in_.link_holds_socket && !in_.link_connected) {
      out_.add(A::kCloseBrokenLink);
      m_.udp_mode = true;
      set_state(Session_State_INIT, Session_State_DNS);
    }
    if (m_.udp_mode) return;
    switch (m_.state) {
      case Session_State_INIT:
        if (m_.next != Session_State_DNS) break;
        if (waiting_for_address()) break;
        if (m_.connect_retry_tick && now_ - m_.connect_retry_tick < kTcpOnlyReconnectMs) break;
        m_.connect_retry_tick = 0;
        out_.add(A::kCloseLink);
        out_.add(A::kPickCp, kPickByTime);
        out_.add(A::kConnectCp);
        break;
      case Session_State_DNS:
        if (m_.next != Session_State_REGISTER) break;
        out_.add(A::kSendTcpRegister);
        set_state(Session_State_WAIT, Session_State_REGISTER);
        break;
      case Session_State_QUERYSP:
        if (m_.next != Session_state_LOGIN) break;
        out_.add(A::kSendTcpLogin);
        set_state(Session_State_WAIT, Session_state_LOGIN);
        break;
      case Session_State_WAIT:
        if (!resend_due(m_, now_)) break;
        if (m_.next == Session_State_REGISTER || m_.next == Session_state_LOGIN) {
          out_.add(A::kTcpRequestTimeout, m_.next);
          out_.add(A::kBreakLink);
        }
        break;
      case Session_State_SCHEDULER:
        if (elapsed(now_, m_.link_share_tick, kLinkShareMs)) {
          m_.link_share_tick = now_;
          out_.add(A::kSendShareToUp, 1);
        }
        if (elapsed(now_, m_.keepalive_tick, m_.periods.link_keepalive_ms)) {
          if (m_.keepalive_misses >= kKeepaliveMissLimit) {
            out_.add(A::kLinkKeepaliveTimeout, int32_t(m_.keepalive_misses));
            out_.add(A::kBreakLink);
            m_.keepalive_misses = 0;
          } else {
            ++m_.keepalive_misses;
            out_.add(A::kSendTcpKeepalive);
            out_.add(A::kSendKeepalive2);
          }
        }
        keep_nat();
        break;
      default:
        break;
    }
  }

  void connected() {
    if (e_.ok) {
      if (e_.to_up)
        set_state(Session_State_QUERYSP, Session_state_LOGIN);
      else
        set_state(Session_State_DNS, Session_State_REGISTER);
      return;
    }
    if (!e_.to_up) {
      // Back to UDP; TCP only: the next connect waits a second.
      m_.udp_mode = true;
      if (!in_.force_tcp) m_.connect_retry_tick = now_;
    }
    set_state(Session_State_INIT, Session_State_DNS);
  }

  void apply(const period_update& u) {
    if (u.share_report_ms) m_.periods.share_report_ms = u.share_report_ms;
    if (u.second_period_ms) m_.periods.second_period_ms = u.second_period_ms;
    if (u.share_send_ms) m_.periods.share_send_ms = u.share_send_ms;
    if (u.link_keepalive_ms) m_.periods.link_keepalive_ms = u.link_keepalive_ms;
    if (u.keep_nat_ms) {
      m_.periods.keep_nat_ms = u.keep_nat_ms;
      out_.add(A::kKeepNatPeriod, int32_t(u.keep_nat_ms));
    }
  }

  void register_reply() {
    // The UDP reply belongs to the UDP path; on the TCP link the register is
    // answered by the link's reply, and no row leads on from REGISTER there.
    if (!m_.udp_mode || !in(Session_State_WAIT, Session_State_REGISTER)) return;
    set_state(Session_State_REGISTER, Session_State_QUERYSP);
    m_.resend_count = 0;
  }

  void super_node_reply() {
    if (!in(Session_State_WAIT, Session_State_QUERYSP)) return;
    apply(e_.periods);
    m_.resend_count = 0;
    set_state(Session_State_QUERYSP, Session_state_LOGIN);
  }

  void login_reply() {
    if (!in(Session_State_WAIT, Session_state_LOGIN)) return;
    m_.resend_count = 0;
    m_.keepalive_misses = 0;
    m_.keepalive_tick = m_.share_send_tick = m_.share_report_tick = m_.keep_nat_tick = now_;
    m_.link_share_tick = now_;
    set_state(Session_State_SCHEDULER, Session_State_FINISH);
    if (e_.over_tcp) {
      out_.add(A::kSendKeepalive2);
    } else {
      send_udp_keepalive();
      if ((in_.nat_type & 0x0F) == 0) out_.add(A::kOpenNatSocket);
    }
    out_.add(A::kWriteNetworkFacts);
    out_.add(A::kResetShareStat);
    if (e_.over_tcp)
      out_.add(A::kSendShareToUp, 0);
    else
      out_.add(A::kSendShareToSp);
  }

  void keepalive_reply() {
    if (m_.state != Session_State_SCHEDULER) return;
    if (m_.udp_mode) m_.keepalive_misses = 0;
    if (e_.flag) m_.share_report_tick = now_ - m_.periods.share_report_ms - 1;
    if (e_.status == kRestartStatus) restart();
  }

  void nat_port_check() {
    if (m_.state != Session_State_SCHEDULER) return;
    uint32_t period = (in_.nat_type & 0xF0) == 0x10 ? 60000 : 30000;
    if (e_.flag) {
      m_.keepalive_tick = 0;  // the keepalive goes out at once
      period = 15000;
    }
    m_.periods.keep_nat_ms = period;
    out_.add(A::kKeepNatPeriod, int32_t(period));
  }

  void link_register_reply() {
    if (!in(Session_State_WAIT, Session_State_REGISTER)) return;
    apply(e_.periods);
    m_.resend_count = 0;
    if (in_.force_tcp) {
      out_.add(A::kSwitchToUdp);
      m_.udp_mode = true;
      out_.add(A::kCloseLink);
      set_state(Session_State_QUERYSP, Session_state_LOGIN);
      return;
    }
    out_.add(A::kCloseCpLink);
    out_.add(A::kConnectUp);
  }

  session_machine m_;
  const session_event& e_;
  const session_inputs& in_;
  const uint32_t now_;
  session_actions out_;
};

}  // namespace

session_step_result session_step(const session_machine& machine, const session_event& event, uint32_t now) {
  return stepper(machine, event, now).run();
}

}  // namespace p2p
