// Hexadecimal texts. Platform-free.
#include "foundation/text/hex_text.h"

#include <cstring>

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string HexText(const void* data, size_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  const auto* in = static_cast<const uint8_t*>(data);
  std::string out;
  out.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    out.push_back(kDigits[in[i] >> 4]);
    out.push_back(kDigits[in[i] & 15]);
  }
  return out;
}

bool HexToBytes(std::string_view text, uint8_t* out, size_t n) {
  if (text.size() / 2 == n && text.size() % 2 == 0) {
    size_t i = 0;
    for (; i < n; ++i) {
      const int hi = HexDigitValue(text[2 * i]);
      const int lo = HexDigitValue(text[2 * i + 1]);
      if (hi < 0 || lo < 0) break;
      out[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    if (i == n) return true;
  }
  if (n != 0) memset(out, 0, n);
  return false;
}

std::string BytesToHex(const uint8_t* digest16) {
  static const uint8_t kZero[16] = {};
  if (digest16 == nullptr || memcmp(digest16, kZero, sizeof kZero) == 0) return std::string();
  return HexText(digest16, 16);
}
