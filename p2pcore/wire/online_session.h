// The protocol side of one TCP connection accepted from a peer: its two
// enciphered streams, the dispatch of Req_Active, Check_Have, Req_data,
// finish_range and Req_VerifyRange with their checks, the state (INIT,
// CHECK_HAVE, BAD), the 1 MiB send buffer with its 80% limit, answers cut into
// frames, and the time-outs. Sockets, locks and clocks belong to the owner:
// receive() runs under its receive lock, answer(), send_cmd() and
// is_timed_out() under its send lock. The Check_Have record has a lock of its
// own: the receive path writes it while upload workers and answers read it.
// Platform-free.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "p2pcore/wire/peer_tcp.h"
#include "p2pcore/wire/tcp_stream.h"

namespace p2p {

enum online_state : int { ONLINE_INIT = 0, ONLINE_CHECK_HAVE = 1, ONLINE_BAD = 2 };

inline constexpr size_t kOnlineSendBuffer = 1 << 20;
// More than 80% of the buffer waiting makes the user bad (838,860.8 bytes).
inline constexpr size_t kOnlineSendLimit = kOnlineSendBuffer * 8 / 10;
// Reads one Req_data may ask for: a frame of 64 ranges could otherwise name
// millions of pieces.
inline constexpr size_t kMaxPiecesPerRequest = 256;
// Block frames are handed to the socket this many bytes at a time.
inline constexpr size_t kSendBatch = 256 * 1024;

// What the connection hands on and asks of its owner.
class online_session_events {
 public:
  virtual ~online_session_events() = default;
  virtual void on_active_request() = 0;  // answer with one frame 9 and close
  virtual void on_check_have(const CheckHave& c) = 0;
  virtual void on_data_piece(const DataPiece& p) = 0;
  virtual void on_finish_range(const HaveMap& m, const uint8_t* body, uint32_t length) = 0;
  virtual void on_verify(const VerifyRequest& r) = 0;
  // Size of a shared file, 0 when it is not shared: Req_data ranges are checked against it.
  virtual uint64_t shared_file_size(const uint8_t fid[16]) = 0;
  virtual void on_frame_received(uint16_t command, uint32_t length) = 0;
  virtual void on_frame_sent(uint16_t command, size_t bytes) = 0;
  virtual void log(int level, const std::string& text) = 0;
};

// The connection's socket: bytes sent; 0 when it would block; -1 on an error (its code in *error).
class online_socket {
 public:
  virtual ~online_socket() = default;
  virtual long send(const uint8_t* p, size_t n, int* error) = 0;
};

// Who an answer is for: an answer for an older connection on the same socket
// (another login time or user id) is refused.
struct answer_stamp {
  uint64_t login_time = 0;
  uint64_t user_id = 0;
  uint32_t flag = 0;
  uint64_t first_block = 0;  // of a block answer (20)
};

class online_session {
 public:
  online_session(online_session_events& events, online_socket& socket);
  ~online_session();
  online_session(const online_session&) = delete;
  online_session& operator=(const online_session&) = delete;

  // A new connection: new streams both ways, state INIT, last-active and login
  // time now, the Check_Have fields cleared. piece_blocks is CacheBlockSize.
  void reset(uint64_t now, long fd, uint32_t piece_blocks);

  int state() const { return state_.load(); }
  void set_bad() { state_.store(ONLINE_BAD); }
  long fd() const { return fd_; }
  uint64_t login_time() const { return login_time_; }
  uint64_t last_active() const { return last_active_; }
  // Copies, under the record's lock.
  uint64_t user_id() const;
  CheckHave check_have() const;
  size_t waiting() const { return tail_ - head_; }
  // What waited after the last send, readable without the send lock (the
  // scheduler's write set): it never waits behind a worker enciphering a piece.
  size_t waiting_seen() const { return waiting_seen_.load(std::memory_order_relaxed); }
  uint64_t bytes_sent() const { return bytes_sent_; }

  // Receive path: deciphers, reassembles and dispatches every complete frame.
  // -1 when the user is bad (on entry; a stream error makes it bad too), else 0.
  int receive(uint8_t* bytes, size_t n);

  // Send path. An answer: command 20 goes out in frames of 4096 data bytes,
  // any other command as one frame. False when refused or when sending failed.
  bool answer(uint16_t command, const uint8_t* data, uint32_t length, const answer_stamp& stamp, uint64_t now);
  // Appends packed bytes and sends what the socket takes; n = 0 flushes.
  bool send_cmd(const uint8_t* p, size_t n);
  // Mode 1 (offline users): 5 s after the last activity; others 20 s; and 10 s
  // after the login while the user was never active. Marks the user bad.
  bool is_timed_out(int mode, uint64_t now);
  // One packed frame, the opening in front when it is the stream's first.
  std::vector<uint8_t> packed_frame(uint16_t command, const uint8_t* body, size_t n);

 private:
  class receiver;
  void dispatch(uint16_t command, const uint8_t* body, uint32_t length);
  void on_req_data(const uint8_t* body, uint32_t length);
  void on_finish_range(const uint8_t* body, uint32_t length);
  void on_verify_range(const uint8_t* body, uint32_t length);
  bool usable_for_sending();
  // Room for n more bytes in the buffer, within the 80% limit (else the user is bad).
  bool room_for(size_t n);
  bool append_frame(uint16_t command, const uint8_t* head, size_t head_n, const uint8_t* data, size_t data_n);
  void log(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));

  online_session_events& events_;
  online_socket& socket_;
  std::unique_ptr<receiver> in_;
  std::unique_ptr<DataOutPacking> out_;
  std::atomic<int> state_{ONLINE_INIT};
  long fd_ = -1;
  uint32_t piece_blocks_ = 256;
  uint64_t login_time_ = 0, last_active_ = 0;
  mutable std::mutex check_have_lock_;
  CheckHave check_have_;  // under check_have_lock_
  std::unique_ptr<uint8_t[]> buffer_;
  size_t head_ = 0, tail_ = 0;  // bytes waiting: buffer_[head_, tail_)
  size_t unsent_ = 0;           // appended since the last send
  std::atomic<size_t> waiting_seen_{0};
  uint64_t bytes_sent_ = 0;
};

}  // namespace p2p
