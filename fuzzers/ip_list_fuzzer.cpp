// Fuzz target: the address lists of the upload core, the limit list
// ("a.b.c.d/prefix" lines) and the allow list "ipallow.csv" ("first,last"
// lines), from any text. The loaded limit list answers for an address
// exactly as its ranges say.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "p2pcore/codec/ip_list.h"

using namespace p2p;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  uint32_t probes[4];
  for (uint32_t& a : probes) a = in.ConsumeIntegral<uint32_t>();
  const std::string text = in.ConsumeRemainingBytesAsString();

  limit_ip_list limits;
  const size_t count = limits.load(text);
  FUZZ_CHECK(count == limits.ranges().size());
  for (const ip_range& r : limits.ranges()) FUZZ_CHECK(r.first <= r.last);
  for (size_t k = 1; k < count; ++k) FUZZ_CHECK(limits.ranges()[k - 1].first <= limits.ranges()[k].first);
  // The probes, and the edges of some ranges (not all: the check is quadratic).
  std::vector<uint32_t> addresses(std::begin(probes), std::end(probes));
  for (const ip_range& r : limits.ranges()) {
    if (addresses.size() >= 100) break;
    addresses.push_back(r.first);
    addresses.push_back(r.last);
    if (r.last != 0xFFFFFFFFu) addresses.push_back(r.last + 1);
  }
  for (uint32_t a : addresses) {
    bool inside = false;
    for (const ip_range& r : limits.ranges()) inside = inside || (r.first <= a && a <= r.last);
    FUZZ_CHECK(limits.holds(a) == inside);
  }

  std::vector<std::string> lines;
  for (size_t at = 0; at <= text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  FUZZ_CHECK(parse_allow_list(lines).size() <= lines.size());
  return 0;
}
