// Upload workers: queues, the worker loop, the reads and their answers.
#include "p2pcore/ke/uploadtask.h"

#include <process.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>

#include "p2pcore/codec/texts.h"
#include "p2pcore/ke/ShareResources_new.h"
#include "p2pcore/ke/onlineuser.h"
#include "p2pcore/ke/onlineusermanager.h"
#include "p2pcore/ke/peer_commands.h"
#include "p2pcore/ke/uploaduser.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/scoped_lock.h"
#include "p2pcore/p2pbase/inc/winutil.h"
#include "p2pcore/stat/StatAPI.h"

namespace p2p {

namespace {

constexpr DWORD kFinishReadsMs = 5000;
constexpr DWORD kIdleWaitMs = 100;

// Milliseconds as the read times are kept: seconds since 1970 times 1000.
uint64_t now_ms() { return uint64_t(std::time(nullptr)) * 1000; }

// The worker of a UDP block read: what the data packets of one run need.
struct udp_run {
  uint64_t user_id;
  uint32_t ip;
  uint16_t port;
  uint8_t file_hash[16];
  uint32_t first;
  uint32_t count;
  uint32_t arrival_ms;
  bool wrapped;
};

// Who a waiting read is for: one peer may not fill the queue alone.
uint64_t peer_key(const tcp_upload_request& r) { return uint64_t(r.socket) | (1ull << 63); }

struct udp_verify_read {
  udp_verify_request request;
};

void count_read(uint32_t arrival_ms, uint32_t requested, uint32_t bytes_read, int shared) {
  const uint32_t elapsed = uint32_t(now_ms()) - arrival_ms;
  stat_add_upload(&upload_counters::read_ms, elapsed);
  stat_add_upload(&upload_counters::reads_completed, 1);
  stat_add_read_counter(&read_counter_set::read_ms, elapsed);
  stat_add_read_counter(&read_counter_set::block_reads, 1);
  if (shared == 1) {
    stat_add_upload(&upload_counters::cache_reads, 1);
    stat_add_upload(&upload_counters::cache_bytes, requested);
    stat_add_read_counter(&read_counter_set::cache_reads, 1);
    stat_add_read_counter(&read_counter_set::cache_bytes, requested);
  } else {
    stat_add_upload(&upload_counters::disk_reads, 1);
    stat_add_upload(&upload_counters::disk_bytes, bytes_read);
    stat_add_read_counter(&read_counter_set::disk_reads, 1);
    stat_add_read_counter(&read_counter_set::disk_bytes, bytes_read);
  }
}

void sync_read_callback_new(const uint8_t* data, uint32_t requested, uint32_t bytes_read, uint32_t error, int shared,
                            uintptr_t user1, uintptr_t) {
  std::unique_ptr<udp_run> run(reinterpret_cast<udp_run*>(user1));
  if (error != 0 || requested == 0 || !data) {
    P2P_LOG(1, "upload_task_mgr::sync_read_callback_new,read error,[errno:%llu]", (unsigned long long)error);
    return;
  }
  count_read(run->arrival_ms, requested, bytes_read, shared);
  // Never more than the read delivered: a short read sends what it read.
  const uint32_t usable = std::min(requested, bytes_read);
  const uint64_t own_id = own_user_id();
  p2p_upload_user_manager* users = get_upload_user_manager();
  std::string blocks;
  uint8_t packet[kBlockPacketMax];
  uint64_t sent_bytes = 0;
  for (uint32_t k = 0; k < run->count; ++k) {
    const uint32_t length = run_packet_length(usable, k);
    if (length == 0) break;
    const uint32_t sequence = users->next_packet_sequence(run->file_hash, run->user_id);
    const size_t n = build_block_packet(packet, sizeof packet, run->file_hash, own_id, run->first + k,
                                        data + size_t(k) * kBlockBytes, length, sequence, 1 + GetTickCount() % 5);
    if (n && peer_udp_send_packet(packet, n, run->ip, run->port, run->wrapped)) {
      sent_bytes += length;
      stat_add(&net_counters::data_packets_sent, 1);
      stat_add_read_counter(&read_counter_set::data_packets, 1);
      stat_add_read_counter(&read_counter_set::data_bytes, uint32_t(n));
    }
    char item[16];
    std::snprintf(item, sizeof item, "%u: ", unsigned(run->first + k));
    blocks += item;
  }
  stat_add(&net_counters::upload_payload_bytes, sent_bytes);
  P2P_LOG(1,
          "upload_task_mgr::sync_read_callback,[userid:%llu],[readusetime:%dms],[blockcount:%u],[blocks:%s],"
          "[fromcache:%d]",
          (unsigned long long)run->user_id, int(uint32_t(now_ms()) - run->arrival_ms), unsigned(run->count),
          blocks.c_str(), shared);
  users->report_transfer(run->file_hash, run->user_id, requested, bytes_read, shared);
}

void sync_verify_read_callback_new(const uint8_t* data, uint32_t requested, uint32_t bytes_read, uint32_t error,
                                   int shared, uintptr_t user1, uintptr_t) {
  std::unique_ptr<udp_verify_read> v(reinterpret_cast<udp_verify_read*>(user1));
  if (error != 0 || requested == 0 || !data) {
    P2P_LOG(1, "upload_task_mgr::sync_verify_read_callback_new,read error,[errno:%llu]", (unsigned long long)error);
    return;
  }
  const udp_verify_request& r = v->request;
  count_read(r.arrival_ms, requested, bytes_read, shared);
  if (bytes_read < r.request.length || requested != r.request.length) {
    P2P_LOG(9, "verify read(%u) < need(%lld)\r\n", unsigned(bytes_read), (long long)r.request.length);
  } else {
    const std::vector<uint8_t> answer = verify_answer_body(r.request, data, size_t(r.request.length));
    peer_udp_send(answer.data(), answer.size(), r.ip, r.port, r.wrapped != 0);
  }
  P2P_LOG(9, "veryfy end!");
}

std::shared_ptr<online_user> user_for(const tcp_upload_request& r) {
  std::shared_ptr<online_user> u = get_online_user_manager()->find_user(r.socket);
  if (u && (u->login_time() != r.login_time || u->user_id() != r.user_id)) return nullptr;
  return u;
}

void choke_tcp(const tcp_upload_request& r, uint32_t value, uint32_t ms) {
  if (std::shared_ptr<online_user> u = user_for(r)) u->choke(value, ms);
  P2P_LOG(9, "TCP::Client choken userid=[%lld]", (long long)r.user_id);
}

void sync_tcp_read_callback_new(const uint8_t* data, uint32_t requested, uint32_t bytes_read, uint32_t error,
                                int shared, uintptr_t user1, uintptr_t) {
  std::unique_ptr<tcp_upload_request> r(reinterpret_cast<tcp_upload_request*>(user1));
  if (error != 0 || requested == 0 || !data) {
    P2P_LOG(1, "upload_task_mgr::sync_tcp_read_callback_new,read error,[errno:%llu]", (unsigned long long)error);
    choke_tcp(*r, 0, kBackOffMs);
    return;
  }
  count_read(uint32_t(r->send_time_ms), requested, bytes_read, shared);
  const uint32_t usable = std::min(requested, bytes_read);
  std::shared_ptr<online_user> u = user_for(*r);
  bool sent = false;
  if (u) {
    answer_stamp stamp = u->stamp(r->read_start);
    stamp.login_time = r->login_time;
    stamp.user_id = r->user_id;
    sent = u->set_send_buff(kTcpBlockData, data, usable, stamp);
    if (sent) {
      stat_add(&net_counters::upload_payload_bytes, usable);
      stat_add(&net_counters::tcp_send_bytes, usable);
    }
  }
  get_upload_user_manager()->report_transfer(r->file_hash, r->user_id, requested, bytes_read, shared);
  // A piece the speed limit sends in parts: the next one, in whole frames, is
  // asked for as the limiter grants it.
  if (!sent || usable != r->part || r->read_length <= r->part) return;
  r->read_start += r->part / kBlockBytes;
  r->read_length -= r->part;
  r->part = 0;
  get_upload_task_mgr()->queue_tcp_block_request(r.release());
}

void tcp_verify_callback(const uint8_t* data, uint32_t requested, uint32_t bytes_read, uint32_t error, int shared,
                         uintptr_t user1, uintptr_t) {
  std::unique_ptr<tcp_upload_request> r(reinterpret_cast<tcp_upload_request*>(user1));
  if (error != 0 || requested == 0 || !data) {
    P2P_LOG(9, "TCP::Verify callback, readed=[%d] and errcode=[errno:%llu]", int(bytes_read),
            (unsigned long long)error);
    choke_tcp(*r, 0, kBackOffMs);
    return;
  }
  count_read(uint32_t(r->send_time_ms), requested, bytes_read, shared);
  if (bytes_read < r->verify.length || requested != r->verify.length) {
    P2P_LOG(9, "verify read(%u) < need(%lld)\r\n", unsigned(bytes_read), (long long)r->verify.length);
    choke_tcp(*r, 0, kBackOffMs);
    return;
  }
  const std::vector<uint8_t> answer = verify_answer_body(r->verify, data, size_t(r->verify.length));
  if (std::shared_ptr<online_user> u = user_for(*r)) {
    answer_stamp stamp = u->stamp();
    stamp.login_time = r->login_time;
    stamp.user_id = r->user_id;
    u->set_send_buff(kTcpVerifyAnswer, answer.data(), uint32_t(answer.size()), stamp);
  }
}

}  // namespace

// Everything one wake takes from the queues.
struct upload_task_mgr::batch {
  std::vector<udp_block_request> udp_blocks;
  std::vector<udp_verify_request> udp_verifies;
  std::vector<udp_command> udp_commands;
  std::vector<tcp_upload_request*> tcp_commands;
  std::vector<tcp_upload_request*> tcp_blocks;
  std::vector<tcp_upload_request*> tcp_verifies;
};

upload_task_mgr::upload_task_mgr() {
  InitializeCriticalSection(&lock_);
  InitializeConditionVariable(&work_);
}

upload_task_mgr* get_upload_task_mgr() {
  static upload_task_mgr* m = new (std::nothrow) upload_task_mgr;
  return m;
}

bool upload_task_mgr::start_threads(int count) {
  if (worker_count_ || inline_) return true;
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  {
    scoped_lock h(lock_);
    stopping_ = false;
    udp_commands_.reserve(2565);
  }
  P2P_LOG(4, "create upload thread %d", count);
  prepare_peer_answers();
  // The handle array holds 64 workers; 0 serves every request on the queuing thread.
  count = std::min(std::max(count, 0), 64);
  inline_ = count == 0;
  for (int i = 0; i < count; ++i) {
    if (i >= 2) Sleep(100);
    HANDLE t = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, worker_entry, this, 0, nullptr));
    if (!t) break;
    threads_[worker_count_++] = t;
  }
  return true;
}

bool upload_task_mgr::stop_threads() {
  {
    scoped_lock h(lock_);
    stopping_ = true;
    WakeAllConditionVariable(&work_);
  }
  if (stop_) SetEvent(stop_);
  for (int i = 0; i < worker_count_; ++i) {
    WaitForSingleObject(threads_[i], INFINITE);
    CloseHandle(threads_[i]);
    threads_[i] = nullptr;
  }
  worker_count_ = 0;
  inline_ = false;
  if (stop_) CloseHandle(stop_);
  if (wake_) CloseHandle(wake_);
  stop_ = wake_ = nullptr;
  // Requests still queued were never started: they go with the stop.
  batch rest;
  take(rest, true);
  for (tcp_upload_request* r : rest.tcp_commands) delete r;
  for (tcp_upload_request* r : rest.tcp_blocks) delete r;
  for (tcp_upload_request* r : rest.tcp_verifies) delete r;
  std::vector<grant_queue::waiter> waited;
  {
    scoped_lock h(lock_);
    grant_queue::waiter w;
    while (waiting_.take(&w)) waited.push_back(w);
    waiting_count_ = 0;
  }
  for (const grant_queue::waiter& w : waited) free_waiting(w);
  return true;
}

unsigned __stdcall upload_task_mgr::worker_entry(void* self) {
  static_cast<upload_task_mgr*>(self)->worker();
  return 0;
}

void upload_task_mgr::worker() {
  set_thread_name("p2p_upload");
  InterlockedCompareExchange(&started_, 1, 0);
  const HANDLE events[2] = {wake_, stop_};
  batch b;
  for (;;) {
    if (reads_in_flight_here() == 0 && !waiting_count_) {
      // No completion of ours can come: wait for work on the condition
      // variable, whose wake costs no round trip through the wineserver
      // (the event's does, twice per request).
      bool stop = false, got = false;
      {
        scoped_lock h(lock_);
        if (!stopping_ && !has_work_locked()) {
          ++sleepers_;
          SleepConditionVariableCS(&work_, &lock_, kIdleWaitMs);
          --sleepers_;
        }
        stop = stopping_;
        got = !stop && has_work_locked();
        if (got) take_locked(b, false);
      }
      if (stop) break;
      if (got) run(b);
      continue;
    }
    // Read completions run inside this alertable wait, on the worker that
    // issued them. While reads wait for the speed limiter the wait is short:
    // the window frees bytes every millisecond.
    const DWORD r = WaitForMultipleObjectsEx(2, events, FALSE, waiting_count_ ? 10 : 100, TRUE);
    if (r == WAIT_OBJECT_0 + 1) break;
    if (waiting_count_) serve_waiting();
    if (r != WAIT_OBJECT_0) continue;
    take(b, false);
    run(b);
  }
  // Reads this worker started complete only in its own alertable waits: they
  // are waited for (a few seconds at most), so none is lost with the thread.
  finish_reads_here();
}

void upload_task_mgr::finish_reads_here() {
  const DWORD start = GetTickCount();
  while (reads_in_flight_here() > 0 && GetTickCount() - start < kFinishReadsMs) SleepEx(50, TRUE);
  run_completions();
}

void upload_task_mgr::take(batch& b, bool all) {
  scoped_lock h(lock_);
  take_locked(b, all);
}

bool upload_task_mgr::has_work_locked() const {
  return !udp_blocks_.empty() || !udp_verifies_.empty() || !udp_commands_.empty() || !tcp_commands_.empty() ||
         !tcp_blocks_.empty() || !tcp_verifies_.empty();
}

void upload_task_mgr::take_locked(batch& b, bool all) {
  wake_pending_ = false;
  b.udp_blocks.swap(udp_blocks_);
  b.udp_verifies.swap(udp_verifies_);
  b.udp_commands.swap(udp_commands_);
  b.tcp_commands.swap(tcp_commands_);
  b.tcp_verifies.swap(tcp_verifies_);
  // A TCP block request is a whole piece to encipher and send: one per wake,
  // and the next worker is woken for the rest, so that a burst of peers'
  // pieces is served on as many workers as there are pieces, not one after
  // the other on the worker that happened to wake.
  if (all || tcp_blocks_.size() <= 1) {
    b.tcp_blocks.swap(tcp_blocks_);
  } else {
    b.tcp_blocks.push_back(tcp_blocks_.front());
    tcp_blocks_.erase(tcp_blocks_.begin());
    signal_locked();
  }
}

// Under lock_: one signal wakes one worker, which clears it when it takes; a
// second signal before then would only wake a worker to find nothing.
void upload_task_mgr::signal_locked() {
  // A worker asleep on the condition variable takes it; the event is for
  // those in their alertable wait, with reads of their own to complete.
  if (sleepers_ > 0) {
    WakeConditionVariable(&work_);
    return;
  }
  if (wake_pending_ || !wake_) return;
  wake_pending_ = true;
  SetEvent(wake_);
}

void upload_task_mgr::run(batch& b) {
  for (tcp_upload_request* r : b.tcp_blocks) run_tcp_block(r);
  for (tcp_upload_request* r : b.tcp_verifies) run_tcp_verify(r);
  for (tcp_upload_request* r : b.tcp_commands) run_tcp_command(r);
  for (const udp_block_request& r : b.udp_blocks) run_udp_block(r);
  for (const udp_verify_request& r : b.udp_verifies) run_udp_verify(r);
  for (const udp_command& c : b.udp_commands) run_deferred_udp_command(c);
  b.tcp_blocks.clear();
  b.tcp_verifies.clear();
  b.tcp_commands.clear();
  b.udp_blocks.clear();
  b.udp_verifies.clear();
  b.udp_commands.clear();
}

// With no workers the request runs at once on the queuing thread.
template <class Item, class Run>
bool upload_task_mgr::enqueue(std::vector<Item>& queue, Item item, Run run) {
  if (inline_) {
    run(item);
    return true;
  }
  scoped_lock h(lock_);
  queue.push_back(std::move(item));
  signal_locked();
  return true;
}

bool upload_task_mgr::queue_udp_block_request(const udp_block_request& r) {
  return enqueue(udp_blocks_, r, run_udp_block);
}

bool upload_task_mgr::queue_udp_verify_request(const udp_verify_request& r) {
  return enqueue(udp_verifies_, r, run_udp_verify);
}

bool upload_task_mgr::queue_udp_command(udp_command c) {
  return enqueue(udp_commands_, std::move(c), run_deferred_udp_command);
}

bool upload_task_mgr::queue_tcp_command(tcp_upload_request* r) { return enqueue(tcp_commands_, r, run_tcp_command); }

bool upload_task_mgr::queue_tcp_block_request(tcp_upload_request* r) { return enqueue(tcp_blocks_, r, run_tcp_block); }

bool upload_task_mgr::queue_tcp_verify_request(tcp_upload_request* r) {
  return enqueue(tcp_verifies_, r, run_tcp_verify);
}

void upload_task_mgr::run_completions() {
  while (SleepEx(0, TRUE) == WAIT_IO_COMPLETION) {
  }
}

void upload_task_mgr::run_udp_block(const udp_block_request& r) {
  stat_add_read_counter(&read_counter_set::udp_blocks_queued, r.count);
  if (r.count == 0) return;
  upload_task_mgr* m = get_upload_task_mgr();
  const uint64_t limit = get_shareres_manager()->upload_limit_now();
  for (const BlockRun& run : split_runs(r.blocks, r.count)) {
    // A run larger than one window of the speed limit goes in runs that fit;
    // under a limit below one block it is refused as a whole.
    const uint32_t part =
        std::max<uint32_t>(upload_part_length(limit, run.count * kBlockBytes, kBlockBytes) / kBlockBytes, 1);
    for (uint32_t done = 0; done < run.count; done += part) {
      udp_run* t = new (std::nothrow) udp_run;
      if (!t) return;
      t->user_id = r.user_id;
      t->ip = r.ip;
      t->port = r.port;
      std::memcpy(t->file_hash, r.file_hash, 16);
      t->first = run.first + done;
      t->count = std::min(part, run.count - done);
      t->arrival_ms = r.arrival_ms;
      t->wrapped = r.wrapped != 0;
      // Refused: the peer gets no answer and asks again.
      if (m->start_udp_run(t, false) == paced::kRefused) delete t;
    }
  }
}

upload_task_mgr::paced upload_task_mgr::start_udp_run(void* p, bool its_turn) {
  udp_run* t = static_cast<udp_run*>(p);
  // A run no window can grant (the limit went down meanwhile) would wait forever, and all behind it.
  const uint64_t limit = get_shareres_manager()->upload_limit_now();
  if (limit && uint64_t(t->count) * kBlockBytes > limit) return paced::kRefused;
  if (!its_turn && must_wait()) return park(t, kWaitingUdp, t->user_id) ? paced::kWaiting : paced::kRefused;
  int refusal = 0;
  const int started = get_shareres_manager()->req_upload_data(
      t->file_hash, t->user_id, uint64_t(t->first) * kBlockBytes, t->count * kBlockBytes, sync_read_callback_new,
      reinterpret_cast<uintptr_t>(t), 0, &refusal);
  if (started != 0) return paced::kStarted;
  if (refusal != kRefusedBySpeedLimit) return paced::kRefused;
  if (its_turn) return paced::kWaiting;  // the caller puts it back first in line
  return park(t, kWaitingUdp, t->user_id) ? paced::kWaiting : paced::kRefused;
}

void upload_task_mgr::run_udp_verify(const udp_verify_request& r) {
  udp_verify_read* v = new (std::nothrow) udp_verify_read{r};
  if (!v) return;
  if (get_shareres_manager()->req_verify_data(r.request.file_hash, 0, r.request.start, uint32_t(r.request.length),
                                              sync_verify_read_callback_new, reinterpret_cast<uintptr_t>(v), 0) == 0)
    delete v;
}

void upload_task_mgr::run_tcp_block(tcp_upload_request* r) {
  int refusal = 0;
  if (get_upload_task_mgr()->start_tcp_part(r, false, &refusal) == paced::kRefused) refuse_tcp(r, refusal);
}

void upload_task_mgr::refuse_tcp(tcp_upload_request* r, int refusal) {
  P2P_LOG(9, "req_upload_data fail user id =[%llu] begin=[%llu]", (unsigned long long)r->user_id,
          (unsigned long long)r->read_start);
  // Over the speed limit (no room to wait) the peer comes back within a second; otherwise after a minute.
  choke_tcp(*r, r->request_id, refusal == kRefusedBySpeedLimit ? 1000 : kBackOffMs);
  delete r;
}

upload_task_mgr::paced upload_task_mgr::start_tcp_part(tcp_upload_request* r, bool its_turn, int* refusal) {
  *refusal = 0;
  if (!its_turn && must_wait()) {
    if (park(r, kWaitingTcp, peer_key(*r))) return paced::kWaiting;
    *refusal = kRefusedBySpeedLimit;
    return paced::kRefused;
  }
  // Whole frames of 4096 bytes at a time when the piece is large for the limit's window.
  r->part = upload_part_length(get_shareres_manager()->upload_limit_now(), r->read_length, kBlockFrameData);
  if (r->part == 0 && r->read_length != 0) {
    *refusal = kRefusedBySpeedLimit;  // not one block fits a window
    return paced::kRefused;
  }
  r->send_time_ms = now_ms();
  stat_add_read_counter(&read_counter_set::tcp_reads_queued, 1);
  const int started = get_shareres_manager()->req_upload_data(r->file_hash, r->user_id, r->read_start * kBlockBytes,
                                                              r->part, sync_tcp_read_callback_new,
                                                              reinterpret_cast<uintptr_t>(r), 0, refusal);
  if (started != 0) return paced::kStarted;
  if (*refusal != kRefusedBySpeedLimit) return paced::kRefused;
  if (its_turn || park(r, kWaitingTcp, peer_key(*r))) return paced::kWaiting;
  return paced::kRefused;
}

// Read without the lock: a request that slips past one being parked at the
// same moment costs nothing but its place in line.
bool upload_task_mgr::must_wait() { return waiting_count_ != 0; }

bool upload_task_mgr::park(void* request, uint8_t kind, uint64_t peer) {
  void* pushed_out = nullptr;
  {
    scoped_lock h(lock_);
    // A UDP peer asks again for what does not come: its newest runs wait, not
    // its oldest. A TCP piece is waited for.
    if (!waiting_.park(request, kind, peer, kind == kWaitingUdp, &pushed_out)) return false;
    waiting_count_ = LONG(waiting_.size() + (serving_ ? 1 : 0));
  }
  delete static_cast<udp_run*>(pushed_out);
  return true;
}

void upload_task_mgr::free_waiting(const grant_queue::waiter& w) {
  if (w.kind == kWaitingUdp)
    delete static_cast<udp_run*>(w.request);
  else
    delete static_cast<tcp_upload_request*>(w.request);
}

void upload_task_mgr::serve_waiting() {
  {
    scoped_lock h(lock_);
    if (serving_ || waiting_.empty()) return;
    serving_ = true;
  }
  for (;;) {
    grant_queue::waiter w;
    {
      scoped_lock h(lock_);
      if (!waiting_.take(&w)) break;
    }
    int refusal = 0;
    const paced p = w.kind == kWaitingUdp ? start_udp_run(w.request, true)
                                          : start_tcp_part(static_cast<tcp_upload_request*>(w.request), true, &refusal);
    if (p == paced::kWaiting) {
      // The window is full: first in line again, tried at the next wake.
      scoped_lock h(lock_);
      waiting_.put_back(w);
      break;
    }
    if (p == paced::kRefused) {
      if (w.kind == kWaitingUdp)
        free_waiting(w);  // the peer gets no answer and asks again
      else
        refuse_tcp(static_cast<tcp_upload_request*>(w.request), refusal);
    }
  }
  scoped_lock h(lock_);
  serving_ = false;
  waiting_count_ = LONG(waiting_.size());
}

void upload_task_mgr::run_tcp_verify(tcp_upload_request* r) {
  r->send_time_ms = now_ms();
  if (get_shareres_manager()->req_verify_data(r->file_hash, r->user_id, r->verify.start, uint32_t(r->verify.length),
                                              tcp_verify_callback, reinterpret_cast<uintptr_t>(r), 0) != 0)
    return;
  choke_tcp(*r, 0, kBackOffMs);
  delete r;
}

void upload_task_mgr::run_tcp_command(tcp_upload_request* r) {
  std::unique_ptr<tcp_upload_request> owned(r);
  if (r->command == kTcpFinishRange) tcp_finish_range(*r);
}

}  // namespace p2p
