// Lower-case hexadecimal text of a byte block, for comparing digests in tests.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline std::string ToHex(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
  }
  return s;
}

// The byte pattern (i * 7 + 3) mod 256 that the digest tables below were computed over.
inline std::vector<uint8_t> PatternBytes(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7 + 3);
  return v;
}
