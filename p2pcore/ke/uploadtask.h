// Upload tasks (upload_task_mgr): the queues of block and verify requests that
// the scheduler thread fills from UDP and TCP peers, and the "p2p_upload"
// workers that take them, start the reads through the share list and the
// block cache, and, when a read completes in their alertable wait, send the
// answer: data packets over UDP, block or verify frames over the peer's TCP
// stream. Each completed read is reported to its upload user.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <vector>

#include "p2pcore/codec/upload_pacing.h"
#include "p2pcore/wire/peer_tcp.h"
#include "p2pcore/wire/peer_udp.h"

namespace p2p {

// A getfiledata (UDP 16) to serve.
struct udp_block_request {
  uint64_t user_id = 0;
  uint32_t nat_word = 0;
  uint32_t ip = 0;  // network order
  uint16_t port = 0;
  uint8_t count = 0;
  uint8_t file_hash[16] = {};
  uint8_t request_type = 0;
  uint32_t blocks[kMaxBlocksPerRequest] = {};
  uint32_t arrival_ms = 0;
  uint32_t wrapped = 0;  // the request came in the outer layer: so do the answers
};

// A verify range (UDP 56), checked and bounded by the session's handler.
struct udp_verify_request {
  uint32_t ip = 0;
  uint16_t port = 0;
  uint32_t arrival_ms = 0;
  uint32_t wrapped = 0;
  VerifyRequest request;
};

// A UDP command the workers hand back to the session's handlers (48, 49, 52, 53).
struct udp_command {
  uint16_t command = 0;
  std::vector<uint8_t> body;
  uint32_t ip = 0;
  uint16_t port = 0;
  uint32_t wrapped = 0;
};

// A request of a TCP peer: 18 Req_data piece, 21 finish_range, 23 Req_VerifyRange.
struct tcp_upload_request {
  SOCKET socket = INVALID_SOCKET;
  uint16_t command = 0;
  uint64_t login_time = 0;
  uint32_t flag = 0;
  uint64_t user_id = 0;
  uint8_t file_hash[16] = {};
  uint32_t request_id = 0;
  uint64_t read_start = 0;   // in 1024-byte blocks
  uint32_t read_length = 0;  // bytes of the piece still to send from read_start
  uint32_t part = 0;         // bytes of the read in flight: all of them, or what the speed limit lets go at once
  uint64_t send_time_ms = 0;
  VerifyRequest verify;
  uint8_t finish_value = 0;
  std::vector<uint8_t> finish_map;  // the finish_range body
};

class upload_task_mgr {
 public:
  upload_task_mgr();
  upload_task_mgr(const upload_task_mgr&) = delete;
  upload_task_mgr& operator=(const upload_task_mgr&) = delete;

  // Starts the workers: UploadThreadCount of them, at most 64; with 0 every
  // request runs at once on the thread that queues it.
  bool start_threads(int count);
  // Signals the stop, waits for every worker and closes the handles.
  bool stop_threads();
  int worker_count() const { return worker_count_; }
  bool inline_mode() const { return inline_; }

  bool queue_udp_block_request(const udp_block_request& r);
  bool queue_udp_verify_request(const udp_verify_request& r);
  bool queue_udp_command(udp_command c);
  // Pointers are taken over.
  bool queue_tcp_command(tcp_upload_request* r);
  bool queue_tcp_block_request(tcp_upload_request* r);
  bool queue_tcp_verify_request(tcp_upload_request* r);

  // Runs read completions due on the calling thread (inline mode: the
  // scheduler thread's pass calls it).
  static void run_completions();
  // Starts the reads waiting for the speed limiter whose turn came (the
  // workers call it at every wake; inline mode, the scheduler thread's pass).
  void serve_waiting();
  // Waits alertably, a few seconds at most, until the reads the calling thread
  // started have completed (a worker or the scheduler thread that ends).
  static void finish_reads_here();

 private:
  struct batch;
  static unsigned __stdcall worker_entry(void* self);
  void worker();
  // all: every queued request (the stop); else one TCP piece at a time.
  void take(batch& b, bool all);
  void take_locked(batch& b, bool all);
  bool has_work_locked() const;
  void signal_locked();
  void run(batch& b);
  template <class Item, class Run>
  bool enqueue(std::vector<Item>& queue, Item item, Run run);

  static void run_udp_block(const udp_block_request& r);
  static void run_udp_verify(const udp_verify_request& r);
  static void run_tcp_block(tcp_upload_request* r);
  // The reads of a block request under the speed limit: started, waiting for
  // the limiter, or refused (the caller answers the refusal).
  enum class paced { kStarted, kWaiting, kRefused };
  enum : uint8_t { kWaitingTcp = 0, kWaitingUdp = 1 };
  paced start_tcp_part(tcp_upload_request* r, bool its_turn, int* refusal);
  paced start_udp_run(void* run, bool its_turn);
  // Queues a read the limiter refused, behind those already waiting; false when there is no room.
  bool park(void* request, uint8_t kind, uint64_t peer);
  bool must_wait();
  static void free_waiting(const grant_queue::waiter& w);
  // Tells the peer to stay away and drops the request.
  static void refuse_tcp(tcp_upload_request* r, int refusal);
  static void run_tcp_verify(tcp_upload_request* r);
  static void run_tcp_command(tcp_upload_request* r);

  HANDLE threads_[64] = {};
  int worker_count_ = 0;
  bool inline_ = false;
  volatile LONG started_ = 0;
  HANDLE stop_ = nullptr;
  HANDLE wake_ = nullptr;
  CRITICAL_SECTION lock_;
  // Under lock_: the wake event is set and no worker has taken yet; workers
  // asleep on work_ (those with no read of their own in flight); the stop.
  bool wake_pending_ = false;
  CONDITION_VARIABLE work_;
  int sleepers_ = 0;
  bool stopping_ = false;
  std::vector<udp_block_request> udp_blocks_;
  std::vector<udp_verify_request> udp_verifies_;
  std::vector<udp_command> udp_commands_;
  std::vector<tcp_upload_request*> tcp_commands_;
  std::vector<tcp_upload_request*> tcp_blocks_;
  std::vector<tcp_upload_request*> tcp_verifies_;
  // Reads the speed limiter refused, under lock_; serving_ while a worker
  // starts them. waiting_count_ counts them and the one taken out to be
  // tried, so that no new request passes them.
  grant_queue waiting_;
  bool serving_ = false;
  volatile LONG waiting_count_ = 0;
};

upload_task_mgr* get_upload_task_mgr();

}  // namespace p2p
