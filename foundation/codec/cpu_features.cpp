// Feature checks through cpuid and, for the register state the operating
// system saves, xgetbv. Each answer is worked out once.
#include "foundation/codec/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>

namespace {
struct Features {
  bool avx512 = false;
  bool avx512Clmul = false;
  Features() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return;
    const bool osxsave = c & (1u << 27);
    if (!osxsave) return;
    unsigned lo, hi;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    // XMM, YMM, opmask and both halves of the upper ZMM state.
    const unsigned zmmState = (1u << 1) | (1u << 2) | (1u << 5) | (1u << 6) | (1u << 7);
    if ((lo & zmmState) != zmmState) return;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return;
    avx512 = (b & (1u << 16)) && (b & (1u << 30));  // F and BW
    avx512Clmul = avx512 && (c & (1u << 10));          // VPCLMULQDQ
  }
};
const Features& Get() {
  static const Features features;
  return features;
}
}  // namespace

bool CpuHasAvx512() { return Get().avx512; }
bool CpuHasAvx512Clmul() { return Get().avx512Clmul; }
#else
bool CpuHasAvx512() { return false; }
bool CpuHasAvx512Clmul() { return false; }
#endif
