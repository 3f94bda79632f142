// The fixed-size UTF-16 text fields of control records. Platform-free.
#include "server/control/codec/control_fields.h"

#include <cstring>

void PutTextField(char16_t* field, size_t units, const char16_t* text) {
  std::memset(field, 0, units * sizeof(char16_t));
  if (!text) return;
  for (size_t i = 0; i < units && text[i]; ++i) field[i] = text[i];
}

void PutTextField(char16_t* field, size_t units, const std::u16string& text) {
  std::memset(field, 0, units * sizeof(char16_t));
  for (size_t i = 0; i < units && i < text.size(); ++i) field[i] = text[i];
}

std::u16string ReadPathField(const uint8_t (&bytes)[520]) {
  std::u16string out;
  for (size_t i = 0; i < 260; ++i) {
    char16_t unit = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    if (unit == 0) break;
    out.push_back(unit);
  }
  return out;
}

uint32_t ClampToU32(uint64_t value) { return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(value); }
