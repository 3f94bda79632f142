// Request bodies byte for byte, and reply reads on short, exact and lying replies.
#include "ui/client/codec/control_codec.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::vector<uint8_t> Le16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }

void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutText(std::vector<uint8_t>& b, size_t at, std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    b[at + 2 * i] = static_cast<uint8_t>(text[i]);
    b[at + 2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
}

std::u16string TextAt(const std::vector<uint8_t>& b, size_t at, size_t units) {
  std::u16string s;
  for (size_t i = 0; i < units; ++i) s.push_back(static_cast<char16_t>(b[at + 2 * i] | (b[at + 2 * i + 1] << 8)));
  return s;
}

std::vector<uint8_t> Reply(uint16_t status, size_t size) {
  std::vector<uint8_t> b(size, 0);
  if (size >= 2) {
    b[0] = static_cast<uint8_t>(status);
    b[1] = static_cast<uint8_t>(status >> 8);
  }
  return b;
}

TEST(RequestBuilder, FieldsAndTruncation) {
  std::u16string longPath(300, u'p');
  std::u16string longName(70, u'n');
  struct Row {
    const char* name;
    std::vector<uint8_t> bytes;
    size_t size;
    size_t textAt;     // where a text field starts, 0 for none
    size_t textUnits;  // units of text expected, then a zero unit
    char16_t first, last;
  } rows[] = {
      {"code only", RequestBuilder(ControlCommand::DirList).Bytes(), 2, 0, 0, 0, 0},
      {"short path", RequestBuilder(ControlCommand::AddDir).Path(u"C:\\v").Bytes(), 522, 2, 4, u'C', u'v'},
      {"300-unit path keeps 259", RequestBuilder(ControlCommand::DelDir).Path(longPath).Bytes(), 522, 2, 259, u'p', u'p'},
      {"70-unit name keeps 63", RequestBuilder(ControlCommand::SetFtpAccount).Name(longName).Name(u"pw").Bytes(), 258, 2, 63,
       u'n', u'n'},
      {"ftp setting", BuildFtpSettingRequest(2, u"ftp.example", 2121), 136, 6, 11, u'f', u'e'},
      {"u32 speed", RequestBuilder(ControlCommand::SetP2pMaxUpSpeed).U32(0x01020304).Bytes(), 6, 0, 0, 0, 0},
      {"u16 port", RequestBuilder(ControlCommand::SetP2pPort).U16(8001).Bytes(), 4, 0, 0, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(row.bytes.size(), row.size);
    if (row.textAt != 0) {
      EXPECT_EQ(TextAt(row.bytes, row.textAt, 1), std::u16string(1, row.first));
      EXPECT_EQ(TextAt(row.bytes, row.textAt + 2 * (row.textUnits - 1), 1), std::u16string(1, row.last));
      EXPECT_EQ(TextAt(row.bytes, row.textAt + 2 * row.textUnits, 1), std::u16string(1, u'\0'));
    }
  }
  // Spot values of the numeric fields.
  std::vector<uint8_t> ftp = BuildFtpSettingRequest(2, u"ftp.example", 2121);
  EXPECT_EQ(std::vector<uint8_t>(ftp.begin(), ftp.begin() + 6), (std::vector<uint8_t>{68, 0, 2, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(ftp.begin() + 134, ftp.end()), Le16(2121));
  std::vector<uint8_t> speed = RequestBuilder(ControlCommand::SetP2pMaxUpSpeed).U32(0x01020304).Bytes();
  EXPECT_EQ(speed, (std::vector<uint8_t>{114, 0, 4, 3, 2, 1}));
  std::vector<uint8_t> name = RequestBuilder(ControlCommand::SetFtpAccount).Name(longName).Name(u"pw").Bytes();
  EXPECT_EQ(TextAt(name, 130, 3), (std::u16string{u'p', u'w', 0}));
}

TEST(BuildExportRequest, LayoutAndLimits) {
  std::u16string fullPath(260, u'd');
  ExportParams p;
  p.linkKind = 1;
  p.naming = 2;
  p.sort = 3;
  p.rangeStart = 0x1122334455667788ull;
  p.rangeEnd = 0x99;
  p.keyword = u"mkv";
  p.path = fullPath;
  std::vector<uint8_t> b = BuildExportRequest(p);
  ASSERT_EQ(b.size(), 2u + 1068u);
  EXPECT_EQ(b[0], 49);
  EXPECT_EQ(b[2], 1);
  EXPECT_EQ(b[6], 2);
  EXPECT_EQ(b[10], 3);
  EXPECT_EQ(b[14], 0x88);
  EXPECT_EQ(b[21], 0x11);
  EXPECT_EQ(b[22], 0x99);
  EXPECT_EQ(TextAt(b, 30, 4), (std::u16string{u'm', u'k', u'v', 0}));
  // Command 49's text fields take all 260 units.
  EXPECT_EQ(TextAt(b, 550, 260), fullPath);

  ExportParams none;
  none.path = u"x";
  std::vector<uint8_t> empty = BuildExportRequest(none);
  EXPECT_EQ(TextAt(empty, 30, 260), std::u16string(260, u'\0'));
}

TEST(ReplyReader, BoundedFields) {
  struct Row {
    const char* name;
    size_t size;
    uint16_t status;
    uint32_t u32At2;
  } rows[] = {
      {"empty body", 0, 0, 0},
      {"one byte", 1, 0, 0},
      {"status only", 2, 200, 0},
      {"five bytes", 5, 200, 0},
      {"status and u32", 6, 200, 7},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> b = Reply(200, row.size);
    if (row.size >= 6) PutU32(b, 2, 7);
    ReplyReader r(b.data(), b.size());
    EXPECT_EQ(r.Status(), row.status);
    EXPECT_EQ(r.U32(2), row.u32At2);
  }
  ReplyReader none(nullptr, 50);
  EXPECT_EQ(none.Size(), 0u);
  EXPECT_EQ(none.Status(), 0);
}

TEST(ReplyReader, TextStopsAtZeroAndAtItsBound) {
  std::vector<uint8_t> b = Reply(200, 130);
  PutText(b, 2, std::u16string(64, u'x'));  // a full field, no terminating zero
  ReplyReader full(b.data(), b.size());
  EXPECT_EQ(full.Text(2, 64), std::u16string(64, u'x'));

  PutText(b, 2, u"ab");
  b[6] = b[7] = 0;
  ReplyReader shortText(b.data(), b.size());
  EXPECT_EQ(shortText.Text(2, 64), u"ab");

  ReplyReader cut(b.data(), 129);  // the field is not whole: read as empty
  EXPECT_EQ(cut.Text(2, 64), u"");
}

TEST(PackedText, EndsAtItsZeroOrItsFieldAtAnyAlignment) {
  // A file record's name sits at an odd offset; a full field has no zero.
  std::vector<uint8_t> b(1 + 2 * 6 + 4, 0xEE);
  struct Row {
    const char* name;
    std::u16string stored;  // followed by a zero unit when shorter than the field
    std::u16string read;
  } rows[] = {
      {"empty", u"", u""},
      {"short", u"ab", u"ab"},
      {"chinese", u"\u8282\u76ee", u"\u8282\u76ee"},
      {"unterminated full field", u"abcdef", u"abcdef"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::fill(b.begin(), b.end(), 0xEE);  // what lies past the field must never be read
    PutText(b, 1, row.stored);
    if (row.stored.size() < 6) b[1 + 2 * row.stored.size()] = b[2 + 2 * row.stored.size()] = 0;
    EXPECT_EQ(PackedText(b.data() + 1, 6), row.read);
    EXPECT_EQ(PackedTextLength(b.data() + 1, 6), row.read.size());
  }
}

TEST(ReadRecordList, CountIsBelievedOnlyAsFarAsTheBytesReach) {
  struct Row {
    const char* name;
    uint32_t count;
    size_t records;      // whole records present
    size_t extraBytes;   // a partial record after them
    size_t expected;
  } rows[] = {
      {"count matches", 3, 3, 0, 3},
      {"count zero", 0, 0, 0, 0},
      {"fewer bytes than promised", 5, 2, 0, 2},
      {"partial last record dropped", 3, 2, 100, 2},
      {"count smaller than bytes", 1, 3, 0, 1},
      {"huge count on a short reply", 0xFFFFFFFFu, 1, 0, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> b = Reply(200, 6 + row.records * sizeof(CPublishDir) + row.extraBytes);
    PutU32(b, 2, row.count);
    for (size_t i = 0; i < row.records; ++i) b[6 + i * sizeof(CPublishDir) + 16] = static_cast<uint8_t>('A' + i);
    std::vector<CPublishDir> list;
    uint32_t promised = 0;
    size_t got = ReadRecordList(ReplyReader(b.data(), b.size()), list, &promised);
    EXPECT_EQ(got, row.expected);
    EXPECT_EQ(list.size(), row.expected);
    EXPECT_EQ(promised, row.count);
    for (size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list[i].path[0], static_cast<char16_t>('A' + i));
  }
  // Records are appended to what the caller's list holds.
  std::vector<uint8_t> b = Reply(200, 6 + sizeof(CPublishItem));
  PutU32(b, 2, 1);
  std::vector<CPublishItem> files(2);
  ReadRecordList(ReplyReader(b.data(), b.size()), files);
  EXPECT_EQ(files.size(), 3u);
}

TEST(ReadFtpAccount, FieldsAndEntries) {
  struct Row {
    const char* name;
    size_t size;
    uint32_t count;
    const char16_t* user;
    const char16_t* password;
    size_t entries;
  } rows[] = {
      {"status only", 2, 0, u"", u"", 0},
      {"user only", 130, 0, u"ftpuser", u"", 0},
      {"no count", 258, 0, u"ftpuser", u"ABCD", 0},
      {"two entries", 262 + 2 * 1044, 2, u"ftpuser", u"ABCD", 2},
      {"count beyond bytes", 262 + 1044 + 10, 1000000, u"ftpuser", u"ABCD", 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> b = Reply(200, row.size);
    if (row.size >= 130) PutText(b, 2, u"ftpuser");
    if (row.size >= 258) PutText(b, 130, u"ABCD");
    if (row.size >= 262) PutU32(b, 258, row.count);
    for (size_t i = 0; 262 + (i + 1) * 1044 <= row.size; ++i) {
      PutText(b, 262 + i * 1044, u"D:\\share");
      PutU32(b, 262 + i * 1044 + 1040, static_cast<uint32_t>(i));
    }
    FtpAccountReply out;
    ReadFtpAccount(ReplyReader(b.data(), b.size()), out);
    EXPECT_EQ(out.user, row.user);
    EXPECT_EQ(out.password, row.password);
    EXPECT_EQ(out.promised, row.count);
    ASSERT_EQ(out.dirs.size(), row.entries);
    for (size_t i = 0; i < out.dirs.size(); ++i) {
      EXPECT_EQ(FixedText(out.dirs[i].first, 260), u"D:\\share");
      EXPECT_EQ(out.dirs[i].isHome, i);
    }
  }
}

TEST(ReadExportText, UnitsBoundedByTheReply) {
  struct Row {
    const char* name;
    uint32_t count;
    size_t unitsPresent;
    bool taken;
    size_t expected;
  } rows[] = {
      {"exact", 5, 5, true, 5},
      {"zero count keeps the caller's text", 0, 3, false, 0},
      {"promises more than sent", 100, 4, true, 4},
      {"count but no units", 7, 0, true, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> b = Reply(200, 6 + 2 * row.unitsPresent);
    PutU32(b, 2, row.count);
    PutText(b, 6, std::u16string(row.unitsPresent, u'L'));
    std::u16string text = u"before";
    EXPECT_EQ(ReadExportText(ReplyReader(b.data(), b.size()), text), row.taken);
    EXPECT_EQ(text, row.taken ? std::u16string(row.expected, u'L') : u"before");
  }
}

}  // namespace
