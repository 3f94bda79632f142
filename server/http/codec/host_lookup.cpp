// The lookup of the server's host name on threads of its own.
#include "server/http/codec/host_lookup.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;
// A waiting caller looks at its cancel this often.
constexpr auto kCancelPoll = std::chrono::milliseconds(20);
}  // namespace

struct HostLookup::Shared {
  struct Entry {
    bool running = false;
    bool done = false;
    std::vector<uint32_t> addresses;
    Clock::time_point doneAt;
  };
  Resolve resolve;
  std::chrono::milliseconds retryFailed;
  std::mutex lock;
  std::condition_variable changed;
  std::map<std::string, Entry> names;
  int lookups = 0;
};

bool ParseDottedIpv4(const std::string& text, uint32_t* inAddr) {
  uint8_t bytes[4];
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
    const size_t start = at;
    unsigned value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 3) value = value * 10 + unsigned(text[at++] - '0');
    if (at == start || value > 255 || (at - start > 1 && text[start] == '0')) return false;
    if (at < text.size() && text[at] >= '0' && text[at] <= '9') return false;
    bytes[part] = uint8_t(value);
  }
  if (at != text.size()) return false;
  *inAddr = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
  return true;
}

bool IsReservedInvalidName(const std::string& name) {
  std::string n = name;
  if (!n.empty() && n.back() == '.') n.pop_back();
  for (char& c : n) c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
  constexpr char kLabel[] = "invalid";
  constexpr size_t kLength = sizeof kLabel - 1;
  if (n == kLabel) return true;
  return n.size() > kLength && n.compare(n.size() - kLength, kLength, kLabel) == 0 && n[n.size() - kLength - 1] == '.';
}

HostLookup::HostLookup(Resolve resolve, uint32_t retryFailedMs) : shared_(std::make_shared<Shared>()) {
  shared_->resolve = std::move(resolve);
  shared_->retryFailed = std::chrono::milliseconds(retryFailedMs);
}

HostLookup::~HostLookup() = default;

int HostLookup::Lookups() const {
  std::lock_guard<std::mutex> hold(shared_->lock);
  return shared_->lookups;
}

HostLookup::Outcome HostLookup::Find(const std::string& name, uint32_t waitMs, const Cancelled& cancelled,
                                     std::vector<uint32_t>* addresses, bool* startedLookup) {
  if (startedLookup) *startedLookup = false;
  addresses->clear();
  uint32_t dotted = 0;
  if (ParseDottedIpv4(name, &dotted)) {
    addresses->push_back(dotted);
    return kFound;
  }
  if (name.empty() || IsReservedInvalidName(name)) return kNotFound;

  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  std::shared_ptr<Shared> shared = shared_;
  std::unique_lock<std::mutex> hold(shared->lock);
  Shared::Entry& entry = shared->names[name];  // entries are never erased: the reference stays good
  const bool stale = entry.done && entry.addresses.empty() && Clock::now() - entry.doneAt >= shared->retryFailed;
  if (!entry.running && (!entry.done || stale)) {
    entry.running = true;
    ++shared->lookups;
    if (startedLookup) *startedLookup = true;
    // The thread keeps the shared state alive: it may still be in the
    // system's resolver when everything else has gone.
    std::thread([shared, name] {
      std::vector<uint32_t> found = shared->resolve(name);
      std::lock_guard<std::mutex> done(shared->lock);
      Shared::Entry& e = shared->names[name];
      e.addresses = std::move(found);
      e.running = false;
      e.done = true;
      e.doneAt = Clock::now();
      shared->changed.notify_all();
    }).detach();
  }
  for (;;) {
    if (entry.done && !entry.running) {
      *addresses = entry.addresses;
      return addresses->empty() ? kNotFound : kFound;
    }
    if (entry.done && !entry.addresses.empty()) {  // an old answer while a new lookup runs
      *addresses = entry.addresses;
      return kFound;
    }
    if (cancelled && cancelled()) return kCancelled;
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return kTimedOut;
    shared->changed.wait_for(hold, std::min<Clock::duration>(kCancelPoll, deadline - now));
  }
}
