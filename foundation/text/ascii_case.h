// Case mapping and case-blind comparison as the C runtime does it in its
// default locale: only A-Z and a-z change. Platform-free.
#pragma once
#include <string>
#include <string_view>

char ToLowerAscii(char c);
char16_t ToLowerAscii(char16_t c);

// Every character through the lower-case mapping, in place.
void ToLowerText(std::string& text);
// A copy with every character upper-cased.
std::string ToUpperString(std::string_view text);

bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EndsWithNoCase(std::u16string_view text, std::u16string_view suffix);
// <0, 0, >0 as wcsicmp.
int CompareNoCase(std::u16string_view a, std::u16string_view b);
