// Reading a dialog template resource (the standard and the extended form):
// the dialog's frame and font, and each item's id and frame in dialog units.
// The bytes are checked before every read. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kDialogStyleSetFont = 0x40;  // DS_SETFONT

struct DialogTemplateInfo {
  bool extended = false;
  uint32_t style = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
  bool hasFont = false;
  uint16_t pointSize = 0;
  uint16_t weight = 0;   // extended form only
  uint8_t italic = 0;    // extended form only
  std::u16string face;   // at most 32 units kept
};

struct DialogItemInfo {
  uint32_t id = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;
};

// False when the bytes do not hold a whole template header; items that do not
// fit are not reported.
bool ParseDialogTemplate(const uint8_t* data, size_t size, DialogTemplateInfo& info,
                         std::vector<DialogItemInfo>& items);
