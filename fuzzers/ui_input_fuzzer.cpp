// Fuzz target: what a user types into the user interface and its command
// line: the port text of the connect dialog, the address matched against
// the kept sites, the "close" switch, each checked against what it must be.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "ui/app/codec/command_line.h"
#include "ui/client_settings/codec/site_list.h"

namespace {

std::u16string Units(const std::string& bytes) {
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) text.push_back(char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8));
  return text;
}

char16_t Fold(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; }
bool SameAddress(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string narrow = in.ConsumeRandomLengthString(16);
  const std::u16string typed(narrow.begin(), narrow.end());
  // The port edit holds at most 5 digits: a port is their decimal value, 1 to 65535.
  const bool digits = !narrow.empty() && narrow.size() <= 5 &&
                      narrow.find_first_not_of("0123456789") == std::string::npos;
  const unsigned long value = digits ? std::stoul(narrow) : 0;
  FUZZ_CHECK(ParsePort(typed) == (digits && value >= 1 && value <= 65535 ? value : 0));

  // A typed address is the first kept site of the same address in any ASCII letter case.
  std::vector<Site> sites;
  for (int k = in.ConsumeIntegralInRange(0, 4); k > 0; --k) sites.push_back({Units(in.ConsumeRandomLengthString(40)), 0, 0});
  const std::u16string address = Units(in.ConsumeRandomLengthString(40));
  int first = -1;
  for (size_t i = 0; i < sites.size() && first < 0 && !address.empty(); ++i)
    if (SameAddress(sites[i].address, address)) first = int(i);
  FUZZ_CHECK(FindSite(sites, address) == first);

  // The close switch: "close" after "/" or "-", exactly.
  const std::u16string line = Units(in.ConsumeRemainingBytesAsString());
  FUZZ_CHECK(IsCloseSwitch(line) == (line == u"/close" || line == u"-close"));
  return 0;
}
