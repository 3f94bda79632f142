// Base64 of RFC 4648 ("A"-"Z", "a"-"z", "0"-"9", "+", "/", padding "="),
// without line breaks. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Fails when the capacity is below 4 * ceil(n / 3); writes no terminator.
bool Base64Encode(const void* data, size_t n, char* out, size_t capacity, size_t* written);
std::string Base64EncodeText(std::string_view text);

// Characters outside the alphabet (padding and line breaks included) are
// skipped; a final partial group gives its whole bytes; a zero byte ends the
// input. Fails, with nothing promised about out, when the result would not
// fit the capacity.
bool Base64Decode(const char* text, size_t n, uint8_t* out, size_t capacity, size_t* written);
// Decodes into a text of at most maxBytes bytes, cut at its first zero byte.
bool Base64DecodeText(std::string_view text, size_t maxBytes, std::string* out);
