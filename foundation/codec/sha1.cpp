// SHA-1 (FIPS 180-1). The compression function has two forms: the SHA
// extensions of x86 processors, chosen at run time when the processor has them,
// and an unrolled portable one. Platform-free.
#include "foundation/codec/sha1.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define ORCHARD_SHA1_X86 1
#endif

namespace {

using BlockFn = void (*)(uint32_t state[5], const uint8_t* blocks, size_t count);

inline uint32_t Rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t LoadBe32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

inline void StoreBe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

inline uint32_t Ch(uint32_t b, uint32_t c, uint32_t d) { return d ^ (b & (c ^ d)); }
inline uint32_t Parity(uint32_t b, uint32_t c, uint32_t d) { return b ^ c ^ d; }
inline uint32_t Maj(uint32_t b, uint32_t c, uint32_t d) { return (b & c) | (d & (b | c)); }

// Word t of the message schedule, kept in a ring of 16; t is a constant after
// unrolling, so the branch disappears.
inline uint32_t Schedule(uint32_t w[16], const uint8_t* block, int t) {
  if (t < 16) return w[t] = LoadBe32(block + 4 * t);
  uint32_t x = w[(t - 3) & 15] ^ w[(t - 8) & 15] ^ w[(t - 14) & 15] ^ w[t & 15];
  return w[t & 15] = Rotl(x, 1);
}

#define SHA1_STEP(f, k, a, b, c, d, e, t)                      \
  e += Rotl(a, 5) + f(b, c, d) + (k) + Schedule(w, block, t); \
  b = Rotl(b, 30);

#define SHA1_FIVE(f, k, t)                  \
  SHA1_STEP(f, k, a, b, c, d, e, (t))     \
  SHA1_STEP(f, k, e, a, b, c, d, (t) + 1) \
  SHA1_STEP(f, k, d, e, a, b, c, (t) + 2) \
  SHA1_STEP(f, k, c, d, e, a, b, (t) + 3) \
  SHA1_STEP(f, k, b, c, d, e, a, (t) + 4)

#define SHA1_TWENTY(f, k, t) \
  SHA1_FIVE(f, k, (t))       \
  SHA1_FIVE(f, k, (t) + 5)   \
  SHA1_FIVE(f, k, (t) + 10)  \
  SHA1_FIVE(f, k, (t) + 15)

void BlocksPortable(uint32_t state[5], const uint8_t* block, size_t count) {
  for (; count != 0; --count, block += 64) {
    uint32_t w[16];
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    SHA1_TWENTY(Ch, 0x5A827999u, 0)
    SHA1_TWENTY(Parity, 0x6ED9EBA1u, 20)
    SHA1_TWENTY(Maj, 0x8F1BBCDCu, 40)
    SHA1_TWENTY(Parity, 0xCA62C1D6u, 60)
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
  }
}

#undef SHA1_TWENTY
#undef SHA1_FIVE
#undef SHA1_STEP

#ifdef ORCHARD_SHA1_X86

// Four rounds per instruction. Message group k is
// msg2(msg1(M[k-4], M[k-3]) ^ M[k-2], M[k-1]); the E input of group k is the
// A of group k-1's input, rotated, plus M[k] (sha1nexte). A sits in the top lane.
#define SHA1_NI_GROUP(k, fn)                                                                 \
  {                                                                                          \
    __m128i msg;                                                                             \
    if ((k) < 4)                                                                             \
      msg = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * (k))), \
                             kByteSwap);                                                     \
    else                                                                                     \
      msg = _mm_sha1msg2_epu32(                                                              \
          _mm_xor_si128(_mm_sha1msg1_epu32(m[(k) & 3], m[((k) + 1) & 3]), m[((k) + 2) & 3]), \
          m[((k) + 3) & 3]);                                                                 \
    m[(k) & 3] = msg;                                                                        \
    __m128i ek = (k) == 0 ? _mm_add_epi32(e0, msg) : _mm_sha1nexte_epu32(prev, msg);         \
    prev = abcd;                                                                             \
    abcd = _mm_sha1rnds4_epu32(abcd, ek, fn);                                                \
  }

__attribute__((target("sha,ssse3,sse4.1"))) void BlocksShaExt(uint32_t state[5], const uint8_t* block,
                                                              size_t count) {
  const __m128i kByteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(int(state[4]), 0, 0, 0);
  for (; count != 0; --count, block += 64) {
    const __m128i abcdSaved = abcd;
    const __m128i eSaved = e0;
    __m128i m[4];
    __m128i prev = abcd;
    SHA1_NI_GROUP(0, 0) SHA1_NI_GROUP(1, 0) SHA1_NI_GROUP(2, 0) SHA1_NI_GROUP(3, 0) SHA1_NI_GROUP(4, 0)
    SHA1_NI_GROUP(5, 1) SHA1_NI_GROUP(6, 1) SHA1_NI_GROUP(7, 1) SHA1_NI_GROUP(8, 1) SHA1_NI_GROUP(9, 1)
    SHA1_NI_GROUP(10, 2) SHA1_NI_GROUP(11, 2) SHA1_NI_GROUP(12, 2) SHA1_NI_GROUP(13, 2) SHA1_NI_GROUP(14, 2)
    SHA1_NI_GROUP(15, 3) SHA1_NI_GROUP(16, 3) SHA1_NI_GROUP(17, 3) SHA1_NI_GROUP(18, 3) SHA1_NI_GROUP(19, 3)
    e0 = _mm_sha1nexte_epu32(prev, eSaved);
    abcd = _mm_add_epi32(abcd, abcdSaved);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = uint32_t(_mm_extract_epi32(e0, 3));
}

#undef SHA1_NI_GROUP

bool HasShaExtensions() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19);
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return ssse3 && sse41 && (b & (1u << 29));
}

BlockFn ChooseBlocks() { return HasShaExtensions() ? BlocksShaExt : BlocksPortable; }
#else
BlockFn ChooseBlocks() { return BlocksPortable; }
#endif

BlockFn Blocks() {
  static const BlockFn fn = ChooseBlocks();
  return fn;
}

}  // namespace

// The portable form, reachable by tests that compare both forms.
void Sha1BlocksPortable(uint32_t state[5], const uint8_t* blocks, size_t count) {
  BlocksPortable(state, blocks, count);
}

void CSha1::Reset() {
  state_[0] = 0x67452301u;
  state_[1] = 0xEFCDAB89u;
  state_[2] = 0x98BADCFEu;
  state_[3] = 0x10325476u;
  state_[4] = 0xC3D2E1F0u;
  count_[0] = count_[1] = 0;
}

void CSha1::Transform(const uint8_t* blocks, size_t count) { Blocks()(state_, blocks, count); }

void CSha1::Update(const void* data, size_t length) {
  if (length == 0) return;
  const uint8_t* in = static_cast<const uint8_t*>(data);
  const size_t used = (count_[0] >> 3) & 63;

  const uint32_t bitsLow = uint32_t(uint64_t(length) << 3);
  count_[0] += bitsLow;
  if (count_[0] < bitsLow) ++count_[1];
  count_[1] += uint32_t(uint64_t(length) >> 29);

  if (used != 0) {
    const size_t room = 64 - used;
    if (length < room) {
      std::memcpy(buffer_ + used, in, length);
      return;
    }
    std::memcpy(buffer_ + used, in, room);
    Transform(buffer_, 1);
    in += room;
    length -= room;
  }
  if (length >= 64) {
    Transform(in, length / 64);
    in += length & ~size_t(63);
    length &= 63;
  }
  if (length != 0) std::memcpy(buffer_, in, length);
}

void CSha1::Final(uint8_t digest[20]) {
  uint8_t bits[8];
  StoreBe32(bits, count_[1]);
  StoreBe32(bits + 4, count_[0]);

  static const uint8_t kPadding[64] = {0x80};
  const size_t used = (count_[0] >> 3) & 63;
  Update(kPadding, used < 56 ? 56 - used : 120 - used);
  Update(bits, 8);

  for (int i = 0; i < 5; ++i) StoreBe32(digest + 4 * i, state_[i]);
  Reset();
}

void Sha1Digest(uint8_t digest[20], const void* data, size_t length) {
  CSha1 sha;
  sha.Update(data, length);
  sha.Final(digest);
}
