// Fuzz target: percent-decoding of link names, on any text; and the round
// trip: a text without "%" of its own, percent-encoded, decodes back to the
// same bytes (its UTF-8 when the code page reads it).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "foundation/text/percent_encoding.h"
#include "foundation/text/tests/fake_code_page.h"
#include "foundation/text/utf8_text.h"
#include "fuzzers/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool withCodePage = in.ConsumeBool();
  std::string text = in.ConsumeRemainingBytesAsString();

  bool high = true;
  const std::string decoded = PercentDecode(text, &high);
  FUZZ_CHECK(decoded.size() <= text.size());
  FUZZ_CHECK(decoded.size() == text.size() || text.find('%') != std::string::npos);
  if (decoded.size() == text.size()) FUZZ_CHECK(!high && decoded == text);
  FUZZ_CHECK(PercentDecode(text, nullptr) == decoded);

  for (char& c : text) {
    if (c == '%') c = '_';
  }
  const NarrowCodePage cp = withCodePage ? NarrowCodePage{fake_cp::ToUtf16, fake_cp::FromUtf16} : NarrowCodePage{};
  const std::string encoded = PercentEncode(text, cp);
  for (char c : encoded) FUZZ_CHECK(uint8_t(c) < 0x80);
  std::string expected = text;
  if (cp.toUtf16 != nullptr) {
    const std::u16string wide = cp.toUtf16(text);
    if (!wide.empty()) expected = Utf16ToUtf8(wide);
  }
  FUZZ_CHECK(PercentDecode(encoded, nullptr) == expected);
  return 0;
}
