// Fuzz target: the server host of "P2SCfg.ini" as the lookup and p2s
// clients read it. Dotted text that parses prints back as itself; a name
// under ".invalid" keeps being one with a final dot or in another case.
#include <cstdint>
#include <string>

#include "foundation/text/address_text.h"
#include "fuzzers/fuzz_check.h"
#include "server/http/codec/host_lookup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  uint32_t address = 0;
  if (ParseDottedIpv4(text, &address)) {
    FUZZ_CHECK(Ipv4Text(address) == text);
    FUZZ_CHECK(!IsReservedInvalidName(text));
  }
  if (IsReservedInvalidName(text)) {
    std::string upper = text;
    for (char& c : upper) c = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    FUZZ_CHECK(IsReservedInvalidName(upper));
    if (text.empty() || text.back() != '.') FUZZ_CHECK(IsReservedInvalidName(text + "."));
  }
  return 0;
}
