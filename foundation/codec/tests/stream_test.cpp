// CStreamReader, CStreamWriter and CByteBuffer: round trips, reads past the
// end, string length limits, and bound checks that must not wrap.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/codec/byte_buffer.h"
#include "foundation/codec/stream_reader.h"
#include "foundation/codec/stream_writer.h"

namespace {
std::vector<uint8_t> StringField(uint32_t length, const std::string& bytes) {
  std::vector<uint8_t> v(4 + bytes.size());
  for (int i = 0; i < 4; ++i) v[i] = uint8_t(length >> (8 * i));
  std::memcpy(v.data() + 4, bytes.data(), bytes.size());
  return v;
}
}  // namespace

TEST(StreamWriter, ValuesAndStringsReadBack) {
  uint8_t buf[64];
  CStreamWriter w(buf, sizeof buf);
  w.WriteUInt8(0xA1);
  w.WriteUInt16(0xB2C3);
  w.WriteUInt32(0xD4E5F607u);
  w.WriteUInt64(0x1122334455667788ull);
  w.WriteValue(0xABCDEF, 3);
  w.WriteString("abc");
  w.WriteBytes("\x01\x02", 2);
  EXPECT_EQ(w.GetLength(), 1u + 2 + 4 + 8 + 3 + 7 + 2);
  EXPECT_FALSE(w.Overflowed());
  // Little-endian on the wire whatever the processor.
  EXPECT_EQ(0, std::memcmp(buf, "\xA1\xC3\xB2\x07\xF6\xE5\xD4", 7));

  CStreamReader r(buf, w.GetLength());
  EXPECT_EQ(r.ReadUInt8(), 0xA1);
  EXPECT_EQ(r.ReadUInt16(), 0xB2C3);
  EXPECT_EQ(r.ReadUInt32(), 0xD4E5F607u);
  EXPECT_EQ(r.ReadUInt64(), 0x1122334455667788ull);
  EXPECT_EQ(r.ReadValue(3), 0xABCDEFu);
  EXPECT_EQ(r.ReadString(), "abc");
  uint8_t two[2];
  r.ReadBytes(two, 2);
  EXPECT_EQ(two[1], 2);
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(r.Position(), w.GetLength());
}

TEST(StreamWriter, StringLengthCountsPrefix) {
  uint8_t buf[16];
  CStreamWriter w(buf, sizeof buf);
  w.WriteString("abc");
  EXPECT_EQ(w.GetLength(), 7u);
  w.Reset();
  EXPECT_EQ(w.GetLength(), 0u);
  w.WriteString("");
  EXPECT_EQ(w.GetLength(), 4u);
}

TEST(StreamWriter, WriteThatDoesNotFitIsDropped) {
  struct Row {
    const char* name;
    uint32_t capacity;
    uint32_t lengthAfter;
    bool overflowed;
  };
  // Each row writes a u32, then the string "hello" (9 bytes with its length).
  static const Row rows[] = {
      {"both fit exactly", 13, 13, false},
      {"string one byte short", 12, 4, true},
      {"only the length would fit", 8, 4, true},
      {"nothing fits", 3, 0, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<uint8_t> buf(r.capacity + 4, 0xEE);
    CStreamWriter w(buf.data(), r.capacity);
    w.WriteUInt32(7);
    w.WriteString("hello");
    EXPECT_EQ(w.GetLength(), r.lengthAfter);
    EXPECT_EQ(w.Overflowed(), r.overflowed);
    for (size_t i = r.lengthAfter; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0xEE) << "byte " << i << " written";
  }
}

TEST(StreamReader, ReadsPastTheEndYieldZerosAndAdvance) {
  const uint8_t data[] = {1, 2, 3, 4, 5, 6, 7};
  CStreamReader r(data, sizeof data);
  EXPECT_EQ(r.ReadUInt32(), 0x04030201u);
  EXPECT_EQ(r.ReadUInt32(), 0u);  // 3 bytes left
  EXPECT_EQ(r.Position(), 8u);
  EXPECT_FALSE(r.Ok());
  uint8_t out[3] = {9, 9, 9};
  r.ReadBytes(out, 3);
  EXPECT_EQ(out[0] | out[1] | out[2], 0);
  EXPECT_EQ(r.Position(), 11u);
  EXPECT_EQ(r.ReadUInt8(), 0);
  EXPECT_EQ(r.ReadUInt16(), 0);
  EXPECT_EQ(r.ReadUInt64(), 0u);

  r.Reset();
  EXPECT_EQ(r.Position(), 0u);
  EXPECT_EQ(r.ReadUInt8(), 1);
}

TEST(StreamReader, SkipAndNonPositiveCounts) {
  const uint8_t data[] = {1, 2, 3, 4};
  CStreamReader r(data, sizeof data);
  uint8_t out[1] = {9};
  r.ReadBytes(out, 0);
  r.ReadBytes(out, -5);
  EXPECT_EQ(out[0], 9);
  EXPECT_EQ(r.Position(), 0u);
  r.Skip(2);
  EXPECT_EQ(r.ReadUInt8(), 3);
  r.Skip(-1);
  EXPECT_EQ(r.Position(), 5u);  // size + 1
  EXPECT_EQ(r.ReadUInt8(), 0);
}

// Positions near 2^32 must not wrap the "does it fit" test back to true.
TEST(StreamReader, BoundChecksDoNotWrap) {
  std::vector<uint8_t> data(64, 0xAB);
  struct Row {
    const char* name;
    int32_t skips[3];
  };
  static const Row rows[] = {
      {"position at 2^32 - 2", {0x7FFFFFFF, 0x7FFFFFFF, 0}},
      {"position summing to 2^32", {0x7FFFFFFF, 0x7FFFFFFF, 2}},
      {"position summing past 2^32", {0x7FFFFFFF, 0x7FFFFFFF, 40}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CStreamReader r(data.data(), uint32_t(data.size()));
    for (int32_t s : row.skips) r.Skip(s);
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.ReadUInt32(), 0u);
    EXPECT_EQ(r.ReadUInt64(), 0u);
    uint8_t out[8] = {1};
    r.ReadBytes(out, 8);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(r.ReadString(), "");
    EXPECT_GE(r.Position(), 0xFFFFFFFEu);
  }
}

TEST(StreamReader, ReadString) {
  struct Row {
    const char* name;
    std::vector<uint8_t> bytes;
    std::string expected;
    uint32_t positionAfter;
  };
  const std::string big(5000, 'x');
  const Row rows[] = {
      {"plain", StringField(3, "abc"), "abc", 7},
      {"empty", StringField(0, ""), "", 4},
      {"stops at a zero byte, moves past the whole length", StringField(5, std::string("ab\0cd", 5)), "ab", 9},
      {"length 5000 is cut to 4095", StringField(5000, big), std::string(4095, 'x'), 4 + 4095},
      {"length longer than what remains", StringField(10, "abc"), "", 14},
      {"negative length counts as 0", StringField(0xFFFFFFF0u, "abc"), "", 4},
      {"length field itself cut short", {3, 0}, "", 4},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    CStreamReader reader(r.bytes.data(), uint32_t(r.bytes.size()));
    std::string got;
    reader.ReadString(&got);
    EXPECT_EQ(got, r.expected);
    EXPECT_EQ(reader.Position(), r.positionAfter);
  }
}

TEST(ByteBuffer, Append) {
  CByteBuffer b;
  EXPECT_EQ(b.Append(nullptr, 0), 0);
  EXPECT_EQ(b.Length(), 0u);
  EXPECT_EQ(b.Append("ab", 2), 0);
  EXPECT_EQ(b.Append("cde", 3), 0);
  ASSERT_EQ(b.Length(), 5u);
  EXPECT_EQ(0, std::memcmp(b.Data(), "abcde", 5));
}

// A receive straight into a buffer: Extend keeps what the buffer held and
// leaves room behind it; Truncate takes a refused arrival off again.
TEST(ByteBuffer, ExtendThenTruncate) {
  CByteBuffer b;
  ASSERT_EQ(b.Append("keep", 4), 0);
  EXPECT_EQ(b.Extend(0), nullptr);
  EXPECT_EQ(b.Extend(0xFFFFFFFDu), nullptr);  // past 2^32 with what is there
  ASSERT_EQ(b.Length(), 4u);
  uint8_t* room = b.Extend(200000);
  ASSERT_NE(room, nullptr);
  ASSERT_EQ(b.Length(), 200004u);
  EXPECT_EQ(room, b.Data() + 4);
  EXPECT_EQ(0, std::memcmp(b.Data(), "keep", 4));
  std::memset(room, 7, 200000);
  b.Truncate(300000);  // beyond the length: nothing
  EXPECT_EQ(b.Length(), 200004u);
  b.Truncate(4);
  ASSERT_EQ(b.Length(), 4u);
  EXPECT_EQ(0, std::memcmp(b.Data(), "keep", 4));
  ASSERT_EQ(b.Append("!", 1), 0);
  EXPECT_EQ(0, std::memcmp(b.Data(), "keep!", 5));
}

// Large blocks are handed from a freed buffer to the next one: whatever
// sizes follow each other, every buffer holds exactly what was appended,
// with none of the bookkeeping of the block's previous life.
TEST(ByteBuffer, RecycledLargeBlocksHoldOnlyTheirOwnBytes) {
  struct Row {
    const char* name;
    std::vector<uint32_t> pieces;  // appended one after another
  };
  const Row rows[] = {
      {"one MiB", {1u << 20}},
      {"the same size again", {1u << 20}},
      {"a little smaller", {(1u << 20) - 1000}},
      {"much smaller", {70000}},
      {"grown past a kept block", {65536, 65536, 300000}},
      {"larger than any kept block", {3u << 20}},
      {"below the recycled sizes", {100, 4000}},
  };
  uint8_t seed = 1;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<uint8_t> expected;
    {
      CByteBuffer b;
      for (uint32_t n : r.pieces) {
        std::vector<uint8_t> piece(n);
        for (uint32_t i = 0; i < n; ++i) piece[i] = uint8_t(seed + i * 31);
        ++seed;
        ASSERT_EQ(b.Append(piece.data(), n), 0);
        expected.insert(expected.end(), piece.begin(), piece.end());
        ASSERT_EQ(b.Length(), expected.size());
        ASSERT_EQ(0, std::memcmp(b.Data(), expected.data(), expected.size()));
      }
    }
  }
  // Two buffers alive at once never share a block.
  CByteBuffer a, b;
  std::vector<uint8_t> ones(200000, 1), twos(200000, 2);
  ASSERT_EQ(a.Append(ones.data(), uint32_t(ones.size())), 0);
  ASSERT_EQ(b.Append(twos.data(), uint32_t(twos.size())), 0);
  EXPECT_NE(a.Data(), b.Data());
  EXPECT_EQ(0, std::memcmp(a.Data(), ones.data(), ones.size()));
  EXPECT_EQ(0, std::memcmp(b.Data(), twos.data(), twos.size()));
}

// A length that would pass 2^32 is refused before anything is allocated or
// copied, and the buffer keeps what it had.
TEST(ByteBuffer, AppendRefusesLengthOverflow) {
  CByteBuffer b;
  ASSERT_EQ(b.Append("xy", 2), 0);
  struct Row {
    const char* name;
    uint32_t n;
  };
  static const Row rows[] = {{"2^32 - 1", 0xFFFFFFFFu}, {"exactly to 2^32", 0xFFFFFFFEu}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(b.Append("z", r.n), 1);
    ASSERT_EQ(b.Length(), 2u);
    EXPECT_EQ(0, std::memcmp(b.Data(), "xy", 2));
  }
}
