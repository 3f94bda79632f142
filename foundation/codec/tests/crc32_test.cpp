#include "foundation/codec/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

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

// Every length and start value gives what one table step per byte gives,
// whichever way (tables of eight bytes, 128-bit or 512-bit folding) the
// length is taken.
TEST(Crc32, FastFormsMatchBytewise) {
  std::vector<uint8_t> data(70000);
  uint32_t seed = 12345;
  for (uint8_t& b : data) {
    seed = seed * 1103515245u + 12345u;
    b = uint8_t(seed >> 16);
  }
  auto bytewise = [](uint32_t reg, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) reg = (reg >> 8) ^ kCrc32Table[(reg ^ p[i]) & 0xFF];
    return reg;
  };
  static const uint32_t kStarts[] = {0u, 0xFFFFFFFEu, 0x12345678u};
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 600; ++n) lengths.push_back(n);
  // Around the wide folding's steps of 512, 64 and 16 bytes past its first 1024.
  for (size_t n = 1020; n <= 1620; ++n) lengths.push_back(n);
  for (size_t n = 2040; n <= 2060; ++n) lengths.push_back(n);
  for (size_t n : {4097u, 65536u + 13u, 70000u}) lengths.push_back(n);
  for (uint32_t start : kStarts) {
    for (size_t n : lengths) {
      for (size_t offset : {0u, 3u}) {
        if (offset + n > data.size()) continue;
        SCOPED_TRACE("start " + std::to_string(start) + " length " + std::to_string(n) + " offset " +
                     std::to_string(offset));
        ASSERT_EQ(Crc32Continue(start, data.data() + offset, n), bytewise(start, data.data() + offset, n));
      }
    }
  }
}
