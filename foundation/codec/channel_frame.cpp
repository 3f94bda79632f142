// Channel checksum and body scrambling. The mask is 256 little-endian words:
// CRC table entry j shifted right by 8, plus word 255 - j of the salt table.
#include "foundation/codec/channel_frame.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "foundation/codec/channel_mask_table.h"
#include "foundation/codec/cpu_features.h"
#include "foundation/codec/crc32.h"

uint8_t ChannelMask[kChannelMaskSize];

namespace {
std::once_flag maskBuilt;
// The mask twice over, so that any 1024 mask bytes from any start index lie
// in one run and can be XORed a word at a time.
uint8_t doubledMask[2 * kChannelMaskSize];

void FillMask() {
  for (uint32_t j = 0; j < 256; ++j) ChannelStoreU32(ChannelMask + 4 * j, (kCrc32Table[j] >> 8) + kChannelMaskSalt[255 - j]);
  std::memcpy(doubledMask, ChannelMask, kChannelMaskSize);
  std::memcpy(doubledMask + kChannelMaskSize, ChannelMask, kChannelMaskSize);
}

void XorRunNarrow(uint8_t* body, const uint8_t* key, uint32_t n) {
  uint32_t i = 0;
#ifdef __SSE2__
  for (; i + 32 <= n; i += 32) {
    auto at = [](const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    const __m128i b0 = _mm_xor_si128(at(body + i), at(key + i));
    const __m128i b1 = _mm_xor_si128(at(body + i + 16), at(key + i + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(body + i), b0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(body + i + 16), b1);
  }
#endif
  for (; i + 8 <= n; i += 8) {
    uint64_t b, k;
    std::memcpy(&b, body + i, 8);
    std::memcpy(&k, key + i, 8);
    b ^= k;
    std::memcpy(body + i, &b, 8);
  }
  for (; i < n; ++i) body[i] ^= key[i];
}

#if defined(__x86_64__) || defined(__i386__)
// 64 bytes a step, the last part under a byte mask. Only registers hold
// 512-bit values (the stack is 16-byte aligned under Windows).
__attribute__((target("avx512f,avx512bw"))) void XorRunWide(uint8_t* body, const uint8_t* key, uint32_t n) {
  uint32_t i = 0;
  for (; i + 128 <= n; i += 128) {
    const __m512i b0 = _mm512_xor_si512(_mm512_loadu_si512(body + i), _mm512_loadu_si512(key + i));
    const __m512i b1 = _mm512_xor_si512(_mm512_loadu_si512(body + i + 64), _mm512_loadu_si512(key + i + 64));
    _mm512_storeu_si512(body + i, b0);
    _mm512_storeu_si512(body + i + 64, b1);
  }
  for (; i < n; i += 64) {
    const uint32_t left = n - i;
    const __mmask64 m = left >= 64 ? ~__mmask64(0) : (__mmask64(1) << left) - 1;
    const __m512i b = _mm512_xor_si512(_mm512_maskz_loadu_epi8(m, body + i), _mm512_maskz_loadu_epi8(m, key + i));
    _mm512_mask_storeu_epi8(body + i, m, b);
  }
}

using XorFn = void (*)(uint8_t*, const uint8_t*, uint32_t);
const XorFn xorRun = CpuHasAvx512() ? XorRunWide : XorRunNarrow;
void XorRun(uint8_t* body, const uint8_t* key, uint32_t n) { xorRun(body, key, n); }
#else
void XorRun(uint8_t* body, const uint8_t* key, uint32_t n) { XorRunNarrow(body, key, n); }
#endif

// Body byte at + i is XORed with mask byte (checksum + at + i) mod 1024.
void Scramble(uint8_t* piece, uint32_t length, uint32_t checksum, uint32_t at) {
  const uint8_t* key = doubledMask + (checksum + at) % kChannelMaskSize;
  for (uint32_t done = 0; done < length; done += kChannelMaskSize) {
    const uint32_t n = length - done < kChannelMaskSize ? length - done : kChannelMaskSize;
    XorRun(piece + done, key, n);
  }
}
}  // namespace

void IpcBuildMask() {
  // The bytes never change, so filling once keeps a session that starts
  // while another one is sending from rewriting the mask under it.
  std::call_once(maskBuilt, FillMask);
  std::srand(static_cast<unsigned>(std::time(nullptr)));
}

uint32_t IpcEncodeBody(uint8_t* body, uint32_t length) {
  const uint32_t checksum = Crc32Update(body, length);
  Scramble(body, length, checksum, 0);
  return checksum;
}

bool IpcDecodeBody(uint8_t* body, uint32_t length, uint32_t checksum) {
  ChannelBodyCheck check(checksum);
  check.Take(body, length);
  return check.Matches();
}

void ChannelScrambleAt(uint8_t* piece, uint32_t n, uint32_t checksum, uint32_t at) { Scramble(piece, n, checksum, at); }

ChannelBodyCheck::ChannelBodyCheck(uint32_t checksum) : checksum_(checksum), register_(kCrc32ChannelStart) {}

void ChannelBodyCheck::Take(uint8_t* piece, uint32_t n) {
  // The checksum is known before the body is, so unscrambling and checking
  // go together, a few mask lengths at a time while they are in cache.
  constexpr uint32_t kPiece = 4 * kChannelMaskSize;
  for (uint32_t done = 0; done < n; done += kPiece) {
    const uint32_t run = n - done < kPiece ? n - done : kPiece;
    Scramble(piece + done, run, checksum_, taken_ + done);
    register_ = Crc32Continue(register_, piece + done, run);
  }
  taken_ += n;
}

bool ChannelBodyCheck::Matches() const { return register_ == checksum_; }
