// A TCP peer: locks and socket around its protocol side, requests to the upload tasks.
#include "p2pcore/ke/onlineuser.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>

#include "foundation/sync/locks.h"
#include "p2pcore/ke/ShareResources_new.h"
#include "p2pcore/ke/peer_commands.h"
#include "p2pcore/ke/uploadtask.h"
#include "p2pcore/ke/uploaduser.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/sockutil.h"
#include "p2pcore/stat/StatAPI.h"

namespace p2p {

namespace {
uint64_t system_seconds() { return uint64_t(std::time(nullptr)); }
online_clock g_clock = system_seconds;
}  // namespace

void set_online_clock(online_clock clock) { g_clock = clock ? clock : system_seconds; }
uint64_t online_now() { return g_clock(); }

online_user::online_user() : session_(*this, *this) {}

online_user::~online_user() {}

void online_user::reset(SOCKET s, uint32_t piece_blocks) {
  CLockGuard r(receive_lock_);
  CLockGuard w(send_lock_);
  socket_ = s;
  session_.reset(online_now(), long(s), piece_blocks);
}

int online_user::receive(uint8_t* p, size_t n) {
  CLockGuard h(receive_lock_);
  if (state() == ONLINE_BAD) {
    P2P_LOG(3, "The onlineuser fd[%d] is ONLINE_BAD", int(socket_));
    return -1;
  }
  return session_.receive(p, n);
}

bool online_user::set_send_buff(uint16_t command, const uint8_t* data, uint32_t length, const answer_stamp& stamp) {
  CLockGuard h(send_lock_);
  return session_.answer(command, data, length, stamp, online_now());
}

bool online_user::flush() {
  // A worker holding the lock is packing and sending for this user right now
  // and sends what waits itself; the scheduler thread, which receives every
  // peer's requests, must not stand behind it for a whole piece.
  if (!send_lock_.TryEnter()) return true;
  const bool ok = session_.send_cmd(nullptr, 0);
  send_lock_.Leave();
  return ok;
}

size_t online_user::waiting() { return session_.waiting_seen(); }

bool online_user::is_timed_out(int mode) {
  CLockGuard h(send_lock_);
  return session_.is_timed_out(mode, online_now());
}

answer_stamp online_user::stamp(uint64_t first_block) const {
  answer_stamp s;
  s.login_time = session_.login_time();
  s.user_id = session_.user_id();
  s.first_block = first_block;
  return s;
}

void online_user::choke(uint32_t value, uint32_t ms) {
  const std::vector<uint8_t> body = back_off_body(value, ms);
  set_send_buff(kTcpBackOff, body.data(), uint32_t(body.size()), stamp());
}

// ---- requests of the peer

// A request of this connection for the upload workers, for the Check_Have file.
tcp_upload_request* online_user::new_request(uint16_t command) {
  tcp_upload_request* r = new (std::nothrow) tcp_upload_request;
  if (!r) return nullptr;
  r->socket = socket_;
  r->command = command;
  r->login_time = session_.login_time();
  const CheckHave c = session_.check_have();
  r->user_id = c.user_id;
  std::memcpy(r->file_hash, c.fid, 16);
  return r;
}

void online_user::on_active_request() {
  std::vector<uint8_t> frame;
  {
    CLockGuard h(send_lock_);
    frame = session_.packed_frame(kTcpRspActive, nullptr, 0);
  }
  if (send_when_writable(socket_, frame.data(), int(frame.size())) == int(frame.size()))
    P2P_LOG(9, "TCP::Client send C2S_TCP_Rsp_Active success!");
  else
    P2P_LOG(3, "TCP::Client Send Rsp_Active to server fail!");
  // Answered: the manager closes it at the end of this pass.
  set_bad();
}

void online_user::on_check_have(const CheckHave& c) {
  // Handled here rather than on a worker, so that a Req_data right behind it
  // in the same stream finds its upload user.
  tcp_check_have(*this, c);
}

void online_user::on_data_piece(const DataPiece& p) {
  const CheckHave c = session_.check_have();
  stat_add_upload(&upload_counters::block_requests, 1);
  stat_add_read_counter(&read_counter_set::block_requests, 1);
  if (get_upload_user_manager()->check_upload_request(c.fid, c.user_id, -1, 0, 0)) {
    P2P_LOG(9, "TCP::Client choken userid=[%lld]", (long long)c.user_id);
    choke(p.request_id, kBackOffMs);
    return;
  }
  tcp_upload_request* r = new_request(kTcpReqData);
  if (!r) return;
  r->request_id = p.request_id;
  r->read_start = p.first_block;
  r->read_length = p.length;
  get_upload_task_mgr()->queue_tcp_block_request(r);
}

void online_user::on_finish_range(const HaveMap& m, const uint8_t* body, uint32_t length) {
  tcp_upload_request* r = new_request(kTcpFinishRange);
  if (!r) return;
  std::memcpy(r->file_hash, m.file_hash, 16);
  r->finish_value = m.flag;
  r->finish_map.assign(body, body + length);
  get_upload_task_mgr()->queue_tcp_command(r);
}

void online_user::on_verify(const VerifyRequest& v) {
  // Checked before anything is read or allocated; the read is bounded by the file.
  if (check_verify_range(v, kVerifyMaxLength) != PeerError::kNone) {
    P2P_LOG(2, "TCP::Client Req_VerifyRange RangeLength=[%llu] refused", (unsigned long long)v.length);
    choke(0, kBackOffMs);
    return;
  }
  tcp_upload_request* r = new_request(kTcpReqVerifyRange);
  if (!r) return;
  r->verify = v;
  get_upload_task_mgr()->queue_tcp_verify_request(r);
}

uint64_t online_user::shared_file_size(const uint8_t fid[16]) {
  char path[255];
  uint64_t size = 0;
  return get_shareres_manager()->query_share_counted(fid, path, &size, nullptr) ? size : 0;
}

void online_user::on_frame_received(uint16_t command, uint32_t length) {
  stat_count_tcp_peer_command(command);
  stat_add(&net_counters::link_bytes_received, length);
  stat_add(&net_counters::link_frames_received, 1);
}

void online_user::on_frame_sent(uint16_t command, size_t bytes) {
  stat_count_tcp_peer_command(command);
  stat_add(&net_counters::link_bytes_sent, bytes);
  stat_add(&net_counters::link_frames_sent, 1);
}

void online_user::log(int level, const std::string& text) { P2P_LOG(level, "%s", text.c_str()); }

long online_user::send(const uint8_t* p, size_t n, int* error) {
  const int chunk = int(std::min<size_t>(n, 0x7FFFFFFF));
  const int sent = ::send(socket_, reinterpret_cast<const char*>(p), chunk, 0);
  if (sent > 0) return sent;
  if (sent == 0) return 0;
  const int e = WSAGetLastError();
  if (e == WSAEWOULDBLOCK) return 0;
  *error = e;
  return -1;
}

}  // namespace p2p
