// The lookup reply: segments between "|", the body's last byte, empty
// segments, case, repeated names and ids of any length.
#include "server/http/codec/lookup_reply.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kFid = "0123456789abcdef0123456789ABCDEF";
const std::string kQid = "00112233445566778899aabbccddeeff00112233";
const std::string kCid = "FFEEDDCCBBAA99887766554433221100FFEEDDCC";

std::string Upper(std::string s) {
  for (char& c : s) c = char(toupper(static_cast<unsigned char>(c)));
  return s;
}

LookupReplyFields Parse(const std::string& body) {
  return ParseLookupReply(reinterpret_cast<const uint8_t*>(body.data()), body.size());
}

}  // namespace

TEST(LookupReply, Segments) {
  struct Row {
    const char* name;
    std::string body;
    std::string fid, qid, cid;
    uint64_t size;
  } rows[] = {
      {"every id, ended by a separator",
       "fid=" + kFid + "|qid=" + kQid + "|cid=" + kCid + "|size=73400320|", Upper(kFid), Upper(kQid), Upper(kCid),
       73400320},
      {"ended by a line break", "FID=" + kFid + "|QID=" + kQid + "|CID=" + kCid + "\n", Upper(kFid), Upper(kQid),
       Upper(kCid), 0},
      {"the last pair loses its last character", "QID=" + kQid + "|CID=" + kCid, "", Upper(kQid),
       Upper(kCid.substr(0, 39)), 0},
      {"no separator at all", "qid=" + kQid + "x", "", Upper(kQid), "", 0},
      {"later name wins", "qid=" + kQid + "|QID=" + kCid + "|", "", Upper(kCid), "", 0},
      {"name is the text before the first =", "cid=" + kCid + "|qid==" + kQid + "|", "", "=" + Upper(kQid),
       Upper(kCid), 0},
      {"an empty segment starts the next at its separator",
       "qid=" + kQid + "||cid=" + kCid + "|", "", Upper(kQid), "", 0},
      {"a leading separator does the same", "|qid=" + kQid + "|", "", "", "", 0},
      {"three separators: the middle one stands alone", "qid=" + kQid + "|||cid=" + kCid + "|", "", Upper(kQid),
       Upper(kCid), 0},
      {"no = anywhere", "nothing here|at all|", "", "", "", 0},
      {"empty body", "", "", "", "", 0},
      {"one byte", "|", "", "", "", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const LookupReplyFields f = Parse(r.body);
    EXPECT_EQ(f.fid, r.fid);
    EXPECT_EQ(f.qid, r.qid);
    EXPECT_EQ(f.cid, r.cid);
    EXPECT_EQ(f.size, r.size);
  }
}

TEST(LookupReply, IdsAreKeptWhateverTheirShape) {
  // The publish task, not the parser, decides that only two 40-digit ids
  // spare it the hashing; the texts come back upper-cased as they are.
  struct Row {
    const char* name;
    std::string body;
    std::string fid, qid, cid;
  } rows[] = {
      {"two short pairs", "fid=ab|qid=cd|", "AB", "CD", ""},
      {"40 hex digits", "CID=" + kCid + "|", "", "", Upper(kCid)},
      {"39 digits", "CID=" + kCid.substr(1) + "|", "", "", Upper(kCid.substr(1))},
      {"41 digits", "CID=" + kCid + "0|", "", "", Upper(kCid) + "0"},
      {"a letter past F", "cid=" + kCid.substr(1) + "g|", "", "", Upper(kCid.substr(1)) + "G"},
      {"a blank inside", "qid=a b|", "", "A B", ""},
      {"a carriage return at the end", "qid=" + kQid + "\r|", "", Upper(kQid) + "\r", ""},
      {"32 digits where 40 are due", "qid=" + kFid + "|", "", Upper(kFid), ""},
      {"an empty value", "fid=|", "", "", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const LookupReplyFields f = Parse(r.body);
    EXPECT_EQ(f.fid, r.fid);
    EXPECT_EQ(f.qid, r.qid);
    EXPECT_EQ(f.cid, r.cid);
  }
}

TEST(LookupReply, Sizes) {
  struct Row {
    const char* text;
    uint64_t size;
  } rows[] = {{"0", 0}, {"1", 1}, {"18446744073709551615", UINT64_MAX}, {"18446744073709551616", 0},
              {"12x", 0}, {"-1", 0}, {"", 0}, {" 5", 0}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(Parse(std::string("size=") + r.text + "|").size, r.size);
  }
}

TEST(LookupReply, NeverReadsOutsideTheBody) {
  // The buffer holds more than the length given: what lies past it is never read.
  const std::string buffer = "qid=" + kQid + "|cid=" + kCid + "|";
  const size_t cut = 4 + 40 + 1 + 4 + 20;
  const LookupReplyFields f = ParseLookupReply(reinterpret_cast<const uint8_t*>(buffer.data()), cut);
  EXPECT_EQ(f.qid, Upper(kQid));
  EXPECT_EQ(f.cid, Upper(kCid.substr(0, 19)));  // the last byte given is never part of a segment
  EXPECT_EQ(ParseLookupReply(nullptr, 10).qid, "");
}
