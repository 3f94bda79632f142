// The p2s packet: the sampled checksum and scrambling examples, the head's
// checks, the command values, the reply statuses and the file-information
// record the report fills.
#include "server/http/codec/p2s_packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/codec/md5.h"
#include "server/http/codec/http_codes.h"

using serial::Bytes;

namespace {

Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes ReplyPacket(std::initializer_list<uint8_t> head, const Bytes& rest = Bytes()) {
  Bytes body(head);
  body.insert(body.end(), rest.begin(), rest.end());
  return p2s::BuildPacket(body.data(), body.size());
}

}  // namespace

TEST(P2sPacket, SampledCrc32) {
  struct Row {
    const char* name;
    Bytes body;
    uint32_t crc;
  } rows[] = {
      {"empty", Bytes(), 0x00000000},
      {"abc: plain CRC-32 below 10 bytes", Str("abc"), 0x352441C2},
      {"123456789: still no sample", Str("123456789"), 0xCBF43926},
      {"0123456789: one sample, the byte at offset 7", Str("0123456789"), 0x2FD840C3},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(p2s::SampledCrc32(r.body.data(), r.body.size()), r.crc);
  }
  // Ten samples at most: bytes past the first hundred are never sampled, but
  // every byte is in the plain pass, and each sampled byte is in both.
  Bytes big(250);
  for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 13 + 1);
  const uint32_t base = p2s::SampledCrc32(big.data(), big.size());
  for (size_t at : {size_t(7), size_t(13), size_t(98), size_t(99), size_t(150), size_t(249)}) {
    SCOPED_TRACE(at);
    Bytes changed = big;
    changed[at] ^= 0x40;
    EXPECT_NE(p2s::SampledCrc32(changed.data(), changed.size()), base);
  }
}

TEST(P2sPacket, ScrambleExampleAndHead) {
  const Bytes body = Str("0123456789");
  const Bytes packet = p2s::BuildPacket(body.data(), body.size());
  ASSERT_EQ(packet.size(), 54u);
  const Bytes head(packet.begin(), packet.begin() + 16);
  EXPECT_EQ(head, Bytes({0x16, 0x23, 0x34, 0x48, 0, 0, 0, 0, 0, 0, 0, 10, 0x2F, 0xD8, 0x40, 0xC3}));
  EXPECT_EQ(Bytes(packet.begin() + 16, packet.begin() + 44), Bytes(28, 0));
  EXPECT_EQ(Bytes(packet.begin() + 44, packet.end()),
            Bytes({0x2C, 0x2C, 0x2C, 0x2C, 0x14, 0x14, 0x14, 0x14, 0x1C, 0x1C}));
  Bytes back;
  ASSERT_TRUE(p2s::ReadPacket(packet.data(), packet.size(), &back));
  EXPECT_EQ(back, body);
}

TEST(P2sPacket, ReaderChecks) {
  Bytes body(300);
  for (size_t i = 0; i < body.size(); ++i) body[i] = uint8_t(i);
  const Bytes good = p2s::BuildPacket(body.data(), body.size());
  auto with = [&](size_t at, uint8_t value) {
    Bytes p = good;
    p[at] = value;
    return p;
  };
  Bytes tooLong(p2s::kHeadSize);
  std::memcpy(tooLong.data(), p2s::kMagic, 4);
  tooLong[9] = 0x10, tooLong[11] = 1;  // 0x100001
  Bytes longPlusRoom = tooLong;
  longPlusRoom.resize(p2s::kHeadSize + 0x100001);
  struct Row {
    const char* name;
    Bytes packet;
    bool ok;
  } rows[] = {
      {"as built", good, true},
      {"bytes past the announced body are not read", [&] { Bytes p = good; p.push_back(7); return p; }(), true},
      {"one body byte altered", with(44 + 150, uint8_t(good[44 + 150] ^ 1)), false},
      {"check value altered", with(15, uint8_t(good[15] ^ 0x80)), false},
      {"magic altered", with(3, 'h'), false},
      {"one byte short of its body", Bytes(good.begin(), good.end() - 1), false},
      {"head only", Bytes(good.begin(), good.begin() + 44), false},
      {"43 bytes", Bytes(good.begin(), good.begin() + 43), false},
      {"length above 0x100000", tooLong, false},
      {"length above 0x100000 with the bytes there", longPlusRoom, false},
      {"empty", Bytes(), false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Bytes out;
    EXPECT_EQ(p2s::ReadPacket(r.packet.data(), r.packet.size(), &out), r.ok);
    if (r.ok) {
      EXPECT_EQ(out, body);
    }
  }
}

TEST(P2sPacket, ReplyStatuses) {
  p2s::FileInfo info;
  info.Set("00112233445566778899AABBCCDDEEFF", Bytes(), 1234, 0);
  const Bytes list = serial::EncodeRecord(info);
  Bytes damaged = ReplyPacket({1}, list);
  damaged[50] ^= 0x01;
  struct Row {
    const char* name;
    Bytes packet;
    int code;
  } rows[] = {
      {"1 with an empty field list", ReplyPacket({1, 0, 0, 0, 0}), kHttpOk},
      {"1 with the file information", ReplyPacket({1}, list), kHttpOk},
      {"1 with a list and a stray byte", ReplyPacket({1}, [&] { Bytes l = list; l.push_back(0); return l; }()),
       kHttpOk},
      {"1 without a list", ReplyPacket({1}), kHttpBadReply},
      {"1 with a cut list", ReplyPacket({1}, Bytes(list.begin(), list.end() - 1)), kHttpBadReply},
      {"2 refused", ReplyPacket({2}), kP2sRefused},
      {"6 refused", ReplyPacket({6, 9, 9}), kP2sRefusedInfo},
      {"0", ReplyPacket({0}), kHttpBadReply},
      {"3", ReplyPacket({3}), kHttpBadReply},
      {"255", ReplyPacket({255}), kHttpBadReply},
      {"empty body", ReplyPacket({}), kHttpBadReply},
      {"broken check value", damaged, kHttpBadReply},
      {"not a packet", Str("HTTP/1.1 404 Not Found"), kHttpBadReply},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    p2s::FileInfo got;
    EXPECT_EQ(p2s::ReadReply(r.packet.data(), r.packet.size(), &got), r.code);
  }
  p2s::FileInfo got;
  ASSERT_EQ(p2s::ReadReply(rows[1].packet.data(), rows[1].packet.size(), &got), kHttpOk);
  EXPECT_TRUE(got.hasFid && got.hasSize && !got.hasThird && !got.hasPieces && !got.hasUrls);
  EXPECT_EQ(got.size, 1234u);
  EXPECT_EQ(got.fid, info.fid);
}

TEST(P2sPacket, CommandsRoundTrip) {
  auto set = std::make_unique<p2s::P2SSetValue>();
  set->info.Set("0123456789ABCDEF0123456789ABCDEF", Bytes(32, 0x5A), 70000000, 0);
  set->info.AddUrl(p2s::MakeLinkEntry("ftp://bob:pw@ftp.test:2121/D/a.avi"));
  auto get = std::make_unique<p2s::P2SGetValue>();
  get->form = 1;
  get->key = Bytes(16, 0xEE);
  get->number = 5;
  get->last = 2;
  auto valid = std::make_unique<p2s::P2SValidUrl>();
  valid->first = Str("http://a/b");
  valid->second = Str("c");
  struct Row {
    const char* name;
    uint8_t kind;
    std::unique_ptr<Comm::BaseCommandValue> value;
  };
  Row rows[] = {{"set value", p2s::kSetValue, std::move(set)},
                {"get by hex key", p2s::kGetByHexKey, std::move(get)},
                {"validate URL", p2s::kValidUrl, std::move(valid)}};
  for (Row& r : rows) {
    SCOPED_TRACE(r.name);
    const uint64_t valueSize = r.value->EncodedSize();
    p2s::P2SCommand command(r.kind, std::move(r.value));
    ASSERT_TRUE(command.Build());
    const Bytes& packet = command.Packet();
    EXPECT_EQ(packet.size(), p2s::kHeadSize + 1 + valueSize);
    EXPECT_EQ(command.Head().bodyLength, 1 + valueSize);
    p2s::P2SCommand back;
    ASSERT_EQ(back.Decode(packet.data(), packet.size()), packet.size());
    EXPECT_EQ(back.Kind(), r.kind);
    // Re-encoding what was decoded gives the same packet.
    Bytes body(size_t(back.Value()->EncodedSize()));
    ASSERT_EQ(back.Value()->Encode(body.data(), body.size()), body.size());
    body.insert(body.begin(), r.kind);
    EXPECT_EQ(p2s::BuildPacket(body.data(), body.size()), packet);
  }
  const Bytes set3 = [] {
    auto v = std::make_unique<p2s::P2SSetValue>();
    p2s::P2SCommand c(p2s::kSetValue, std::move(v));
    c.Build();
    return c.Packet();
  }();
  struct Bad {
    const char* name;
    Bytes body;
  } bad[] = {{"kind 0", {0, 0}}, {"kind 5", {5, 0, 0, 0, 0, 0}}, {"set value not starting with 0", {3, 1, 0, 0, 0, 0}},
             {"empty body", {}}};
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.name);
    const Bytes packet = p2s::BuildPacket(b.body.data(), b.body.size());
    p2s::P2SCommand c;
    EXPECT_EQ(c.Decode(packet.data(), packet.size()), 0u);
  }
  p2s::P2SCommand empty3;
  EXPECT_EQ(empty3.Decode(set3.data(), set3.size()), set3.size());
}

TEST(P2sRecords, FileInfoSetsOnlyWhatIsGiven) {
  struct Row {
    const char* name;
    std::string fid;
    Bytes digests;
    uint64_t size, third;
    std::string names;  // the list's names, in order
  } rows[] = {
      {"everything", "00FF", Bytes(16, 1), 5, 6, "FHTZ"},
      {"nothing", "", Bytes(), 0, 0, ""},
      {"fid and size", "0A0B", Bytes(), 9, 0, "FZ"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    p2s::FileInfo info;
    info.Set(r.fid, r.digests, r.size, r.third);
    serial::FieldList list;
    info.BindFields(&list);
    std::string names;
    for (const char* n : {"C", "F", "H", "T", "Z"})
      if (list.Find(n)) names += n;
    EXPECT_EQ(names, r.names);
    if (!r.fid.empty()) {
      EXPECT_EQ(info.fid.size(), r.fid.size() / 2);
    }
  }
  p2s::FileInfo info;
  info.Set("0a0B", Bytes(), 0, 0);
  EXPECT_EQ(info.fid, Bytes({0x0A, 0x0B}));
}

TEST(P2sRecords, AddUrlReplacesBySameKeyOrText) {
  p2s::FileInfo info;
  p2s::URL a = p2s::MakeLinkEntry("ftp://h/a.avi");
  info.AddUrl(a);
  info.AddUrl(a);
  ASSERT_EQ(info.urls.size(), 1u);
  p2s::URL sameText = a;
  sameText.u = Bytes(16, 7);
  sameText.k = 1;
  info.AddUrl(sameText);
  ASSERT_EQ(info.urls.size(), 1u);
  EXPECT_EQ(info.urls[0].k, 1u);
  p2s::URL sameKey = p2s::MakeLinkEntry("other");
  sameKey.u = Bytes(16, 7);
  info.AddUrl(sameKey);
  ASSERT_EQ(info.urls.size(), 1u);
  EXPECT_EQ(info.urls[0].i, "other");
  info.AddUrl(p2s::MakeLinkEntry("third"));
  EXPECT_EQ(info.urls.size(), 2u);
}

TEST(P2sRecords, LinkEntry) {
  const p2s::URL e = p2s::MakeLinkEntry("ftp://bob:pw@Host/a%20b.avi");
  EXPECT_EQ(e.i, "ftp://bob:pw@Host/a%20b.avi");
  EXPECT_EQ(e.r, "");
  EXPECT_EQ(e.s, 200u);
  EXPECT_EQ(e.b, 0u);
  EXPECT_EQ(e.j, 0u);
  EXPECT_EQ(e.k, 0u);
  uint8_t md5[16];
  const std::string upper = "FTP://BOB:PW@HOST/A%20B.AVI";
  MD5Digest(upper.data(), upper.size(), md5);
  EXPECT_EQ(e.u, Bytes(md5, md5 + 16));
}
