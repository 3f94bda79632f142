// Code-page conversions handed in by the caller, so that the text functions
// stay platform-free: the Windows build passes MultiByteToWideChar-based
// ones, the host tests tables of their own. Platform-free.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// One narrow code page (OEM, ANSI or GBK). Both directions return an empty
// text when the input cannot be converted.
struct NarrowCodePage {
  std::u16string (*toUtf16)(std::string_view text) = nullptr;
  std::string (*fromUtf16)(std::u16string_view text) = nullptr;
};

// What the link functions need from the machine they run on.
struct LinkTextEnv {
  NarrowCodePage oem;
  NarrowCodePage ansi;
  uint32_t userLocale = 0;  // the user's default locale id
  // Simplified to traditional Chinese on ANSI text; null leaves texts unchanged.
  std::string (*toTraditional)(std::string_view ansiText) = nullptr;
};
