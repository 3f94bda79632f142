// Conversions between UTF-16 and the system's ANSI code page, for log lines
// and for texts the system takes in that code page.
#pragma once
#include <string>

std::string ToSystemCodePage(const std::wstring& text);
std::wstring FromSystemCodePage(const std::string& text);
