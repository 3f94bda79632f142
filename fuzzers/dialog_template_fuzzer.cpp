// Fuzz target: a dialog template resource (standard or extended form) as
// the layout engine walks it; the language library that carries it comes
// from outside the program. Items are reported only when whole.
#include <cstdint>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "ui/layout/codec/dialog_template.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> copy(data, data + size);
  DialogTemplateInfo info;
  std::vector<DialogItemInfo> items;
  const bool ok = ParseDialogTemplate(copy.empty() ? nullptr : copy.data(), copy.size(), info, items);
  if (!ok) {
    FUZZ_CHECK(items.empty());
    return 0;
  }
  FUZZ_CHECK(info.face.size() <= 32);
  FUZZ_CHECK(info.hasFont == ((info.style & kDialogStyleSetFont) != 0));
  // A standard item takes at least 18 bytes, an extended one 24, beyond the header.
  FUZZ_CHECK(items.size() * (info.extended ? 24 : 18) <= size);
  return 0;
}
