// Code-page conversions through MultiByteToWideChar and WideCharToMultiByte.
#include "foundation/util/code_pages.h"

#include <climits>

#include "foundation/util/traditional_chinese.h"
#include "foundation/util/wide_text.h"

std::wstring NarrowToWide(std::string_view text, UINT codePage) {
  if (text.empty() || text.size() > INT_MAX) return std::wstring();
  const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string WideToNarrow(std::wstring_view text, UINT codePage) {
  if (text.empty() || text.size() > INT_MAX) return std::string();
  const int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

namespace {

template <UINT kCodePage>
std::u16string ToUtf16(std::string_view text) {
  const std::wstring w = NarrowToWide(text, kCodePage);
  return std::u16string(AsU16(w));
}

template <UINT kCodePage>
std::string FromUtf16(std::u16string_view text) {
  return WideToNarrow(ToWide(text), kCodePage);
}

std::string AnsiToTraditional(std::string_view ansiText) { return SimplifiedToTraditional(ansiText); }

}  // namespace

NarrowCodePage AnsiCodePage() { return {ToUtf16<CP_ACP>, FromUtf16<CP_ACP>}; }
NarrowCodePage OemCodePage() { return {ToUtf16<CP_OEMCP>, FromUtf16<CP_OEMCP>}; }
NarrowCodePage GbkCodePage() { return {ToUtf16<kGbkCodePage>, FromUtf16<kGbkCodePage>}; }

LinkTextEnv SystemLinkTextEnv() {
  LinkTextEnv env;
  env.oem = OemCodePage();
  env.ansi = AnsiCodePage();
  env.userLocale = GetUserDefaultLCID();
  env.toTraditional = AnsiToTraditional;
  return env;
}
