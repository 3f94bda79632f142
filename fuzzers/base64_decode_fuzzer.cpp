// Fuzz target: Base64 texts from links and wrappers, decoded into a buffer
// of any capacity; what comes back never exceeds it, and encoding bytes and
// decoding the text gives the bytes back.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/text/base64.h"
#include "fuzzers/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const size_t capacity = in.ConsumeIntegralInRange<size_t>(0, 4096);
  const std::string text = in.ConsumeRemainingBytesAsString();

  // Decoding: an exactly sized buffer, so the sanitizer sees any write past it.
  std::vector<uint8_t> out(capacity);
  size_t written = 0;
  if (Base64Decode(text.data(), text.size(), out.data(), capacity, &written)) {
    FUZZ_CHECK(written <= capacity && written <= text.size() * 3 / 4 + 2);
    std::string cut;
    FUZZ_CHECK(Base64DecodeText(text, capacity, &cut));
    FUZZ_CHECK(cut.size() <= written && cut.find('\0') == std::string::npos);
  }

  // The round trip, with the text's bytes as the data.
  const std::string encoded = Base64EncodeText(text);
  FUZZ_CHECK(encoded.size() == (text.size() + 2) / 3 * 4);
  std::vector<uint8_t> back(text.size());
  FUZZ_CHECK(Base64Decode(encoded.data(), encoded.size(), back.data(), back.size(), &written));
  FUZZ_CHECK(written == text.size() && std::equal(back.begin(), back.end(), text.begin(),
                                                    [](uint8_t a, char b) { return a == uint8_t(b); }));
  return 0;
}
