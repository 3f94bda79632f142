// How uploads live with the speed limiter: a request larger than one 1000-ms
// window can grant goes out in parts that fit, and a request the limiter
// refused waits its turn instead of being dropped, so that every peer is
// served at the limit and no new request passes the waiting ones. Peers take
// turns, each with its own requests in arrival order, so one that asks for
// much cannot crowd the others out. The owner holds one lock around every
// call of the queue and asks the limiter itself. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>

namespace p2p {

// Under a limit, a request larger than a sixteenth of a window (and than a
// UDP run of 16 blocks) goes in parts of that size: a large request first in
// line would keep the window idle until it fits whole, and peers take turns
// that are worth alike.
inline constexpr uint32_t kLimitedPartMin = 16 * 1024;
inline constexpr uint64_t kPartsPerWindow = 16;
// Bytes the next part of a request of `length` bytes may hold under `limit`
// bytes per 1000 ms: all of them without a limit or when they are no larger
// than a part; else the part cut down to whole units of `unit` bytes
// (1024-byte blocks when the limit is below one unit); 0 when not even one
// block fits the limit.
uint32_t upload_part_length(uint64_t limit, uint32_t length, uint32_t unit);

// Requests waiting for the limiter.
class grant_queue {
 public:
  static constexpr size_t kMaxWaiting = 4096;
  // Of one peer: what more it asks for is refused as the limiter would.
  static constexpr size_t kMaxPerPeer = 16;
  // Of one peer whose requests are replaceable (UDP runs: their peer asks
  // again for what does not come): a new one takes the place of its oldest.
  static constexpr size_t kMaxReplaceablePerPeer = 4;

  struct waiter {
    void* request = nullptr;
    uint8_t kind = 0;  // the owner's: what the request is
    uint64_t peer = 0;
  };

  // Queues a refused request behind the peer's others. False when there is
  // no room (it is refused for good). A replaceable request at its peer's
  // limit pushes out the peer's oldest, handed back in *pushed_out to be
  // dropped (else it stays null).
  bool park(void* request, uint8_t kind, uint64_t peer, bool replaceable, void** pushed_out);
  // The oldest request of the peer whose turn it is; that peer goes to the
  // back of the line.
  bool take(waiter* out);
  // A request taken and refused by the limiter again: its peer's turn is
  // next once more, with this request first.
  void put_back(const waiter& w);

  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  size_t of_peer(uint64_t peer) const;

 private:
  std::map<uint64_t, std::deque<waiter>> by_peer_;
  std::deque<uint64_t> turns_;  // each peer with requests once
  size_t size_ = 0;
};

}  // namespace p2p
