// The session machine on a simulated clock: one row per row of the session's
// UDP and TCP state tables, what the servers' replies do, and the resend,
// retry-timer and housekeeping rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "p2pcore/codec/session_machine.h"

namespace {

using p2p::session_action;
using p2p::session_event;
using p2p::session_inputs;
using p2p::session_machine;
using K = p2p::session_action_kind;
using E = p2p::session_event_kind;

constexpr int INIT = p2p::Session_State_INIT, DNS = p2p::Session_State_DNS, REG = p2p::Session_State_REGISTER,
              QSP = p2p::Session_State_QUERYSP, LOGIN = p2p::Session_state_LOGIN,
              SCHED = p2p::Session_State_SCHEDULER, WAIT = p2p::Session_State_WAIT,
              FINISH = p2p::Session_State_FINISH;

constexpr uint32_t T = 1000000;  // the tick every row's timers were last stamped at
constexpr uint32_t PASS = T + 40;  // a pass just after the housekeeping step

// A machine in a state, every timer stamped at T, on the transport given.
session_machine at(int state, int next, bool udp = true) {
  session_machine m;
  m.state = state;
  m.next = next;
  m.udp_mode = udp;
  m.wait_tick = T;
  m.retry_count = state == WAIT ? 1 : 0;
  m.keepalive_tick = m.share_send_tick = m.share_report_tick = m.keep_nat_tick = m.link_share_tick = T;
  m.timer_tick = m.second_tick = m.minute_tick = T;
  m.nat_tick = T;
  return m;
}

// A session that knows its server and upload server, has a user id and a known NAT type.
session_inputs known() {
  session_inputs in;
  in.force_tcp = true;
  in.node_type = 5;
  in.nat_type = 0x11;
  in.user_id_known = true;
  in.addresses_known = true;
  in.up_known = true;
  in.login_to_sp = true;
  return in;
}

session_event ev(E kind, session_inputs in = known()) {
  session_event e;
  e.kind = kind;
  e.in = in;
  return e;
}

const char* name(K k) {
  static const char* const names[] = {
      "StateChanged",   "LoggedOut",         "TimeError",         "RollSecond",       "ReportMinute",
      "StartResolve",   "DnsResolved",       "DnsFailed",         "RebuildIdentity",  "PickCp",
      "SendRegister",   "SendQuery",         "SendLogin",         "SendKeepalive",    "SendKeepalive2",
      "SendKeepNat",    "KeepaliveMissed",   "ChangeToTcp",       "CloseLink",        "CloseCpLink",
      "BreakLink",      "CloseBrokenLink",   "ConnectCp",         "ConnectUp",        "SwitchToUdp",
      "SendTcpRegister", "SendTcpLogin",     "SendTcpKeepalive",  "TcpRequestTimeout", "LinkKeepaliveTimeout",
      "ResetShareStat", "SendShareToSp",     "SendShareToUp",     "OpenNatSocket",    "WriteNetworkFacts",
      "KeepNatPeriod",  "RunRequests"};
  static_assert(std::size(names) == size_t(K::kRunRequests) + 1, "one name per action");
  return names[size_t(k)];
}

std::string text(const session_action& a) {
  return std::string(name(a.kind)) + "(" + std::to_string(a.a) + "," + std::to_string(a.b) + ") ";
}

bool is_timer(K k) { return k == K::kRollSecond || k == K::kReportMinute; }

// The actions besides the state-change line; the statistics timers only
// where the row expects them (a row's clock may pass a second on the way).
std::string text(const p2p::session_actions& acts, bool timers) {
  std::string s;
  for (const session_action& a : acts)
    if (a.kind != K::kStateChanged && (timers || !is_timer(a.kind))) s += text(a);
  return s;
}

std::string text(const std::vector<session_action>& acts) {
  std::string s;
  for (const session_action& a : acts) s += text(a);
  return s;
}

struct Row {
  const char* row;  // state, next | trigger, as the session's tables list them
  session_machine before;
  session_event event;
  uint32_t now;
  int state, next;                     // after the step
  std::vector<session_action> actions;  // besides the state-change line
  int resend = -1, udp = -1, misses = -1;  // -1: not checked
};

void walk(const std::vector<Row>& rows) {
  for (const Row& r : rows) {
    SCOPED_TRACE(r.row);
    const p2p::session_step_result got = p2p::session_step(r.before, r.event, r.now);
    EXPECT_EQ(got.machine.state, r.state) << p2p::session_state_name(got.machine.state);
    EXPECT_EQ(got.machine.next, r.next) << p2p::session_state_name(got.machine.next);
    const bool timers = std::any_of(r.actions.begin(), r.actions.end(), [](const session_action& a) { return is_timer(a.kind); });
    EXPECT_EQ(text(got.actions, timers), text(r.actions));
    const bool moved = got.machine.state != r.before.state || got.machine.next != r.before.next;
    if (moved) {
      EXPECT_TRUE(got.actions.has(K::kStateChanged)) << "a state change is logged";
    }
    if (r.resend >= 0) {
      EXPECT_EQ(int(got.machine.resend_count), r.resend);
    }
    if (r.udp >= 0) {
      EXPECT_EQ(int(got.machine.udp_mode), r.udp);
    }
    if (r.misses >= 0) {
      EXPECT_EQ(int(got.machine.keepalive_misses), r.misses);
    }
  }
}

session_machine with(session_machine m, void (*tweak)(session_machine&)) {
  tweak(m);
  return m;
}

session_inputs inputs(void (*tweak)(session_inputs&)) {
  session_inputs in = known();
  tweak(in);
  return in;
}

TEST(SessionMachine, UdpTable) {
  const std::vector<Row> rows = {
      {"INIT,DNS | no resolved address, DNS timer fires: lookup starts",
       with(at(INIT, DNS), [](session_machine& m) { m.dns_tick = 0; }),
       ev(E::kPass, inputs([](session_inputs& in) { in.addresses_known = false; })), PASS, INIT, DNS,
       {{K::kStartResolve}}},
      {"INIT,DNS | DNS timer not due: the fourth retry waits 4 x 5000 ms",
       with(at(INIT, DNS), [](session_machine& m) { m.dns_retry = 4; m.dns_tick = T; }),
       ev(E::kPass, inputs([](session_inputs& in) { in.addresses_known = false; })), T + 19999, INIT, DNS, {}},
      {"INIT,DNS | DNS timer due after 4 x 5000 ms", with(at(INIT, DNS), [](session_machine& m) { m.dns_retry = 4; m.dns_tick = T; }),
       ev(E::kPass, inputs([](session_inputs& in) { in.addresses_known = false; })), T + 20000, INIT, DNS,
       {{K::kStartResolve}}},
      {"INIT,DNS | lookup failed: retry logged with the next wait",
       with(at(INIT, DNS), [](session_machine& m) { m.dns_retry = 4; m.resolving = true; }),
       [] { session_event e = ev(E::kResolved); e.ok = false; return e; }(), PASS, INIT, DNS,
       {{K::kDnsFailed, 20, 0}}},
      {"INIT,DNS | lookup succeeded", with(at(INIT, DNS), [](session_machine& m) { m.resolving = true; }),
       [] { session_event e = ev(E::kResolved); e.ok = true; return e; }(), PASS, INIT, DNS, {{K::kDnsResolved, 0, 0}}},
      {"INIT,DNS | address known: identity rebuilt", at(INIT, DNS), ev(E::kPass), PASS, DNS, REG,
       {{K::kRebuildIdentity, 1}}},
      {"DNS,REGISTER | user id 0: register sent", at(DNS, REG),
       ev(E::kPass, inputs([](session_inputs& in) { in.user_id_known = false; })), PASS, WAIT, REG,
       {{K::kPickCp, p2p::kPickByTime}, {K::kSendRegister}}},
      {"DNS,REGISTER | user id known: straight to the super node query", at(DNS, REG), ev(E::kPass), PASS, REG, QSP,
       {{K::kPickCp, p2p::kPickByTime}}},
      {"WAIT,REGISTER | resend rule not yet met (3000 ms)", at(WAIT, REG), ev(E::kPass), T + 3000, WAIT, REG, {}},
      {"WAIT,REGISTER | resend rule: register again to a CP chosen by the time",
       with(at(WAIT, REG), [](session_machine& m) { m.resend_count = 2; }), ev(E::kPass), T + 3001, WAIT, REG,
       {{K::kPickCp, p2p::kPickByTime}, {K::kSendRegister}}, 3},
      {"WAIT,REGISTER | time-out after the fifth resend: TCP path from the CP",
       with(at(WAIT, REG), [](session_machine& m) { m.resend_count = 5; }), ev(E::kPass), T + 3001, INIT, DNS,
       {{K::kChangeToTcp, REG, 0}, {K::kCloseLink}}, 0, 0},
      {"REGISTER,QUERYSP | at once: query super node", at(REG, QSP), ev(E::kPass), PASS, WAIT, QSP,
       {{K::kPickCp, p2p::kPickIfNone}, {K::kSendQuery}}},
      {"WAIT,QUERYSP | resend rule: query again to a random CP",
       with(at(WAIT, QSP), [](session_machine& m) { m.resend_count = 4; }), ev(E::kPass), T + 3001, WAIT, QSP,
       {{K::kPickCp, p2p::kPickRandom}, {K::kSendQuery}}, 5},
      {"WAIT,QUERYSP | time-out after the fifth resend: TCP path from the CP",
       with(at(WAIT, QSP), [](session_machine& m) { m.resend_count = 5; }), ev(E::kPass), T + 3001, INIT, DNS,
       {{K::kChangeToTcp, QSP, 0}, {K::kCloseLink}}, 0, 0},
      {"QUERYSP,LOGIN | login target 2: login to the super node", at(QSP, LOGIN), ev(E::kPass), PASS, WAIT, LOGIN,
       {{K::kSendLogin, 1}}},
      {"QUERYSP,LOGIN | other login target: login to the upload server", at(QSP, LOGIN),
       ev(E::kPass, inputs([](session_inputs& in) { in.login_to_sp = false; })), PASS, WAIT, LOGIN,
       {{K::kSendLogin, 0}}},
      {"WAIT,LOGIN | resend rule: login again", with(at(WAIT, LOGIN), [](session_machine& m) { m.resend_count = 1; }),
       ev(E::kPass), T + 3001, WAIT, LOGIN, {{K::kSendLogin, 1}}, 2},
      {"WAIT,LOGIN | time-out after the fifth resend: TCP reconnect to the UP",
       with(at(WAIT, LOGIN), [](session_machine& m) { m.resend_count = 5; }), ev(E::kPass), T + 3001, WAIT, LOGIN,
       {{K::kChangeToTcp, LOGIN, 1}, {K::kCloseLink}, {K::kConnectUp}}, 5, 0},
      {"WAIT,LOGIN | time-out after the fifth resend, no UP known: from the CP",
       with(at(WAIT, LOGIN), [](session_machine& m) { m.resend_count = 5; }),
       ev(E::kPass, inputs([](session_inputs& in) { in.up_known = false; })), T + 3001, INIT, DNS,
       {{K::kChangeToTcp, LOGIN, 0}, {K::kCloseLink}}, 0, 0},
      {"SCHEDULER | more than 5000 ms since the last share send",
       with(at(SCHED, FINISH), [](session_machine& m) { m.share_send_tick = PASS - 5001; }), ev(E::kPass), PASS, SCHED,
       FINISH, {{K::kSendShareToSp}, {K::kRunRequests}}},
      {"SCHEDULER | share-report period elapsed: report state reset, list sent",
       with(at(SCHED, FINISH), [](session_machine& m) { m.share_report_tick = PASS - 3600001; }), ev(E::kPass), PASS,
       SCHED, FINISH, {{K::kResetShareStat}, {K::kSendShareToSp}, {K::kRunRequests}}},
      {"SCHEDULER | each pass: queued requests run", at(SCHED, FINISH), ev(E::kPass), PASS, SCHED, FINISH,
       {{K::kRunRequests}}},
      {"SCHEDULER | more than 180,000 ms since the last keepalive: keepalive, counted as a miss",
       with(at(SCHED, FINISH), [](session_machine& m) { m.keepalive_tick = PASS - 180001; m.keepalive_misses = 3; }),
       ev(E::kPass), PASS, SCHED, FINISH, {{K::kSendKeepalive}, {K::kRunRequests}}, -1, 1, 4},
      {"SCHEDULER | keepalive due with four misses: back to REGISTER,QUERYSP",
       with(at(SCHED, FINISH), [](session_machine& m) { m.keepalive_tick = PASS - 180001; m.keepalive_misses = 4; }),
       ev(E::kPass), PASS, REG, QSP, {{K::kKeepaliveMissed}}, -1, 1, 0},
      {"SCHEDULER | keep-NAT period elapsed",
       with(at(SCHED, FINISH), [](session_machine& m) { m.keep_nat_tick = PASS - 30001; }), ev(E::kPass), PASS, SCHED,
       FINISH, {{K::kSendKeepNat}, {K::kRunRequests}}},
  };
  walk(rows);
}

TEST(SessionMachine, NatTimerCountsOnlyForOtherNodeTypesWithoutNatDetail) {
  struct Case { const char* name; uint8_t node, nat; uint32_t retry; uint32_t at; uint32_t retry_after; };
  const Case cases[] = {
      {"node 4, detail 0: fires after 30 s", 4, 0x10, 0, T + 30001, 1},
      {"node 4, detail 0: not before", 4, 0x10, 0, T + 30000, 0},
      {"node 4, detail 0, count 4: waits 4 x 30 s", 4, 0x10, 4, T + 120000, 4},
      {"node 4, count 120 stays 120", 4, 0x10, 120, T + 3600001, 120},
      {"node 5 does not count", 5, 0x10, 0, T + 30001, 0},
      {"node 7 does not count", 7, 0x10, 0, T + 30001, 0},
      {"a known NAT detail does not count", 4, 0x13, 0, T + 30001, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    session_machine m = at(SCHED, FINISH);
    m.nat_retry = c.retry;
    session_inputs in = known();
    in.node_type = c.node;
    in.nat_type = c.nat;
    const auto got = p2p::session_step(m, ev(E::kPass, in), c.at);
    EXPECT_EQ(got.machine.nat_retry, c.retry_after);
  }
}

TEST(SessionMachine, TcpTable) {
  const std::vector<Row> rows = {
      {"INIT,DNS | no address: DNS timer starts a lookup",
       with(at(INIT, DNS, false), [](session_machine& m) { m.dns_tick = 0; }),
       ev(E::kPass, inputs([](session_inputs& in) { in.addresses_known = false; })), PASS, INIT, DNS,
       {{K::kStartResolve}}},
      {"INIT,DNS | lookup succeeded on the TCP path: identity rebuilt",
       with(at(INIT, DNS, false), [](session_machine& m) { m.resolving = true; }),
       [] { session_event e = ev(E::kResolved); e.ok = true; return e; }(), PASS, INIT, DNS,
       {{K::kDnsResolved, 0, 1}, {K::kRebuildIdentity, 0}}},
      {"INIT,DNS | address known: connect to the CP on its TCP port", at(INIT, DNS, false), ev(E::kPass), PASS, INIT,
       DNS, {{K::kCloseLink}, {K::kPickCp, p2p::kPickByTime}, {K::kConnectCp}}},
      {"INIT,DNS | connected to the CP", at(INIT, DNS, false),
       [] { session_event e = ev(E::kConnected); e.ok = true; return e; }(), PASS, DNS, REG, {}, -1, 0},
      {"INIT,DNS | connect to the CP failed: UDP mode back on", at(INIT, DNS, false),
       [] { session_event e = ev(E::kConnected); e.ok = false; return e; }(), PASS, INIT, DNS, {}, -1, 1},
      {"INIT,DNS | connect failed with ForceTcp 0: the next waits 1 s", at(INIT, DNS, false),
       [] {
         session_event e = ev(E::kConnected, inputs([](session_inputs& in) { in.force_tcp = false; }));
         e.ok = false;
         return e;
       }(),
       PASS, INIT, DNS, {}, -1, 1},
      {"INIT,DNS | ForceTcp 0, 999 ms after a failed connect: no connect yet",
       with(at(INIT, DNS, false), [](session_machine& m) { m.connect_retry_tick = PASS - 999; }),
       ev(E::kPass, inputs([](session_inputs& in) { in.force_tcp = false; })), PASS, INIT, DNS, {}, -1, 0},
      {"INIT,DNS | ForceTcp 0, 1000 ms after a failed connect: connect",
       with(at(INIT, DNS, false), [](session_machine& m) { m.connect_retry_tick = PASS - 1000; }),
       ev(E::kPass, inputs([](session_inputs& in) { in.force_tcp = false; })), PASS, INIT, DNS,
       {{K::kCloseLink}, {K::kPickCp, p2p::kPickByTime}, {K::kConnectCp}}, -1, 0},
      {"DNS,REGISTER | at once: TCP register", at(DNS, REG, false), ev(E::kPass), PASS, WAIT, REG,
       {{K::kSendTcpRegister}}},
      {"WAIT,REGISTER | resend rule: register time-out breaks the link", at(WAIT, REG, false), ev(E::kPass), T + 3001,
       WAIT, REG, {{K::kTcpRequestTimeout, REG}, {K::kBreakLink}}},
      {"reply 2 | ForceTcp non-zero: CP link closed, login over UDP", at(WAIT, REG, false),
       ev(E::kLinkRegisterReply), PASS, QSP, LOGIN, {{K::kSwitchToUdp}, {K::kCloseLink}}, 0, 1},
      {"reply 2 | ForceTcp 0: CP link closed, connect to the UP", at(WAIT, REG, false),
       ev(E::kLinkRegisterReply, inputs([](session_inputs& in) { in.force_tcp = false; })), PASS, WAIT, REG,
       {{K::kCloseCpLink}, {K::kConnectUp}}, 0, 0},
      {"reply 2 | connected to the UP", at(WAIT, REG, false),
       [] { session_event e = ev(E::kConnected); e.ok = e.to_up = true; return e; }(), PASS, QSP, LOGIN, {}, -1, 0},
      {"reply 2 | connect to the UP failed: reconnect to the CP", at(WAIT, REG, false),
       [] { session_event e = ev(E::kConnected); e.to_up = true; return e; }(), PASS, INIT, DNS, {}, -1, 0},
      {"QUERYSP,LOGIN | at once: TCP login", at(QSP, LOGIN, false), ev(E::kPass), PASS, WAIT, LOGIN,
       {{K::kSendTcpLogin}}},
      {"WAIT,LOGIN | resend rule: login time-out breaks the link", at(WAIT, LOGIN, false), ev(E::kPass), T + 3001,
       WAIT, LOGIN, {{K::kTcpRequestTimeout, LOGIN}, {K::kBreakLink}}},
      {"reply 4 | logged in: UDP keepalive of the second form, full share list to the UP", at(WAIT, LOGIN, false),
       [] { session_event e = ev(E::kLoginReply); e.over_tcp = true; return e; }(), PASS, SCHED, FINISH,
       {{K::kSendKeepalive2}, {K::kWriteNetworkFacts}, {K::kResetShareStat}, {K::kSendShareToUp, 0}}, 0, 0, 0},
      {"SCHEDULER | more than 10,000 ms since the last share send: incremental report",
       with(at(SCHED, FINISH, false), [](session_machine& m) { m.link_share_tick = PASS - 10001; }), ev(E::kPass),
       PASS, SCHED, FINISH, {{K::kSendShareToUp, 1}, {K::kRunRequests}}},
      {"SCHEDULER | keepalive period exceeded: TCP keepalive and UDP 80, a miss counted",
       with(at(SCHED, FINISH, false), [](session_machine& m) { m.keepalive_tick = PASS - 60001; m.keepalive_misses = 3; }),
       ev(E::kPass), PASS, SCHED, FINISH, {{K::kSendTcpKeepalive}, {K::kSendKeepalive2}, {K::kRunRequests}}, -1, 0, 4},
      {"SCHEDULER | keepalive period exceeded with four misses: link broken",
       with(at(SCHED, FINISH, false), [](session_machine& m) { m.keepalive_tick = PASS - 60001; m.keepalive_misses = 4; }),
       ev(E::kPass), PASS, SCHED, FINISH, {{K::kLinkKeepaliveTimeout, 4}, {K::kBreakLink}, {K::kRunRequests}}, -1, 0, 0},
      {"SCHEDULER | keep-NAT period elapsed: UDP keep NAT port",
       with(at(SCHED, FINISH, false), [](session_machine& m) { m.keep_nat_tick = PASS - 30001; }), ev(E::kPass), PASS,
       SCHED, FINISH, {{K::kSendKeepNat}, {K::kRunRequests}}},
      {"broken link at the pass step: closed, UDP mode on, INIT,DNS", at(SCHED, FINISH, false),
       ev(E::kPass, inputs([](session_inputs& in) { in.link_holds_socket = true; in.link_connected = false; })), PASS,
       INIT, DNS, {{K::kCloseBrokenLink}}, 0, 1},
      {"a link that holds a socket and is connected is left alone", at(QSP, LOGIN, false),
       ev(E::kPass, inputs([](session_inputs& in) { in.link_holds_socket = in.link_connected = true; })), PASS, WAIT,
       LOGIN, {{K::kSendTcpLogin}}},
  };
  walk(rows);
}

TEST(SessionMachine, Replies) {
  const std::vector<Row> rows = {
      {"register reply (2): REGISTER,QUERYSP, resends reset",
       with(at(WAIT, REG), [](session_machine& m) { m.resend_count = 3; }), ev(E::kRegisterReply), PASS, REG, QSP, {},
       0},
      {"register reply outside WAIT,REGISTER changes nothing", at(SCHED, FINISH), ev(E::kRegisterReply), PASS, SCHED,
       FINISH, {}},
      // The TCP path has no REGISTER,QUERYSP row: taken there, a late UDP reply would leave the session in it for good.
      {"register reply (2) while the TCP register reply is awaited changes nothing", at(WAIT, REG, false),
       ev(E::kRegisterReply), PASS, WAIT, REG, {}},
      {"super node reply (11, 27, 73): QUERYSP,LOGIN with the periods",
       with(at(WAIT, QSP), [](session_machine& m) { m.resend_count = 2; }),
       [] {
         session_event e = ev(E::kSuperNodeReply);
         e.periods.share_report_ms = 7200000;
         e.periods.keep_nat_ms = 20000;
         return e;
       }(),
       PASS, QSP, LOGIN, {{K::kKeepNatPeriod, 20000}}, 0},
      {"super node reply while waiting for the login changes nothing", at(WAIT, LOGIN), ev(E::kSuperNodeReply), PASS,
       WAIT, LOGIN, {}},
      {"login reply (4, 77): SCHEDULER,FINISH, keepalive, NAT test socket, share list",
       with(at(WAIT, LOGIN), [](session_machine& m) { m.keepalive_misses = 3; m.resend_count = 4; }),
       ev(E::kLoginReply, inputs([](session_inputs& in) { in.nat_type = 0x10; })), PASS, SCHED, FINISH,
       {{K::kSendKeepalive},
        {K::kOpenNatSocket},
        {K::kWriteNetworkFacts},
        {K::kResetShareStat},
        {K::kSendShareToSp}},
       0, 1, 1},
      {"login reply with a known NAT detail opens no test socket", at(WAIT, LOGIN), ev(E::kLoginReply), PASS, SCHED,
       FINISH, {{K::kSendKeepalive}, {K::kWriteNetworkFacts}, {K::kResetShareStat}, {K::kSendShareToSp}}},
      {"keepalive reply status 2: INIT,DNS, login forgotten", at(SCHED, FINISH),
       [] { session_event e = ev(E::kKeepaliveReply); e.status = 2; return e; }(), PASS, INIT, DNS,
       {{K::kLoggedOut}}},
      {"keepalive reply in UDP mode clears the misses",
       with(at(SCHED, FINISH), [](session_machine& m) { m.keepalive_misses = 3; }), ev(E::kKeepaliveReply), PASS,
       SCHED, FINISH, {}, -1, 1, 0},
      {"keepalive reply on the TCP path keeps the misses",
       with(at(SCHED, FINISH, false), [](session_machine& m) { m.keepalive_misses = 3; }), ev(E::kKeepaliveReply),
       PASS, SCHED, FINISH, {}, -1, 0, 3},
      {"TCP keepalive reply with result 0 clears the misses",
       with(at(SCHED, FINISH, false), [](session_machine& m) { m.keepalive_misses = 3; }), ev(E::kLinkKeepaliveOk),
       PASS, SCHED, FINISH, {}, -1, 0, 0},
      {"NAT port check, port unchanged, full-cone class: keep-NAT every 60 s", at(SCHED, FINISH),
       ev(E::kNatPortCheck, inputs([](session_inputs& in) { in.nat_type = 0x11; })), PASS, SCHED, FINISH,
       {{K::kKeepNatPeriod, 60000}}},
      {"NAT port check, other class: keep-NAT every 30 s", at(SCHED, FINISH),
       ev(E::kNatPortCheck, inputs([](session_inputs& in) { in.nat_type = 0x23; })), PASS, SCHED, FINISH,
       {{K::kKeepNatPeriod, 30000}}},
      {"NAT port check, port changed: keep-NAT every 15 s", at(SCHED, FINISH),
       [] { session_event e = ev(E::kNatPortCheck); e.flag = true; return e; }(), PASS, SCHED, FINISH,
       {{K::kKeepNatPeriod, 15000}}},
      {"restart (p2p_initialize_network) from any state: INIT,DNS",
       with(at(SCHED, FINISH), [](session_machine& m) { m.resend_count = 3; m.dns_retry = 9; }), ev(E::kRestart),
       PASS, INIT, DNS, {{K::kLoggedOut}}, 0},
  };
  walk(rows);
}

TEST(SessionMachine, HousekeepingStep) {
  const std::vector<Row> rows = {
      {"timers wait for the 30 ms housekeeping step", at(QSP, LOGIN), ev(E::kPass), T + 29, QSP, LOGIN, {}},
      {"the step has passed", at(QSP, LOGIN), ev(E::kPass), T + 30, WAIT, LOGIN, {{K::kSendLogin, 1}}},
      {"while DNS fails the step is 1000 ms",
       with(at(INIT, DNS), [](session_machine& m) { m.timer_step = 1000; m.dns_tick = T; }),
       ev(E::kPass, inputs([](session_inputs& in) { in.addresses_known = false; })), T + 999, INIT, DNS, {}},
      // Backwards, the per-second and per-minute timers see a full period too.
      {"a tick that went backwards runs the timers at once", at(QSP, LOGIN), ev(E::kPass), T - 5, WAIT, LOGIN,
       {{K::kTimeError}, {K::kRollSecond}, {K::kReportMinute}, {K::kSendLogin, 1}}},
      {"every 1000 ms the statistics roll, every 60,000 ms the reports",
       with(at(QSP, LOGIN), [](session_machine& m) { m.second_tick = PASS - 1000; m.minute_tick = PASS - 60000; }),
       ev(E::kPass), PASS, WAIT, LOGIN, {{K::kRollSecond}, {K::kReportMinute}, {K::kSendLogin, 1}}},
      {"ForceTcp 0 clears UDP mode at every pass, between timers too", at(QSP, LOGIN),
       ev(E::kPass, inputs([](session_inputs& in) { in.force_tcp = false; })), T + 5, QSP, LOGIN, {}, -1, 0},
  };
  walk(rows);
}

TEST(SessionMachine, ResendRule) {
  struct Case { uint32_t retry_count; uint32_t wait_ms; };
  const Case cases[] = {{1, 3000}, {15, 3000}, {16, 48000}, {50, 150000}, {100, 300000}, {500, 300000}};
  for (const Case& c : cases) {
    SCOPED_TRACE("retry count " + std::to_string(c.retry_count));
    session_machine m = at(WAIT, REG);
    m.retry_count = c.retry_count;
    EXPECT_FALSE(p2p::resend_due(m, T + c.wait_ms));
    EXPECT_TRUE(p2p::resend_due(m, T + c.wait_ms + 1));
  }
}

TEST(SessionMachine, RetryTimerRule) {
  struct Case { uint32_t count; uint32_t period; };
  const Case cases[] = {{0, 5000}, {3, 5000}, {4, 20000}, {5, 25000}, {120, 600000}};
  for (const Case& c : cases) {
    SCOPED_TRACE("count " + std::to_string(c.count));
    EXPECT_EQ(p2p::retry_period(c.count, p2p::kDnsRetryBaseMs), c.period);
  }
}

// Simulated time: a name that never resolves is looked up again at 5 s, 5 s,
// 5 s, 20 s, 25 s, ... and never waits more than 600 s.
TEST(SessionMachine, DnsRetriesGrowToTenMinutes) {
  session_machine m = at(INIT, DNS);
  m.dns_tick = 0;
  session_inputs in = known();
  in.addresses_known = false;
  std::vector<uint32_t> lookups;
  uint32_t now = PASS;
  for (int i = 0; i < 200000 && lookups.size() < 130; ++i, now += 1000) {
    auto r = p2p::session_step(m, ev(E::kPass, in), now);
    m = r.machine;
    if (r.actions.has(K::kStartResolve)) {
      lookups.push_back(now);
      session_event failed = ev(E::kResolved, in);
      m = p2p::session_step(m, failed, now).machine;
    }
  }
  ASSERT_EQ(lookups.size(), 130u);
  const uint32_t gaps[] = {5000, 5000, 5000, 20000, 25000};  // after the 1st..5th lookup
  for (size_t k = 0; k < 5; ++k) {
    SCOPED_TRACE(k);
    EXPECT_GE(lookups[k + 1] - lookups[k], gaps[k]);
    EXPECT_LE(lookups[k + 1] - lookups[k], gaps[k] + 1000);
  }
  EXPECT_LE(lookups[129] - lookups[128], 601000u);
  EXPECT_EQ(m.dns_retry, p2p::kRetryCountCap);
}

// Simulated time: with no answers, register goes out once and is resent five
// times, then the next time-out moves the session to the TCP link.
TEST(SessionMachine, FiveResendsThenTcp) {
  struct Case { const char* name; int start_state, start_next; K send; int request; };
  const Case cases[] = {
      {"register", DNS, REG, K::kSendRegister, REG},
      {"query", REG, QSP, K::kSendQuery, QSP},
      {"login", QSP, LOGIN, K::kSendLogin, LOGIN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    session_machine m = at(c.start_state, c.start_next);
    session_inputs in = known();
    in.user_id_known = false;
    in.up_known = false;
    int sends = 0, changes = 0;
    uint32_t now = PASS;
    for (int i = 0; i < 100 && !changes; ++i, now += 1000) {
      auto r = p2p::session_step(m, ev(E::kPass, in), now);
      m = r.machine;
      for (const session_action& a : r.actions) {
        if (a.kind == c.send) ++sends;
        if (a.kind == K::kChangeToTcp) {
          ++changes;
          EXPECT_EQ(a.a, c.request);
        }
      }
    }
    EXPECT_EQ(sends, 6);
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(m.udp_mode);
    EXPECT_EQ(m.state, INIT);
  }
}

// A keepalive reply with its flag set restarts the share timer: the full
// report goes out at the next pass.
TEST(SessionMachine, KeepaliveFlagRestartsShareReport) {
  session_machine m = at(SCHED, FINISH);
  session_event flagged = ev(E::kKeepaliveReply);
  flagged.flag = true;
  m = p2p::session_step(m, flagged, PASS).machine;
  const auto r = p2p::session_step(m, ev(E::kPass), PASS + 30);
  EXPECT_TRUE(r.actions.has(K::kResetShareStat));
  EXPECT_TRUE(r.actions.has(K::kSendShareToSp));
}

// The TCP keepalive's tick is renewed only when it went into the link.
TEST(SessionMachine, TcpKeepaliveTickRenewedWhenSent) {
  session_machine m = at(SCHED, FINISH, false);
  m.keepalive_tick = PASS - 60001;
  m = p2p::session_step(m, ev(E::kPass), PASS).machine;
  // Not sent: the next pass tries again.
  auto again = p2p::session_step(m, ev(E::kPass), PASS + 30);
  EXPECT_TRUE(again.actions.has(K::kSendTcpKeepalive));
  // Sent: nothing until the period has passed again.
  m = p2p::session_step(m, ev(E::kTcpKeepaliveSent), PASS).machine;
  auto quiet = p2p::session_step(m, ev(E::kPass), PASS + 30);
  EXPECT_FALSE(quiet.actions.has(K::kSendTcpKeepalive));
}

TEST(SessionMachine, StateNames) {
  struct Case { int state; const char* name; };
  const Case cases[] = {{-1, "Session_State_BAD"},       {0, "Session_State_INIT"},    {1, "Session_State_DNS"},
                        {2, "Session_State_REGISTER"},  {3, "Session_State_QUERYSP"}, {4, "Session_state_LOGIN"},
                        {5, "Session_State_SCHEDULER"}, {6, "Session_State_WAIT"},    {7, "Session_State_ERROR"},
                        {8, "Session_State_FINISH"},    {9, "State_Unknow"},          {-2, "State_Unknow"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    EXPECT_STREQ(p2p::session_state_name(c.state), c.name);
  }
}

}  // namespace
