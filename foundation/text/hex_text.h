// Upper-case hexadecimal texts of byte strings and digests. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// 0-15 for a hexadecimal digit of either case, -1 for anything else.
int HexDigitValue(char c);

// Two upper-case hexadecimal digits per byte.
std::string HexText(const void* data, size_t n);

// Reads n bytes from exactly 2 * n hexadecimal digits, two per byte.
// Otherwise the output is zeroed and false comes back.
bool HexToBytes(std::string_view text, uint8_t* out, size_t n);

// 32 digits of a 16-byte digest; empty for a null digest and for sixteen
// zero bytes, which stand for "no digest".
std::string BytesToHex(const uint8_t* digest16);

// The 16 bytes of a 32-digit text; false (output zeroed) for anything else.
inline bool HexToBytes16(std::string_view text, uint8_t out[16]) { return HexToBytes(text, out, 16); }
