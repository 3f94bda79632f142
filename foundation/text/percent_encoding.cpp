// Percent-encoding and decoding. Platform-free.
#include "foundation/text/percent_encoding.h"

#include <cstdint>

#include "foundation/text/hex_text.h"
#include "foundation/text/utf8_text.h"

std::string PercentEncode(std::string_view text, const NarrowCodePage& codePage) {
  bool ascii = true;
  for (char c : text) ascii = ascii && static_cast<uint8_t>(c) < 0x80;
  if (ascii) return std::string(text);
  std::string utf8;
  if (codePage.toUtf16 != nullptr) utf8 = Utf16ToUtf8(codePage.toUtf16(text));
  // A text the code page cannot read keeps its own bytes, escaped.
  if (utf8.empty()) utf8.assign(text);
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(utf8.size() * 3);
  for (char c : utf8) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x80) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kDigits[b >> 4]);
      out.push_back(kDigits[b & 15]);
    }
  }
  return out;
}

std::string PercentDecode(std::string_view text, bool* sawHighEscape) {
  bool high = false;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && text.size() - i >= 3) {
      const int hi = HexDigitValue(text[i + 1]);
      const int lo = HexDigitValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        const int b = hi * 16 + lo;
        high = high || b >= 0xE0;
        out.push_back(static_cast<char>(b));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  if (sawHighEscape != nullptr) *sawHighEscape = high;
  return out;
}
