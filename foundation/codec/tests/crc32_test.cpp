#include "foundation/codec/crc32.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Crc32, FormsOverKnownInputs) {
  struct Row { const char* name; const char* data; size_t len; uint32_t update; uint32_t raw; };
  // The standard CRC-32 of "123456789" is 0xCBF43926, i.e. the register
  // started at 0xFFFFFFFF and inverted; our forms start elsewhere and never invert.
  static const Row rows[] = {
      {"empty", "", 0, 0xFFFFFFFEu, 0u},
      // One zero byte: the standard CRC-32 would be 0xD202EF8D.
      {"one zero byte", "\0", 1, 0x5AFA20E4u, 0u},
      {"abc", "abc", 3, 0xCB19D40Au, 0xCA6598D0u},
      {"check string", "123456789", 9, 0x2370D29Au, 0x2DFD2D88u},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(Crc32Update(r.data, r.len), r.update);
    EXPECT_EQ(Crc32Raw(r.data, r.len), r.raw);
  }
  EXPECT_EQ(~Crc32Continue(0xFFFFFFFFu, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(kCrc32Table[1], 0x77073096u);
  EXPECT_EQ(kCrc32Table[255], 0x2D02EF8Du);
}
