// The AVX forms of the checksum and the scrambling hand the next code clean
// upper register halves: legacy SSE code after them (the SHA instructions)
// would otherwise wait on a merge with each instruction on Intel processors.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "foundation/codec/channel_frame.h"
#include "foundation/codec/cpu_features.h"
#include "foundation/codec/crc32.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>

namespace {

// The state components in use (xgetbv 1): bit 2 the upper halves of YMM0-15,
// bit 6 the upper 256 bits of ZMM0-15. Zero bits are certain; false where
// the processor cannot tell.
bool UpperHalvesInUse(unsigned* inUse) {
  unsigned a, b, c, d;
  if (!CpuHasAvx() || !__get_cpuid_count(0xD, 1, &a, &b, &c, &d) || !(a & (1u << 2))) return false;
  unsigned lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(1));
  *inUse = lo & ((1u << 2) | (1u << 6));
  return true;
}

}  // namespace

TEST(UpperHalves, CleanAfterTheWideForms) {
  unsigned inUse;
  CpuClearUpperHalves();
  if (!UpperHalvesInUse(&inUse) || inUse != 0) GTEST_SKIP() << "the processor does not report the upper halves";
  std::vector<uint8_t> body(4096, 0x5A);
  IpcBuildMask();
  struct Row {
    const char* name;
    void (*run)(std::vector<uint8_t>&);
  };
  static const Row rows[] = {
      {"Crc32Update", [](std::vector<uint8_t>& b) { (void)Crc32Update(b.data(), b.size()); }},
      {"Crc32Raw", [](std::vector<uint8_t>& b) { (void)Crc32Raw(b.data(), b.size()); }},
      {"IpcEncodeBody", [](std::vector<uint8_t>& b) { (void)IpcEncodeBody(b.data(), uint32_t(b.size())); }},
      {"IpcDecodeBody", [](std::vector<uint8_t>& b) { (void)IpcDecodeBody(b.data(), uint32_t(b.size()), 0); }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    CpuClearUpperHalves();
    r.run(body);
    ASSERT_TRUE(UpperHalvesInUse(&inUse));
    EXPECT_EQ(inUse, 0u);
  }
}
#endif
