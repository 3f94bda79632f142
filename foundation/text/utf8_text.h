// UTF-8 checks and conversions between UTF-8, UTF-16 and a narrow code page.
// Platform-free.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "foundation/text/code_page.h"

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);
// Ill-formed sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// Lone surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// When the text is valid UTF-8, converts it through UTF-16 to the code page,
// keeping at most capacity - 1 bytes. False, text unchanged, when it is not
// UTF-8 or cannot be converted.
bool Utf8ToCodePageInPlace(std::string& text, size_t capacity, const NarrowCodePage& codePage);
