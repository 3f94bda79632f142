// HostLookup: the addresses of the lookup and p2s server's host name, looked
// up once per name on a thread of its own, so that a request waits for them
// only within its own deadline and a stop ends the wait at once, however
// long the system's resolver takes. Platform-free: the lookup itself is the
// caller's function.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class HostLookup {
 public:
  // The IPv4 addresses of a name (in_addr values as they lie in memory);
  // empty when it has none. May block for as long as the system likes.
  using Resolve = std::function<std::vector<uint32_t>(const std::string& name)>;
  // Polled while waiting: true ends the wait.
  using Cancelled = std::function<bool()>;

  enum Outcome {
    kFound,      // *addresses holds at least one
    kNotFound,   // the name has no address (or is reserved never to have one)
    kTimedOut,   // the lookup still runs; a later call waits for the same one
    kCancelled,
  };

  // retryFailedMs: how long a name that had no address is taken as having
  // none before it is looked up again.
  HostLookup(Resolve resolve, uint32_t retryFailedMs);
  ~HostLookup();
  HostLookup(const HostLookup&) = delete;
  HostLookup& operator=(const HostLookup&) = delete;

  // Dotted text is taken as it is; a name under ".invalid" is never looked
  // up. Any other name is looked up once, the first time it is asked for,
  // and the answer kept; callers that come while it runs wait for the same
  // lookup. Waits at most waitMs. *startedLookup (when given) is set when
  // this call started a lookup.
  Outcome Find(const std::string& name, uint32_t waitMs, const Cancelled& cancelled, std::vector<uint32_t>* addresses,
               bool* startedLookup = nullptr);

  // Lookups started so far.
  int Lookups() const;

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;  // shared with the lookup threads, which may outlive this object
};

// The in_addr value of dotted IPv4 text ("a.b.c.d", each 0 to 255, decimal
// without leading zeros beyond a single 0); false for anything else.
bool ParseDottedIpv4(const std::string& text, uint32_t* inAddr);
// True for "invalid" and names under it (any letter case, a final dot allowed).
bool IsReservedInvalidName(const std::string& name);
