// Byte vectors as hexadecimal text, for the wire tests' fixed vectors.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline std::vector<uint8_t> from_hex(const char* hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
    unsigned v = 0;
    sscanf(hex + i, "%2x", &v);
    out.push_back(static_cast<uint8_t>(v));
  }
  return out;
}

inline std::string to_hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char two[3];
  for (uint8_t v : bytes) {
    snprintf(two, sizeof two, "%02X", v);
    s += two;
  }
  return s;
}
