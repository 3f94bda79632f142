// Enciphered TCP stream: RC4, packing, reassembly however the bytes are split,
// the receiver's error codes and random input.
#include "p2pcore/wire/tcp_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "p2pcore/wire/tests/frame_collector.h"
#include "p2pcore/wire/wire_bytes.h"

using namespace p2p;

namespace {

using p2p_test::Collector;
using p2p_test::Frame;

std::vector<uint8_t> body_of(size_t n, uint8_t salt) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 31 + salt);
  return b;
}

// Packs frames into one sender stream.
std::vector<uint8_t> pack_stream(const std::vector<Frame>& frames, uint32_t seed, uint32_t header = 5) {
  DataOutPacking out(seed);
  std::vector<uint8_t> stream;
  for (size_t i = 0; i < frames.size(); ++i) {
    tcp_frame f;
    f.new_frame(frames[i].command, (header + i) % 17);
    f.append(frames[i].body.data(), frames[i].body.size());
    out.pack(f);
    stream.insert(stream.end(), f.data(), f.data() + f.size());
  }
  return stream;
}

// A stream whose plaintext after the seed is given by hand (opening included),
// for frames the sender never builds.
std::vector<uint8_t> raw_stream(uint32_t seed, const std::vector<uint8_t>& plain_after_seed,
                                uint32_t key_offset = kStreamKeyOffset) {
  WireWriter w;
  w.u32(seed).bytes(plain_after_seed.data(), plain_after_seed.size());
  std::vector<uint8_t> s = w.take();
  Rc4State st;
  uint8_t key[4];
  store_u32le(key, seed + key_offset);
  rc4_init(st, key, 4);
  rc4_apply(st, s.data() + 4, s.size() - 4);
  return s;
}

std::vector<uint8_t> opening_plain() {
  WireWriter w;
  w.u32(kStreamCheckValue).u32(1).u32(3);
  return w.take();
}

void append_raw_frame(std::vector<uint8_t>& plain, uint32_t length, uint16_t command, uint32_t header,
                      size_t bytes_after) {
  WireWriter w;
  w.u32(length).u16(command).u32(header).zeros(bytes_after);
  std::vector<uint8_t> f = w.take();
  plain.insert(plain.end(), f.begin(), f.end());
}

int16_t feed(Collector& c, std::vector<uint8_t> bytes, size_t chunk) {
  int16_t r = 0;
  for (size_t i = 0; i < bytes.size(); i += chunk) {
    r = c.unpack(bytes.data() + i, std::min(chunk, bytes.size() - i));
    if (r < 0) break;
  }
  return r;
}

}  // namespace

TEST(Rc4, PublishedVectors) {
  struct Row { const char* key; const char* plain; const char* cipher_hex; };
  const Row rows[] = {
      {"Key", "Plaintext", "BBF316E8D940AF0AD3"},
      {"Wiki", "pedia", "1021BF0420"},
      {"Secret", "Attack at dawn", "45A01F645FC35B383552544B9BF5"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.key);
    Rc4State st;
    rc4_init(st, reinterpret_cast<const uint8_t*>(r.key), strlen(r.key));
    std::string text = r.plain;
    rc4_apply(st, reinterpret_cast<uint8_t*>(text.data()), text.size());
    std::string hex;
    for (unsigned char ch : text) {
      char b[3];
      snprintf(b, sizeof b, "%02X", ch);
      hex += b;
    }
    EXPECT_EQ(hex, r.cipher_hex);
  }
}

TEST(TcpStream, OpeningAndFrameLayout) {
  tcp_frame f;
  f.new_frame(10, 3);
  const uint8_t body[5] = {1, 2, 3, 4, 5};
  f.append(body, sizeof body);
  f.append(nullptr, 4);
  ASSERT_EQ(f.size(), 10u + 3 + 5);
  EXPECT_EQ(load_u32le(f.data()), 4u + 3 + 5);
  EXPECT_EQ(load_u32le(f.data() + 6), 3u);

  DataOutPacking out(1234);
  out.pack(f);
  ASSERT_EQ(f.size(), 16u + 18);
  EXPECT_EQ(load_u32le(f.data()), 1234u);  // the seed travels plain
  Rc4State st;
  stream_cipher_init(st, 1234);
  std::vector<uint8_t> plain(f.data() + 4, f.data() + f.size());
  rc4_apply(st, plain.data(), plain.size());
  EXPECT_EQ(load_u32le(plain.data()), kStreamCheckValue);
  EXPECT_EQ(load_u32le(plain.data() + 4), 1u);
  EXPECT_EQ(load_u32le(plain.data() + 8), 3u);
  EXPECT_EQ(load_u32le(plain.data() + 12), 12u);

  tcp_frame empty;
  out.pack(empty);  // nothing to pack: the running cipher is untouched
  EXPECT_EQ(empty.size(), 0u);
}

TEST(TcpStream, SplitsDeliverTheSameFrames) {
  const std::vector<Frame> frames = {
      {2, body_of(40, 1)}, {4, {}}, {6, body_of(2, 3)}, {10, body_of(9 + 17 * 255, 4)}, {11, body_of(1, 5)},
  };
  const std::vector<uint8_t> stream = pack_stream(frames, 777);
  for (size_t chunk : {stream.size(), size_t{1}, size_t{2}, size_t{5}, size_t{15}, size_t{16}, size_t{17},
                       size_t{100}, size_t{4096}}) {
    SCOPED_TRACE(testing::Message() << "chunk " << chunk);
    Collector c;
    EXPECT_EQ(feed(c, stream, chunk), 0);
    EXPECT_EQ(c.frames, frames);
    EXPECT_EQ(c.state(), kStreamRunning);
  }
  // Random splits, including empty calls between them.
  std::mt19937 gen(5);
  for (int round = 0; round < 50; ++round) {
    Collector c;
    std::vector<uint8_t> s = stream;
    size_t pos = 0;
    while (pos < s.size()) {
      size_t n = std::min<size_t>(gen() % 300, s.size() - pos);
      ASSERT_EQ(c.unpack(s.data() + pos, n), 0);
      pos += n;
    }
    ASSERT_EQ(c.frames, frames) << "round " << round;
  }
}

TEST(TcpStream, LargestLegalFrameHoweverSplit) {
  // B = 0x20000 with H = 16: the length field is 0x20014, above 0x20000.
  const std::vector<Frame> frames = {{10, body_of(kFrameMaxBody, 9)}, {11, body_of(3, 1)}};
  DataOutPacking out(42);
  std::vector<uint8_t> stream;
  for (const Frame& fr : frames) {
    tcp_frame f;
    f.new_frame(fr.command, 16);
    f.append(fr.body.data(), fr.body.size());
    out.pack(f);
    stream.insert(stream.end(), f.data(), f.data() + f.size());
  }
  for (size_t first : {size_t{16}, size_t{20}, size_t{22}, size_t{26}, size_t{1000}, stream.size() - 1}) {
    SCOPED_TRACE(testing::Message() << "first part " << first);
    Collector c;
    std::vector<uint8_t> s = stream;
    ASSERT_EQ(c.unpack(s.data(), first), 0);
    ASSERT_EQ(c.unpack(s.data() + first, s.size() - first), 0);
    EXPECT_EQ(c.frames, frames);
  }
}

TEST(TcpStream, ReceiverErrorCodes) {
  struct Row {
    const char* name;
    uint32_t length;
    uint32_t header;
    size_t bytes_after;  // after the 10 fixed bytes
    int16_t state;
    size_t delivered;
  };
  const Row rows[] = {
      {"H = 16 accepted", 20, 16, 16, kStreamRunning, 1},
      {"H = 17", 21, 17, 17, kStreamBadHeader, 0},
      {"B = 0x20000 accepted", 4 + 0x20000, 0, 0x20000, kStreamRunning, 1},
      {"B = 0x20001", 4 + 0x20001, 0, 0x20001, kStreamBodyTooLarge, 0},
      {"L = H + 3", 8, 5, 4, kStreamBadLength, 0},
      {"L = 3", 3, 0, 0, kStreamBadLength, 0},
      {"length field no frame has, incomplete", 0xFFFFFFF0u, 0, 0, kStreamBodyTooLarge, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<uint8_t> plain = opening_plain();
    append_raw_frame(plain, r.length, 10, r.header, r.bytes_after);
    if (r.length == 3) plain.resize(plain.size() - 1);  // the frame ends inside its own header
    std::vector<uint8_t> s = raw_stream(99, plain);
    Collector c;
    int16_t result = c.unpack(s.data(), s.size());
    EXPECT_EQ(result, r.state < 0 ? -1 : 0);
    EXPECT_EQ(c.state(), r.state);
    EXPECT_EQ(c.frames.size(), r.delivered);
    if (r.state < 0) {
      // A failed receiver stays failed and delivers nothing more.
      std::vector<uint8_t> more = pack_stream({{1, body_of(3, 0)}}, 1);
      EXPECT_EQ(c.unpack(more.data(), more.size()), r.state);
      EXPECT_EQ(c.unpack(nullptr, 0), r.state);
      EXPECT_EQ(c.state(), r.state);
    }
  }
}

TEST(TcpStream, WrongKeyFailsTheOpening) {
  std::vector<uint8_t> plain = opening_plain();
  append_raw_frame(plain, 4, 2, 0, 0);
  std::vector<uint8_t> s = raw_stream(5, plain, kStreamKeyOffset + 1);
  Collector c;
  EXPECT_EQ(feed(c, s, 1), -1);  // the 16th byte completes the opening
  EXPECT_EQ(c.state(), kStreamBadCheck);
  std::vector<uint8_t> good = pack_stream({{2, body_of(4, 0)}}, 5);
  EXPECT_EQ(c.unpack(good.data(), good.size()), kStreamBadCheck);
  EXPECT_TRUE(c.frames.empty());
}

TEST(TcpStream, EmptyCallsAndTruncatedStreams) {
  const std::vector<Frame> frames = {{2, body_of(40, 7)}, {4, body_of(10, 8)}};
  std::vector<uint8_t> s = pack_stream(frames, 31000);
  Collector c;
  EXPECT_EQ(c.unpack(s.data(), 0), 0);
  EXPECT_EQ(c.state(), kStreamEmptyInput);
  EXPECT_EQ(c.unpack(s.data(), 10), 0);
  EXPECT_EQ(c.state(), kStreamOpening);
  EXPECT_EQ(c.needed(), 6u);
  EXPECT_EQ(c.unpack(s.data() + 10, 8), 0);  // opening done, 2 bytes of the first frame held
  EXPECT_EQ(c.state(), kStreamRunning);
  EXPECT_EQ(c.needed(), 4u);
  EXPECT_EQ(c.unpack(nullptr, 0), 0);
  // All but the last byte: the first frame arrives, the second waits.
  EXPECT_EQ(c.unpack(s.data() + 18, s.size() - 19), 0);
  ASSERT_EQ(c.frames.size(), 1u);
  EXPECT_EQ(c.frames[0], frames[0]);
  EXPECT_EQ(c.unpack(s.data() + s.size() - 1, 1), 0);
  EXPECT_EQ(c.frames, frames);
  EXPECT_EQ(c.needed(), 6u);
}

TEST(TcpStream, RandomBytesAreSafe) {
  std::mt19937 gen(77);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> s;
    if (round % 3 == 0) {
      s.resize(gen() % 400);
      for (uint8_t& b : s) b = static_cast<uint8_t>(gen());
    } else {
      // A valid opening followed by random frames, some damaged after enciphering.
      std::vector<uint8_t> plain = opening_plain();
      for (int k = gen() % 6; k > 0; --k) {
        uint32_t header = gen() % 20;
        uint32_t body = gen() % 64;
        uint32_t length = round % 3 == 1 ? 4 + header + body : static_cast<uint32_t>(gen()) % 300;
        append_raw_frame(plain, length, static_cast<uint16_t>(gen()), header, header + body);
      }
      s = raw_stream(gen() % 32768, plain);
      for (int k = gen() % 3; k > 0; --k) s[gen() % s.size()] ^= static_cast<uint8_t>(gen());
    }
    Collector c;
    size_t pos = 0;
    while (pos < s.size()) {
      size_t n = std::min<size_t>(1 + gen() % 50, s.size() - pos);
      int16_t r = c.unpack(s.data() + pos, n);
      pos += n;
      if (r < 0) break;
    }
    for (const Frame& f : c.frames) ASSERT_LE(f.body.size(), kFrameMaxBody);
  }
}

TEST(TcpStream, MatchesTheTestDoublesCodec) {
  // Built by the independent codec of the P2P test doubles (tests/lib/p2p_wire.py):
  // seed 0x1234, frame 2 "abc" with no header, then frame 11 with a 2-byte header.
  const char* hex = "34120000AFCC06C98A9FD4184F6699925BD8EA28BCBE12757B6FE1B4C4D25103723CD6322EFB118C39";
  std::vector<uint8_t> expected;
  for (size_t i = 0; hex[i]; i += 2) expected.push_back(static_cast<uint8_t>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
  DataOutPacking out(0x1234);
  std::vector<uint8_t> stream;
  tcp_frame f;
  f.new_frame(2, 0);
  f.append("abc", 3);
  out.pack(f);
  stream.insert(stream.end(), f.data(), f.data() + f.size());
  f.new_frame(11, 2);
  out.pack(f);
  stream.insert(stream.end(), f.data(), f.data() + f.size());
  EXPECT_EQ(stream, expected);
  Collector c;
  ASSERT_EQ(c.unpack(expected.data(), expected.size()), 0);
  const std::vector<Frame> frames = {{2, {'a', 'b', 'c'}}, {11, {}}};
  EXPECT_EQ(c.frames, frames);
}

TEST(TcpStream, PackingInPlaceMatchesPackingAFrame) {
  const std::vector<Frame> frames = {{20, body_of(4102, 1)}, {17, body_of(203, 2)}, {9, {}}};
  const std::vector<uint8_t> expected = pack_stream(frames, 321, 7);
  DataOutPacking out(321);
  std::vector<uint8_t> got;
  for (size_t i = 0; i < frames.size(); ++i) {
    const Frame& f = frames[i];
    const uint32_t header = uint32_t((7 + i) % 17);  // as pack_stream chooses them
    // The body in two parts, as a block frame's head and its data.
    const size_t split = std::min<size_t>(6, f.body.size());
    const uint8_t* rest = f.body.data() + split;
    const size_t n = out.packed_size(header, f.body.size());
    std::vector<uint8_t> room(n + 3, 0xEE);
    EXPECT_EQ(out.pack_into(room.data(), n - 1, f.command, header, f.body.data(), split, rest, f.body.size() - split),
              0u);  // too small: nothing written, the cipher untouched
    ASSERT_EQ(out.pack_into(room.data(), room.size(), f.command, header, f.body.data(), split, rest,
                            f.body.size() - split),
              n);
    EXPECT_EQ(room[n], 0xEE);
    got.insert(got.end(), room.begin(), room.begin() + long(n));
  }
  EXPECT_EQ(got, expected);
  Collector in;
  ASSERT_EQ(in.unpack(got.data(), got.size()), 0);
  EXPECT_EQ(in.frames, frames);
}
