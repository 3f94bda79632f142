// serial field lists: the byte examples of the encoding, round trips with
// unknown fields kept, vectors of records, damaged and truncated input.
#include "server/http/codec/field_list.h"

#include <gtest/gtest.h>

#include <string>

#include "server/http/codec/p2s_records.h"

using serial::Bytes;

namespace {

Bytes B(std::initializer_list<int> v) {
  Bytes out;
  for (int x : v) out.push_back(uint8_t(x));
  return out;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A record with one member of each kind.
struct Sample {
  uint8_t a = 0;
  uint32_t k = 0;
  uint64_t z = 0;
  Bytes h;
  std::string t;
  std::vector<serial::UnknownField> unknown;
  void BindFields(serial::FieldList* list) {
    for (serial::UnknownField& f : unknown) list->SetField(f.Name(), &f);
    list->Bind("A", &a);
    list->Bind("K", &k);
    list->Bind("Z", &z);
    list->Bind("H", &h);
    list->Bind("T", &t);
  }
};

}  // namespace

TEST(FieldList, ByteExamples) {
  uint32_t one32 = 1;
  uint64_t one64 = 1;
  uint8_t byte = 0x7F;
  Bytes abc = Str("abc");
  std::string text = "xy";
  struct Row {
    const char* name;
    const serial::BaseField* field;
    Bytes expected;
  };
  serial::FieldList empty, k;
  k.Bind("K", &one32);
  serial::Field<uint64_t> u64(&one64);
  serial::Field<uint8_t> u8(&byte);
  serial::Field<Bytes> bytes(&abc);
  serial::Field<std::string> str(&text);
  const Row rows[] = {
      {"empty list", &empty, B({0, 0, 0, 0})},
      {"one u32 K = 1", &k, B({0, 0, 0, 1, 0x4B, 0x3A, 2, 0, 0, 0, 4, 0, 0, 0, 1})},
      {"u64 1, little-endian", &u64, B({1, 0, 0, 0, 0, 0, 0, 0})},
      {"a byte", &u8, B({0x7F})},
      {"bytes: little-endian count", &bytes, B({3, 0, 0, 0, 0x61, 0x62, 0x63})},
      {"text: little-endian count, no terminator", &str, B({2, 0, 0, 0, 'x', 'y'})},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(serial::EncodeField(*r.field), r.expected);
    EXPECT_EQ(r.field->EncodedSize(), r.expected.size());
    // No room: nothing written.
    Bytes small(r.expected.size() - 1);
    EXPECT_EQ(r.field->Encode(small.data(), small.size()), 0u);
  }
}

TEST(FieldList, RecordRoundTripInNameOrder) {
  Sample s;
  s.a = 9, s.k = 0x01020304, s.z = 0x1122334455667788ull, s.h = B({0, 1, 2}), s.t = "text";
  const Bytes wire = serial::EncodeRecord(s);
  const Bytes expected = Cat({B({0, 0, 0, 5}),
                              Str("A:"), B({2, 0, 0, 0, 1}), Str("H:"), B({2, 0, 0, 0, 7}), Str("K:"), B({2, 0, 0, 0, 4}),
                              Str("T:"), B({2, 0, 0, 0, 8}), Str("Z:"), B({2, 0, 0, 0, 8}),
                              B({9}), B({3, 0, 0, 0, 0, 1, 2}), B({1, 2, 3, 4}), B({4, 0, 0, 0}), Str("text"),
                              B({0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11})});
  EXPECT_EQ(wire, expected);
  Sample back;
  ASSERT_EQ(serial::DecodeRecord(&back, wire.data(), wire.size()), wire.size());
  EXPECT_EQ(back.a, s.a);
  EXPECT_EQ(back.k, s.k);
  EXPECT_EQ(back.z, s.z);
  EXPECT_EQ(back.h, s.h);
  EXPECT_EQ(back.t, s.t);
  EXPECT_TRUE(back.unknown.empty());
}

TEST(FieldList, UnknownFieldsSurviveDecodeAndEncode) {
  // A list from a newer peer: its extra names, of any type, come back unchanged.
  const Bytes wire = Cat({B({0, 0, 0, 3}), Str("K:"), B({2, 0, 0, 0, 4}), Str("Q:"), B({4, 0, 0, 0, 4}),
                          Str("zz:"), B({8, 0, 0, 0, 2}), B({0, 0, 0, 7}), B({0, 0, 0, 0}), B({0xAB, 0xCD})});
  Sample s;
  ASSERT_EQ(serial::DecodeRecord(&s, wire.data(), wire.size()), wire.size());
  EXPECT_EQ(s.k, 7u);
  ASSERT_EQ(s.unknown.size(), 2u);
  serial::FieldList only;  // the record writes all its members; keep just K and the unknown ones
  only.Bind("K", &s.k);
  for (serial::UnknownField& f : s.unknown) only.SetField(f.Name(), &f);
  EXPECT_EQ(serial::EncodeField(only), wire);
  // Decoding again into the same record replaces the kept values in place.
  ASSERT_EQ(serial::DecodeRecord(&s, wire.data(), wire.size()), wire.size());
  EXPECT_EQ(s.unknown.size(), 2u);
}

TEST(FieldList, DamagedAndTruncatedInputDecodesNothing) {
  Sample good;
  good.k = 5, good.t = "abc";
  const Bytes wire = serial::EncodeRecord(good);
  for (size_t n = 0; n < wire.size(); ++n) {
    SCOPED_TRACE(testing::Message() << "cut to " << n);
    Sample s;
    s.k = 77;
    EXPECT_EQ(serial::DecodeRecord(&s, wire.data(), n), 0u);
    EXPECT_EQ(s.k, 77u) << "a failed decode changes nothing";
  }
  struct Row {
    const char* name;
    Bytes wire;
  } rows[] = {
      {"count beyond the input", B({0xFF, 0xFF, 0xFF, 0xFF, 'K', ':', 2, 0, 0, 0, 0})},
      {"count one more than the entries", Cat({B({0, 0, 0, 2}), Str("K:"), B({2, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0})})},
      {"zero byte in a name", Cat({B({0, 0, 0, 1}), B({'K', 0, ':', 2, 0, 0, 0, 1, 9})})},
      {"name without a colon", Cat({B({0, 0, 0, 1}), Str("KKKKKKKK")})},
      {"value size beyond the input", Cat({B({0, 0, 0, 1}), Str("K:"), B({2, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4})})},
      {"values past the end together",
       Cat({B({0, 0, 0, 2}), Str("A:"), B({2, 0x80, 0, 0, 0}), Str("B:"), B({2, 0x80, 0, 0, 0}), B({1, 2})})},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Sample s;
    s.k = 77;
    EXPECT_EQ(serial::DecodeRecord(&s, r.wire.data(), r.wire.size()), 0u);
    EXPECT_EQ(s.k, 77u);
    EXPECT_TRUE(s.unknown.empty());
  }
}

TEST(FieldList, ShortValuesOfKnownFields) {
  // The list is whole, but a value is too short for its member: the member keeps its value.
  struct Row {
    const char* name;
    Bytes wire;
    uint32_t k;
    std::string t;
  } rows[] = {
      {"u32 from two bytes", Cat({B({0, 0, 0, 1}), Str("K:"), B({2, 0, 0, 0, 2}), B({1, 2})}), 77, "old"},
      {"text with count 0", Cat({B({0, 0, 0, 1}), Str("T:"), B({2, 0, 0, 0, 4}), B({0, 0, 0, 0})}), 77, ""},
      {"text count beyond its value", Cat({B({0, 0, 0, 1}), Str("T:"), B({2, 0, 0, 0, 6}), B({9, 0, 0, 0, 'a', 'b'})}),
       77, ""},
      {"text count exactly its value", Cat({B({0, 0, 0, 1}), Str("T:"), B({2, 0, 0, 0, 6}), B({2, 0, 0, 0, 'a', 'b'})}),
       77, "ab"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Sample s;
    s.k = 77, s.t = "old";
    EXPECT_EQ(serial::DecodeRecord(&s, r.wire.data(), r.wire.size()), r.wire.size());
    EXPECT_EQ(s.k, r.k);
    EXPECT_EQ(s.t, r.t);
  }
}

TEST(FieldVector, UrlEntriesRoundTrip) {
  std::vector<p2s::URL> urls(2);
  urls[0] = p2s::MakeLinkEntry("ftp://u:p@host:2121/DIR/a.avi");
  urls[1].i = "second";
  urls[1].k = 3;
  urls[1].unknown.emplace_back("X", 2, B({1, 2, 3}));
  serial::FieldVector<p2s::URL> field(&urls);
  const Bytes wire = serial::EncodeField(field);
  ASSERT_FALSE(wire.empty());
  EXPECT_EQ(wire.size(), field.EncodedSize());
  EXPECT_EQ(B({wire[0], wire[1], wire[2], wire[3]}), B({0, 0, 0, 2}));
  const uint64_t first = serial::RecordSize(urls[0]);
  EXPECT_EQ(B({wire[4], wire[5], wire[6], wire[7]}),
            B({int(first >> 24), int(first >> 16 & 0xFF), int(first >> 8 & 0xFF), int(first & 0xFF)}));

  std::vector<p2s::URL> back;
  serial::FieldVector<p2s::URL> decoder(&back);
  ASSERT_EQ(decoder.Decode(wire.data(), wire.size()), wire.size());
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].i, urls[0].i);
  EXPECT_EQ(back[0].u, urls[0].u);
  EXPECT_EQ(back[0].s, 200u);
  EXPECT_EQ(back[1].k, 3u);
  ASSERT_EQ(back[1].unknown.size(), 1u);
  EXPECT_EQ(back[1].unknown[0].Raw(), B({1, 2, 3}));
  EXPECT_EQ(serial::EncodeField(decoder), wire);
}

TEST(FieldVector, DamagedInputDecodesNothing) {
  std::vector<p2s::URL> one(1);
  const Bytes element = serial::EncodeRecord(one[0]);
  const uint32_t n = uint32_t(element.size());
  const Bytes sizeBe = B({int(n >> 24), int(n >> 16 & 0xFF), int(n >> 8 & 0xFF), int(n & 0xFF)});
  struct Row {
    const char* name;
    Bytes wire;
  } rows[] = {
      {"count beyond the input", B({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 4})},
      {"sizes that wrap in 32 bits", Cat({B({0, 0, 0, 2}), B({0x80, 0, 0, 0}), B({0x80, 0, 0, 0}), B({0, 0, 0, 0})})},
      {"element shorter than its size", Cat({B({0, 0, 0, 1}), sizeBe, Bytes(element.begin(), element.end() - 1)})},
      {"element of size 0", Cat({B({0, 0, 0, 1}), B({0, 0, 0, 0})})},
      {"one bad element of two",
       Cat({B({0, 0, 0, 2}), sizeBe, B({0, 0, 0, 4}), element, B({0, 0, 0, 9})})},
      {"three bytes", B({0, 0, 0})},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<p2s::URL> out;
    serial::FieldVector<p2s::URL> field(&out);
    EXPECT_EQ(field.Decode(r.wire.data(), r.wire.size()), 0u);
    EXPECT_TRUE(out.empty());
  }
}
