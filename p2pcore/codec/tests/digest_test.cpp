// MD5, SHA-1 and CRC-32 in the forms the core's verify answers, datagrams and
// share lists use them, against published vectors.
#include <gtest/gtest.h>

#include <string>

#include "foundation/codec/crc32.h"
#include "foundation/codec/md5.h"
#include "foundation/codec/sha1.h"
#include "foundation/text/hex_text.h"
#include "p2pcore/codec/share_list_file.h"
#include "p2pcore/codec/texts.h"

namespace {

std::string md5_hex(const std::string& s, size_t piece) {
  MD5Context ctx;
  MD5Init(&ctx);
  for (size_t at = 0; at < s.size(); at += piece) MD5Update(&ctx, s.data() + at, std::min(piece, s.size() - at));
  uint8_t out[16];
  MD5Final(&ctx, out);
  return HexText(out, 16);
}

TEST(Digest, Md5KnownVectorsInAnyPieces) {
  struct Row { std::string in; const char* hex; };
  const Row rows[] = {
      {"", "D41D8CD98F00B204E9800998ECF8427E"},
      {"abc", "900150983CD24FB0D6963F7D28E17F72"},
      {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
      {std::string("1234567890") + "1234567890" + "1234567890" + "1234567890" + "1234567890" + "1234567890" +
           "1234567890" + "1234567890",
       "57EDF4A22BE3C955AC49DA2E2107B67A"},
  };
  for (const Row& r : rows) {
    for (size_t piece : {size_t(1), size_t(7), size_t(64), size_t(1000)}) {
      SCOPED_TRACE(r.in.substr(0, 16) + " piece " + std::to_string(piece));
      EXPECT_EQ(md5_hex(r.in, piece), r.hex);
    }
  }
}

TEST(Digest, Sha1KnownVectors) {
  struct Row { std::string in; const char* hex; };
  const Row rows[] = {
      {"", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
      {"abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
      {std::string(1000, 'a'), "291E9A6C66994949B57BA5E650361E98FC36B1BA"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.in.substr(0, 16));
    uint8_t out[20];
    Sha1Digest(out, r.in.data(), r.in.size());
    EXPECT_EQ(HexText(out, 20), r.hex);
  }
}

TEST(Digest, Crc32FormAndTableBytes) {
  EXPECT_EQ(Crc32Update("", 0), 0xFFFFFFFEu);
  EXPECT_EQ(~Crc32Continue(0xFFFFFFFFu, "123456789", 9), 0xCBF43926u);
  // The table read as little-endian bytes: entry 1 is 0x77073096.
  EXPECT_EQ(p2p::crc32_table_byte(4), 0x96);
  EXPECT_EQ(p2p::crc32_table_byte(7), 0x77);
  EXPECT_EQ(p2p::crc32_table_byte(1024 + 4), 0x96);
}

}  // namespace
