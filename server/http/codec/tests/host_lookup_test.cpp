// The server host's lookup with a resolver the test holds: one lookup per
// name however many requests come, a wait bounded by its time and ended by
// a cancel while the resolver stalls, ".invalid" and dotted text never
// looked up, and a failed name tried again only after its retry time.
#include "server/http/codec/host_lookup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A resolver that answers only once released (or at once when open).
class HeldResolver {
 public:
  explicit HeldResolver(bool open) : open_(open) {}
  ~HeldResolver() { WaitIdle(); }
  std::vector<uint32_t> operator()(const std::string& name) {
    std::unique_lock<std::mutex> hold(lock_);
    ++calls_;
    ++inside_;
    names_.push_back(name);
    changed_.wait(hold, [this] { return open_; });
    --inside_;
    changed_.notify_all();
    if (name.find("nowhere") != std::string::npos) return {};
    return {0x0100007Fu, 0x0200007Fu};
  }
  void Release() {
    std::lock_guard<std::mutex> hold(lock_);
    open_ = true;
    changed_.notify_all();
  }
  // The lookup threads have left the resolver (they end right after).
  void WaitIdle() {
    Release();
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return inside_ == 0; });
  }
  int Calls() {
    std::lock_guard<std::mutex> hold(lock_);
    return calls_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool open_;
  int calls_ = 0;
  int inside_ = 0;
  std::vector<std::string> names_;
};

HostLookup::Resolve Through(HeldResolver* r) {
  return [r](const std::string& name) { return (*r)(name); };
}

long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

const HostLookup::Cancelled kNever = [] { return false; };

}  // namespace

TEST(HostLookup, NamesThatAreNeverLookedUp) {
  HeldResolver resolver(true);
  HostLookup hosts(Through(&resolver), 0);
  struct Row {
    const char* name;
    HostLookup::Outcome outcome;
    uint32_t address;
  } rows[] = {
      {"127.0.0.1", HostLookup::kFound, 0x0100007Fu},
      {"10.1.2.3", HostLookup::kFound, 0x0302010Au},
      {"maps.orchard.invalid", HostLookup::kNotFound, 0},
      {"P2S.ORCHARD.INVALID.", HostLookup::kNotFound, 0},
      {"invalid", HostLookup::kNotFound, 0},
      {"", HostLookup::kNotFound, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    for (int i = 0; i < 3; ++i) {
      std::vector<uint32_t> found;
      EXPECT_EQ(hosts.Find(r.name, 1000, kNever, &found), r.outcome);
      EXPECT_EQ(found, r.address ? std::vector<uint32_t>{r.address} : std::vector<uint32_t>{});
    }
  }
  EXPECT_EQ(hosts.Lookups(), 0);
  EXPECT_EQ(resolver.Calls(), 0);
}

TEST(HostLookup, OneLookupPerNameWithinEachCallersTime) {
  HeldResolver resolver(false);  // stalls until released
  HostLookup hosts(Through(&resolver), 60000);
  struct Row {
    const char* name;
    uint32_t waitMs;
    bool cancel;
    HostLookup::Outcome outcome;
    bool starts;
  } rows[] = {
      {"first request: starts the lookup, out of time", 150, false, HostLookup::kTimedOut, true},
      {"second request: waits for the same lookup", 150, false, HostLookup::kTimedOut, false},
      {"a stop ends the wait at once", 30000, true, HostLookup::kCancelled, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<uint32_t> found;
    bool started = false;
    std::atomic<bool> stop{false};
    std::thread stopper;
    if (r.cancel) stopper = std::thread([&stop] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      stop = true;
    });
    const Clock::time_point t = Clock::now();
    EXPECT_EQ(hosts.Find("lookup.example", r.waitMs, [&stop] { return stop.load(); }, &found, &started), r.outcome);
    const long long ms = MsSince(t);
    if (stopper.joinable()) stopper.join();
    EXPECT_EQ(started, r.starts);
    EXPECT_LT(ms, r.cancel ? 1000 : r.waitMs + 500);
    if (!r.cancel) {
      EXPECT_GE(ms, r.waitMs - 20);
    }
    EXPECT_TRUE(found.empty());
  }
  // Many requests at once while it stalls: still the one lookup.
  std::vector<std::thread> requests;
  for (int i = 0; i < 8; ++i)
    requests.emplace_back([&hosts] {
      std::vector<uint32_t> found;
      hosts.Find("lookup.example", 50, kNever, &found);
    });
  for (std::thread& t : requests) t.join();
  EXPECT_EQ(resolver.Calls(), 1);

  resolver.Release();
  std::vector<uint32_t> found;
  EXPECT_EQ(hosts.Find("lookup.example", 5000, kNever, &found), HostLookup::kFound);
  EXPECT_EQ(found, (std::vector<uint32_t>{0x0100007Fu, 0x0200007Fu}));
  EXPECT_EQ(hosts.Find("lookup.example", 0, kNever, &found), HostLookup::kFound) << "kept: no wait needed";
  EXPECT_EQ(hosts.Find("other.example", 5000, kNever, &found), HostLookup::kFound);
  EXPECT_EQ(resolver.Calls(), 2);
  EXPECT_EQ(hosts.Lookups(), 2);
}

TEST(HostLookup, ANameWithoutAddressIsTriedAgainOnlyAfterItsRetryTime) {
  HeldResolver resolver(true);
  HostLookup hosts(Through(&resolver), 300);
  std::vector<uint32_t> found;
  EXPECT_EQ(hosts.Find("nowhere.example", 5000, kNever, &found), HostLookup::kNotFound);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(hosts.Find("nowhere.example", 5000, kNever, &found), HostLookup::kNotFound);
  EXPECT_EQ(resolver.Calls(), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(350));
  EXPECT_EQ(hosts.Find("nowhere.example", 5000, kNever, &found), HostLookup::kNotFound);
  EXPECT_EQ(resolver.Calls(), 2);
}

TEST(HostLookup, TheLookupOutlivesItsOwner) {
  // The owner goes while the resolver still stalls; the lookup thread finds
  // what it writes to still there when it returns.
  HeldResolver resolver(false);
  {
    HostLookup hosts(Through(&resolver), 0);
    std::vector<uint32_t> found;
    EXPECT_EQ(hosts.Find("late.example", 20, kNever, &found), HostLookup::kTimedOut);
  }
  resolver.WaitIdle();
  EXPECT_EQ(resolver.Calls(), 1);
}

TEST(HostLookup, DottedText) {
  struct Row {
    const char* text;
    bool ok;
    uint32_t address;
  } rows[] = {
      {"0.0.0.0", true, 0}, {"255.255.255.255", true, 0xFFFFFFFFu}, {"1.2.3.4", true, 0x04030201u},
      {"1.2.3", false, 0}, {"1.2.3.4.5", false, 0}, {"256.1.1.1", false, 0}, {"01.2.3.4", false, 0},
      {"1.2.3.4 ", false, 0}, {" 1.2.3.4", false, 0}, {"1..3.4", false, 0}, {"1.2.3.-4", false, 0},
      {"1234.1.1.1", false, 0}, {"a.b.c.d", false, 0}, {"", false, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    uint32_t a = 0;
    EXPECT_EQ(ParseDottedIpv4(r.text, &a), r.ok);
    if (r.ok) {
      EXPECT_EQ(a, r.address);
    }
  }
}
