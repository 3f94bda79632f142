// Text helpers the Seedlift driver programs share: UTF-8 arguments to wide
// paths and 32 hexadecimal digits to a file id.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

inline std::wstring widen(const std::string& s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
  std::wstring w(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
  return w;
}

inline bool parse_fid(const std::string& hex, uint8_t out[16]) {
  if (hex.size() != 32) return false;
  for (int i = 0; i < 16; ++i) {
    unsigned v = 0;
    if (sscanf(hex.c_str() + 2 * i, "%2x", &v) != 1) return false;
    out[i] = static_cast<uint8_t>(v);
  }
  return true;
}
