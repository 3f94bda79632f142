// Feature checks through cpuid and, for the register state the operating
// system saves, xgetbv. Each answer is worked out once.
#include "foundation/codec/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>

namespace {
struct Features {
  bool avx = false;
  bool avx512 = false;
  bool avx512Clmul = false;
  bool sha = false;
  Features() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return;
    const bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19);
    const bool osxsave = c & (1u << 27), avxBit = c & (1u << 28);
    unsigned xcr0 = 0;
    if (osxsave) {
      unsigned hi;
      __asm__("xgetbv" : "=a"(xcr0), "=d"(hi) : "c"(0));
    }
    const unsigned ymmState = (1u << 1) | (1u << 2);  // XMM and the upper YMM halves
    // Those, the opmask and both halves of the upper ZMM state.
    const unsigned zmmState = ymmState | (1u << 5) | (1u << 6) | (1u << 7);
    avx = avxBit && (xcr0 & ymmState) == ymmState;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return;
    sha = ssse3 && sse41 && (b & (1u << 29));
    avx512 = (xcr0 & zmmState) == zmmState && (b & (1u << 16)) && (b & (1u << 30));  // F and BW
    avx512Clmul = avx512 && (c & (1u << 10));                                          // VPCLMULQDQ
  }
};
const Features& Get() {
  static const Features features;
  return features;
}
}  // namespace

bool CpuHasAvx() { return Get().avx; }
bool CpuHasAvx512() { return Get().avx512; }
bool CpuHasAvx512Clmul() { return Get().avx512Clmul; }
bool CpuHasSha() { return Get().sha; }
__attribute__((target("avx"), noinline)) void CpuClearUpperHalves() { _mm256_zeroupper(); }
#else
bool CpuHasAvx() { return false; }
bool CpuHasAvx512() { return false; }
bool CpuHasAvx512Clmul() { return false; }
bool CpuHasSha() { return false; }
void CpuClearUpperHalves() {}
#endif
