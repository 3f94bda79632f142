// Writing and reading the fixed-size UTF-16 text fields of control records.
// Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Zero-fills the field of `units` units with the first `units` units of the
// text; a text of `units` units or more fills it without a terminating zero.
void PutTextField(char16_t* field, size_t units, const char16_t* text);
void PutTextField(char16_t* field, size_t units, const std::u16string& text);

// A PATH field as sent: 520 bytes of UTF-16LE, taken up to the first zero unit.
std::u16string ReadPathField(const uint8_t (&bytes)[520]);

// A memory figure in a 32-bit field: values that do not fit are clamped.
uint32_t ClampToU32(uint64_t value);
