// MD5 and SHA-1 against the published vectors, block-boundary lengths, every
// short length and alignment against plain step-by-step forms, and pieced
// input against the one-shot forms; SHA-1 on each compression function.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/codec/md5.h"
#include "foundation/codec/sha1.h"
#include "foundation/codec/tests/test_hex.h"

namespace {

std::string Md5Hex(const void* data, size_t n) {
  uint8_t d[16];
  MD5Digest(data, n, d);
  return ToHex(d, 16);
}

std::string Sha1Hex(const void* data, size_t n) {
  uint8_t d[20];
  Sha1Digest(d, data, n);
  return ToHex(d, 20);
}

// SHA-1 through the portable compression function with the padding done here,
// so the form CSha1 did not choose on this processor is checked as well.
std::string Sha1PortableHex(const uint8_t* data, size_t n) {
  std::vector<uint8_t> msg(data, data + n);
  msg.push_back(0x80);
  while (msg.size() % 64 != 56) msg.push_back(0);
  const uint64_t bits = uint64_t(n) * 8;
  for (int i = 7; i >= 0; --i) msg.push_back(uint8_t(bits >> (8 * i)));
  uint32_t state[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  Sha1BlocksPortable(state, msg.data(), msg.size() / 64);
  uint8_t d[20];
  for (int i = 0; i < 20; ++i) d[i] = uint8_t(state[i / 4] >> (24 - 8 * (i % 4)));
  return ToHex(d, 20);
}

// The input with the padding and the 64-bit bit count both digests append,
// the count little-endian for MD5 and big-endian for SHA-1.
std::vector<uint8_t> Padded(const uint8_t* data, size_t n, bool bigEndianCount) {
  std::vector<uint8_t> msg(data, data + n);
  msg.push_back(0x80);
  while (msg.size() % 64 != 56) msg.push_back(0);
  const uint64_t bits = uint64_t(n) * 8;
  for (int i = 0; i < 8; ++i) msg.push_back(uint8_t(bits >> (8 * (bigEndianCount ? 7 - i : i))));
  return msg;
}

uint32_t RotateLeft(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

// MD5 as RFC 1321 describes it, one step at a time: the constants from the
// sine, the message word and round function picked by the step number.
std::string PlainMd5Hex(const uint8_t* data, size_t n) {
  static const int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
  const std::vector<uint8_t> msg = Padded(data, n, false);
  uint32_t h[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
  for (size_t at = 0; at < msg.size(); at += 64) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
      const uint8_t* p = &msg[at + 4 * i];
      x[i] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; ++i) {
      const int round = i / 16;
      uint32_t f;
      int k;
      if (round == 0) {
        f = (b & c) | (~b & d), k = i;
      } else if (round == 1) {
        f = (b & d) | (c & ~d), k = (1 + 5 * i) % 16;
      } else if (round == 2) {
        f = b ^ c ^ d, k = (5 + 3 * i) % 16;
      } else {
        f = c ^ (b | ~d), k = (7 * i) % 16;
      }
      const uint32_t t = uint32_t(std::floor(std::fabs(std::sin(double(i + 1))) * 4294967296.0));
      const uint32_t sum = a + f + x[k] + t;
      a = d;
      d = c;
      c = b;
      b += RotateLeft(sum, kShift[round][i % 4]);
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d;
  }
  uint8_t out[16];
  for (int i = 0; i < 16; ++i) out[i] = uint8_t(h[i / 4] >> (8 * (i % 4)));
  return ToHex(out, 16);
}

// SHA-1 as FIPS 180-1 describes it: the 80-word schedule, then 80 rounds.
std::string PlainSha1Hex(const uint8_t* data, size_t n) {
  const std::vector<uint8_t> msg = Padded(data, n, true);
  uint32_t h[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  for (size_t at = 0; at < msg.size(); at += 64) {
    uint32_t w[80];
    for (int t = 0; t < 16; ++t) {
      const uint8_t* p = &msg[at + 4 * t];
      w[t] = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
    }
    for (int t = 16; t < 80; ++t) w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int t = 0; t < 80; ++t) {
      uint32_t f, k;
      if (t < 20) {
        f = (b & c) | (~b & d), k = 0x5A827999u;
      } else if (t < 40) {
        f = b ^ c ^ d, k = 0x6ED9EBA1u;
      } else if (t < 60) {
        f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDCu;
      } else {
        f = b ^ c ^ d, k = 0xCA62C1D6u;
      }
      const uint32_t temp = RotateLeft(a, 5) + f + e + w[t] + k;
      e = d;
      d = c;
      c = RotateLeft(b, 30);
      b = a;
      a = temp;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
  }
  uint8_t out[20];
  for (int i = 0; i < 20; ++i) out[i] = uint8_t(h[i / 4] >> (24 - 8 * (i % 4)));
  return ToHex(out, 20);
}

// Runs `check` once on each SHA-1 compression function this processor has,
// then leaves the one chosen at start in place.
template <typename Check>
void OnEachSha1Form(Check check) {
  for (Sha1Form form : {Sha1Form::kPortable, Sha1Form::kShaExtensions}) {
    if (!Sha1UseForm(form)) continue;
    SCOPED_TRACE(form == Sha1Form::kPortable ? "portable SHA-1" : "SHA-1 on the SHA instructions");
    check();
  }
  if (!Sha1UseForm(Sha1Form::kShaExtensions)) Sha1UseForm(Sha1Form::kPortable);
}

struct TextRow {
  const char* text;
  const char* md5;   // nullptr: no published MD5 value for this text
  const char* sha1;  // nullptr: no published SHA-1 value for this text
};

const TextRow kTextRows[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {"a", "0cc175b9c0f1b6a831c399e269772661", nullptr},
    {"abc", "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0", nullptr},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b", nullptr},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f",
     nullptr},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a", nullptr},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", nullptr,
     "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
};

// Lengths around the 56-byte padding edge and the 64-byte block.
struct LengthRow {
  size_t n;
  const char* md5;
  const char* sha1;
};

const LengthRow kLengthRows[] = {
    {55, "52c0e574e1198de5fe3f8f11440dcb1b", "ddf57317ef34bfee3b6df83d359098930eb278bc"},
    {56, "46c9907fc908ee68b1e7b8e71286a518", "a0d492bb0fc889d0eca3bc137066ab6f4f74f369"},
    {63, "a62f6d59e837867693f042f5b8f5a236", "c55856749bef509bdfe6bfebfc7bf4e793e82132"},
    {64, "7160b8fb5e9e4023d549c3971fbaeead", "bede92be29c3874e1b54ddc77988d606fc857a8e"},
    {65, "70bd662e7aefbda85a0f7244167b7897", "b05a80522b053d6dc7e0a517d0e70212c7dad11f"},
    {119, "e84905d4214f4d1ca56c2cdcc152b143", "504e27376a6e0f0dba8295b85cb25dc4dfa17d23"},
    {120, "e3eb5a6c8669ea01a8c185b8abc8a5dc", "82134b02fb3f702491be9bed581eeab59334acb2"},
    {1000, "10046f077f2082ac19676b8079f1cb1a", "4231a8a50a10fa9758db8ec71fdef855b751048a"},
};

}  // namespace

TEST(Digests, PublishedVectors) {
  for (const TextRow& r : kTextRows) {
    SCOPED_TRACE(std::string("text \"") + r.text + "\"");
    const size_t n = std::strlen(r.text);
    if (r.md5) {
      EXPECT_EQ(Md5Hex(r.text, n), r.md5);
      EXPECT_EQ(PlainMd5Hex(reinterpret_cast<const uint8_t*>(r.text), n), r.md5);
    }
    if (r.sha1) {
      OnEachSha1Form([&] { EXPECT_EQ(Sha1Hex(r.text, n), r.sha1); });
      EXPECT_EQ(Sha1PortableHex(reinterpret_cast<const uint8_t*>(r.text), n), r.sha1);
      EXPECT_EQ(PlainSha1Hex(reinterpret_cast<const uint8_t*>(r.text), n), r.sha1);
    }
  }
}

TEST(Digests, MillionA) {
  const std::vector<uint8_t> a(1000000, 'a');
  EXPECT_EQ(Md5Hex(a.data(), a.size()), "7707d6ae4e027c70eea2a935c2296f21");
  OnEachSha1Form([&] { EXPECT_EQ(Sha1Hex(a.data(), a.size()), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"); });
  EXPECT_EQ(Sha1PortableHex(a.data(), a.size()), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(Digests, BlockBoundaryLengths) {
  for (const LengthRow& r : kLengthRows) {
    SCOPED_TRACE("length " + std::to_string(r.n));
    const std::vector<uint8_t> data = PatternBytes(r.n);
    EXPECT_EQ(Md5Hex(data.data(), r.n), r.md5);
    OnEachSha1Form([&] { EXPECT_EQ(Sha1Hex(data.data(), r.n), r.sha1); });
    EXPECT_EQ(Sha1PortableHex(data.data(), r.n), r.sha1);
  }
}

// Any split of the input gives the one-shot digest, including splits that
// leave a partly filled block between calls and empty pieces.
TEST(Digests, PiecedInputMatchesOneShot) {
  OnEachSha1Form([] {
    const std::vector<uint8_t> data = PatternBytes(5000);
    uint8_t md5Whole[16], shaWhole[20];
    MD5Digest(data.data(), data.size(), md5Whole);
    Sha1Digest(shaWhole, data.data(), data.size());
    EXPECT_EQ(ToHex(md5Whole, 16), PlainMd5Hex(data.data(), data.size()));
    EXPECT_EQ(ToHex(shaWhole, 20), PlainSha1Hex(data.data(), data.size()));

    static const size_t kPieces[] = {1, 3, 55, 63, 64, 65, 127, 200, 4096};
    for (size_t piece : kPieces) {
      SCOPED_TRACE("piece " + std::to_string(piece));
      MD5Context md5;
      MD5Init(&md5);
      CSha1 sha;
      for (size_t at = 0; at < data.size(); at += piece) {
        const size_t n = std::min(piece, data.size() - at);
        MD5Update(&md5, data.data() + at, n);
        MD5Update(&md5, data.data() + at, 0);
        sha.Update(data.data() + at, n);
        sha.Update(nullptr, 0);
      }
      uint8_t md5Out[16], shaOut[20];
      MD5Final(&md5, md5Out);
      sha.Final(shaOut);
      EXPECT_EQ(ToHex(md5Out, 16), ToHex(md5Whole, 16));
      EXPECT_EQ(ToHex(shaOut, 20), ToHex(shaWhole, 20));
    }
  });
}

// Every length up to a few blocks, at every alignment, gives what the plain
// forms give: the block loops, the buffering of a partial block and the
// padding edge at 56 bytes, in one- and multi-block calls.
TEST(Digests, EveryShortLengthAndAlignment) {
  const std::vector<uint8_t> data = PatternBytes(300 + 15);
  for (size_t align = 0; align < 16; ++align) {
    for (size_t n = 0; n <= 300; ++n) {
      SCOPED_TRACE("length " + std::to_string(n) + " at offset " + std::to_string(align));
      EXPECT_EQ(Md5Hex(data.data() + align, n), PlainMd5Hex(data.data() + align, n));
    }
  }
  OnEachSha1Form([&] {
    for (size_t align = 0; align < 16; ++align) {
      for (size_t n = 0; n <= 300; ++n) {
        SCOPED_TRACE("length " + std::to_string(n) + " at offset " + std::to_string(align));
        EXPECT_EQ(Sha1Hex(data.data() + align, n), PlainSha1Hex(data.data() + align, n));
      }
    }
  });
}

// A CSha1 is ready for a new message after Final; an MD5 context after MD5Init.
TEST(Digests, ReuseAfterFinal) {
  CSha1 sha;
  uint8_t d[20];
  sha.Update("xyz", 3);
  sha.Final(d);
  sha.Update("abc", 3);
  sha.Final(d);
  EXPECT_EQ(ToHex(d, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");

  MD5Context ctx;
  uint8_t m[16];
  MD5Init(&ctx);
  MD5Update(&ctx, "xyz", 3);
  MD5Final(&ctx, m);
  MD5Init(&ctx);
  MD5Update(&ctx, "abc", 3);
  MD5Final(&ctx, m);
  EXPECT_EQ(ToHex(m, 16), "900150983cd24fb0d6963f7d28e17f72");
}
