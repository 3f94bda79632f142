// Code-page conversions of the machine (ANSI, OEM) and of GBK, which the
// system's own Chinese texts use whatever the machine's code page is.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

#include "foundation/text/code_page.h"

constexpr UINT kGbkCodePage = 936;

std::wstring NarrowToWide(std::string_view text, UINT codePage);
std::string WideToNarrow(std::wstring_view text, UINT codePage);

inline std::string Utf16ToGbk(std::wstring_view text) { return WideToNarrow(text, kGbkCodePage); }
inline std::wstring GbkToUtf16(std::string_view text) { return NarrowToWide(text, kGbkCodePage); }

// For the platform-free text functions.
NarrowCodePage AnsiCodePage();
NarrowCodePage OemCodePage();
NarrowCodePage GbkCodePage();
// ANSI and OEM code pages, the user's default locale and the Quillkit
// conversion, as the link functions want them.
LinkTextEnv SystemLinkTextEnv();
