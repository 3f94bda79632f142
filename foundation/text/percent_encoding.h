// Percent-encoding of link texts. Platform-free.
#pragma once
#include <string>
#include <string_view>

#include "foundation/text/code_page.h"

// Reads the text in the given (OEM) code page: characters of one UTF-8 byte
// stay, every other character becomes its UTF-8 bytes as "%XX".
std::string PercentEncode(std::string_view text, const NarrowCodePage& codePage);

// "%" and two hexadecimal digits become that byte; a "%" without two digits
// after it stays as it is. sawHighEscape (may be null) tells whether an
// escaped byte was 0xE0 or above.
std::string PercentDecode(std::string_view text, bool* sawHighEscape);
