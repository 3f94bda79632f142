// SHA-1 (FIPS 180-1). The compression function has two forms: the SHA
// extensions of x86 processors, chosen at run time when the processor has them,
// and an unrolled portable one. Platform-free.
#include "foundation/codec/sha1.h"

#include <atomic>
#include <cstring>

#include "foundation/codec/cpu_features.h"

// The SHA form needs ten vector registers: x86-64 only.
#if defined(__x86_64__)
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

// Four rounds per sha1rnds4, and its chain from one group of four to the next
// is all that bounds a block; everything else has to stay off it, and not
// take its execution port at the moment it is ready. Processors run the
// oldest ready instruction first, so each group begins with its sha1rnds4,
// followed by the work for later groups: the message schedule
// W[k+1] = msg2(msg1(W[k-3], W[k-2]) ^ W[k-1], W[k]) (W[k]: rounds 4k..4k+3)
// and the next group's E, which is A of this group's input rotated
// (sha1nexte) and is taken from a copy made before sha1rnds4 overwrites it.
// Written out in assembly because GCC does neither from intrinsics: it puts
// the copy on the chain and hoists the next sha1nexte above the sha1rnds4 it
// competes with. A sits in the top lane; E in the top lane of its own register.
#define SHA1_LOAD(offset, w) "movdqu " #offset "(%[p]), %[" w "]\n\tpshufb %[swap], %[" w "]\n\t"
#define SHA1_ROUNDS(fn, e, eNext) "movdqa %[s], %[" eNext "]\n\tsha1rnds4 $" #fn ", %[" e "], %[s]\n\t"
#define SHA1_MSG1(w, into) "sha1msg1 %[" w "], %[" into "]\n\t"
#define SHA1_MSG2(w, into) "sha1msg2 %[" w "], %[" into "]\n\t"
#define SHA1_XOR(w, into) "pxor %[" w "], %[" into "]\n\t"
#define SHA1_NEXTE(w, e) "sha1nexte %[" w "], %[" e "]\n\t"
// Group k of 3..16: w, w1, w2, w3 hold W[k], msg1(W[k-3], W[k-2]) ^ W[k-1],
// msg1(W[k-2], W[k-1]) and W[k-1].
#define SHA1_GROUP(fn, e, eNext, w, w1, w2, w3) \
  SHA1_ROUNDS(fn, e, eNext) SHA1_MSG2(w, w1) SHA1_NEXTE(w1, eNext) SHA1_MSG1(w, w3) SHA1_XOR(w, w2)

__attribute__((target("sha,ssse3,sse4.1"))) void BlocksShaExt(uint32_t state[5], const uint8_t* block,
                                                              size_t count) {
  struct Block {
    uint8_t bytes[64];
  };
  const __m128i swap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i s = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(int(state[4]), 0, 0, 0);
  for (; count != 0; --count, block += 64) {
    __m128i e1, w0, w1, w2, w3, sSaved, eSaved;
    __asm__(
        "movdqa %[s], %[sSaved]\n\t"
        "movdqa %[e0], %[eSaved]\n\t"
        SHA1_LOAD(0, "w0")
        "paddd %[w0], %[e0]\n\t"
        SHA1_ROUNDS(0, "e0", "e1") SHA1_LOAD(16, "w1") SHA1_NEXTE("w1", "e1")
        SHA1_ROUNDS(0, "e1", "e0") SHA1_LOAD(32, "w2") SHA1_NEXTE("w2", "e0") SHA1_MSG1("w1", "w0")
        SHA1_ROUNDS(0, "e0", "e1") SHA1_LOAD(48, "w3") SHA1_NEXTE("w3", "e1") SHA1_MSG1("w2", "w1")
        SHA1_XOR("w2", "w0")
        SHA1_GROUP(0, "e1", "e0", "w3", "w0", "w1", "w2")
        SHA1_GROUP(0, "e0", "e1", "w0", "w1", "w2", "w3")
        SHA1_GROUP(1, "e1", "e0", "w1", "w2", "w3", "w0")
        SHA1_GROUP(1, "e0", "e1", "w2", "w3", "w0", "w1")
        SHA1_GROUP(1, "e1", "e0", "w3", "w0", "w1", "w2")
        SHA1_GROUP(1, "e0", "e1", "w0", "w1", "w2", "w3")
        SHA1_GROUP(1, "e1", "e0", "w1", "w2", "w3", "w0")
        SHA1_GROUP(2, "e0", "e1", "w2", "w3", "w0", "w1")
        SHA1_GROUP(2, "e1", "e0", "w3", "w0", "w1", "w2")
        SHA1_GROUP(2, "e0", "e1", "w0", "w1", "w2", "w3")
        SHA1_GROUP(2, "e1", "e0", "w1", "w2", "w3", "w0")
        SHA1_GROUP(2, "e0", "e1", "w2", "w3", "w0", "w1")
        SHA1_GROUP(3, "e1", "e0", "w3", "w0", "w1", "w2")
        SHA1_GROUP(3, "e0", "e1", "w0", "w1", "w2", "w3")
        SHA1_ROUNDS(3, "e1", "e0") SHA1_MSG2("w1", "w2") SHA1_NEXTE("w2", "e0") SHA1_XOR("w1", "w3")
        SHA1_ROUNDS(3, "e0", "e1") SHA1_MSG2("w2", "w3") SHA1_NEXTE("w3", "e1")
        SHA1_ROUNDS(3, "e1", "e0") SHA1_NEXTE("eSaved", "e0")
        "paddd %[sSaved], %[s]"
        : [s] "+x"(s), [e0] "+x"(e0), [e1] "=&x"(e1), [w0] "=&x"(w0), [w1] "=&x"(w1), [w2] "=&x"(w2),
          [w3] "=&x"(w3), [sSaved] "=&x"(sSaved), [eSaved] "=&x"(eSaved)
        : [p] "r"(block), [swap] "x"(swap), "m"(*reinterpret_cast<const Block*>(block)));
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(s, 0x1B));
  state[4] = uint32_t(_mm_extract_epi32(e0, 3));
}

#undef SHA1_GROUP
#undef SHA1_NEXTE
#undef SHA1_XOR
#undef SHA1_MSG2
#undef SHA1_MSG1
#undef SHA1_ROUNDS
#undef SHA1_LOAD

// Whatever ran before on this thread may have left the upper halves dirty.
void BlocksShaExtAfterAvx(uint32_t state[5], const uint8_t* block, size_t count) {
  CpuClearUpperHalves();
  BlocksShaExt(state, block, count);
}

BlockFn ShaExtForm() {
  if (!CpuHasSha()) return nullptr;
  return CpuHasAvx() ? BlocksShaExtAfterAvx : BlocksShaExt;
}
#else
BlockFn ShaExtForm() { return nullptr; }
#endif

BlockFn Chosen() {
  const BlockFn fn = ShaExtForm();
  return fn ? fn : BlocksPortable;
}

std::atomic<BlockFn>& Blocks() {
  static std::atomic<BlockFn> fn{Chosen()};
  return fn;
}

}  // namespace

// The portable form, reachable by tests that compare both forms.
void Sha1BlocksPortable(uint32_t state[5], const uint8_t* blocks, size_t count) {
  BlocksPortable(state, blocks, count);
}

bool Sha1UseForm(Sha1Form form) {
  const BlockFn fn = form == Sha1Form::kPortable ? BlocksPortable : ShaExtForm();
  if (!fn) return false;
  Blocks().store(fn, std::memory_order_relaxed);
  return true;
}

void CSha1::Reset() {
  state_[0] = 0x67452301u;
  state_[1] = 0xEFCDAB89u;
  state_[2] = 0x98BADCFEu;
  state_[3] = 0x10325476u;
  state_[4] = 0xC3D2E1F0u;
  count_[0] = count_[1] = 0;
}

void CSha1::Transform(const uint8_t* blocks, size_t count) {
  Blocks().load(std::memory_order_relaxed)(state_, blocks, count);
}

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
