// Fuzz target: what a user types into the user interface and its command
// line: the port text of the connect dialog, the address matched against
// the kept sites, the "close" switch.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "ui/app/codec/command_line.h"
#include "ui/settings/codec/site_list.h"

namespace {

std::u16string Units(const std::string& bytes) {
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) text.push_back(char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8));
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string narrow = in.ConsumeRandomLengthString(16);
  const std::u16string typed(narrow.begin(), narrow.end());
  const uint16_t port = ParsePort(typed);
  if (port != 0) {
    // Only digits pass; written back without leading zeros, they read the same.
    const std::string digits = std::to_string(port);
    FUZZ_CHECK(ParsePort(std::u16string(digits.begin(), digits.end())) == port);
  }

  std::vector<Site> sites;
  for (int k = in.ConsumeIntegralInRange(0, 4); k > 0; --k) sites.push_back({Units(in.ConsumeRandomLengthString(40)), 0, 0});
  const std::u16string address = Units(in.ConsumeRandomLengthString(40));
  const int found = FindSite(sites, address);
  FUZZ_CHECK(found >= -1 && found < int(sites.size()));
  if (found >= 0) FUZZ_CHECK(sites[found].address.size() == address.size() && !address.empty());

  IsCloseSwitch(Units(in.ConsumeRemainingBytesAsString()));
  return 0;
}
