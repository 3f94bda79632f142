// A tiny double-byte code page for the tests: ASCII plus a few GBK-like
// pairs, one of them with a "\" as its trail byte. Anything else fails.
#pragma once
#include <string>
#include <string_view>

#include "foundation/text/code_page.h"

namespace fake_cp {

struct Pair { unsigned bytes; char16_t unit; };
inline constexpr Pair kPairs[] = {
    {0xD6D0, u'\u4E2D'},  // zhong
    {0xCEC4, u'\u6587'},  // wen
    {0xBCF2, u'\u7B80'},  // jian (simplified)
    {0x815C, u'\u4E02'},  // trail byte 0x5C
};

inline std::u16string ToUtf16(std::string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      out.push_back(b);
      continue;
    }
    if (i + 1 >= text.size()) return {};
    const unsigned both = b << 8 | static_cast<unsigned char>(text[++i]);
    bool found = false;
    for (const Pair& p : kPairs) {
      if (p.bytes == both) {
        out.push_back(p.unit);
        found = true;
      }
    }
    if (!found) return {};
  }
  return out;
}

inline std::string FromUtf16(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    bool found = false;
    for (const Pair& p : kPairs) {
      if (p.unit == c) {
        out.push_back(static_cast<char>(p.bytes >> 8));
        out.push_back(static_cast<char>(p.bytes & 0xFF));
        found = true;
      }
    }
    if (!found) return {};
  }
  return out;
}

// Marks the text, so a test sees whether the conversion ran.
inline std::string MarkTraditional(std::string_view text) { return std::string(text) + "~T"; }

inline LinkTextEnv Env(uint32_t locale = 2052) {
  LinkTextEnv env;
  env.oem = {ToUtf16, FromUtf16};
  env.ansi = {ToUtf16, FromUtf16};
  env.userLocale = locale;
  env.toTraditional = MarkTraditional;
  return env;
}

}  // namespace fake_cp
