// One peer connected over TCP (online_user): its socket, locks and clock around
// the connection's protocol side, the requests it hands to the upload tasks,
// and the answers the upload workers send back through it.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "foundation/sync/locks.h"
#include "p2pcore/wire/online_session.h"

namespace p2p {

struct tcp_upload_request;

// The clock of the online users' times (seconds since 1970); tests put their own.
using online_clock = uint64_t (*)();
void set_online_clock(online_clock clock);
uint64_t online_now();

class online_user : private online_session_events, private online_socket {
 public:
  online_user();
  ~online_user();
  online_user(const online_user&) = delete;
  online_user& operator=(const online_user&) = delete;

  // A new connection on this object; piece_blocks is CacheBlockSize.
  void reset(SOCKET s, uint32_t piece_blocks);
  SOCKET socket() const { return socket_; }
  int state() const { return session_.state(); }
  void set_bad() { session_.set_bad(); }
  uint64_t login_time() const { return session_.login_time(); }
  uint64_t user_id() const { return session_.user_id(); }
  CheckHave check_have() const { return session_.check_have(); }

  // Scheduler thread: received bytes, under the receive lock.
  int receive(uint8_t* p, size_t n);
  // Upload workers: an answer (17, 20, 22, 25) for the request it stamps.
  bool set_send_buff(uint16_t command, const uint8_t* data, uint32_t length, const answer_stamp& stamp);
  // Scheduler thread: sends what waits in the buffer, unless a worker is
  // sending for this user at the moment (it then sends it).
  bool flush();
  // Bytes left waiting by the last send, without the send lock.
  size_t waiting();
  bool is_timed_out(int mode);
  // The choke operation: tells the peer to stay away (frame 25: a value and
  // the milliseconds to wait); the connection stays.
  void choke(uint32_t value, uint32_t ms);
  answer_stamp stamp(uint64_t first_block = 0) const;

 private:
  // online_session_events
  void on_active_request() override;
  void on_check_have(const CheckHave& c) override;
  void on_data_piece(const DataPiece& p) override;
  void on_finish_range(const HaveMap& m, const uint8_t* body, uint32_t length) override;
  void on_verify(const VerifyRequest& r) override;
  uint64_t shared_file_size(const uint8_t fid[16]) override;
  void on_frame_received(uint16_t command, uint32_t length) override;
  void on_frame_sent(uint16_t command, size_t bytes) override;
  void log(int level, const std::string& text) override;
  // online_socket
  long send(const uint8_t* p, size_t n, int* error) override;
  tcp_upload_request* new_request(uint16_t command);

  CLock receive_lock_;
  CLock send_lock_;
  SOCKET socket_ = INVALID_SOCKET;
  online_session session_;
};

}  // namespace p2p
