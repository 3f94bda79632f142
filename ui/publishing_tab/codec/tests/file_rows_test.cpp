// The file list's rows from file records: state texts and images, sort keys
// in both views, links, and texts that end with their field.
#include "ui/publishing_tab/codec/file_rows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ui/peer_lists/codec/column_sort.h"
#include "ui/res/resource.h"

namespace {

CPublishItem Record(std::u16string_view path, int64_t size = 0, uint8_t state = 1, int64_t modified = 0,
                    int64_t published = 0, uint32_t attributes = 0x20) {
  CPublishItem r;
  std::memset(&r, 0, sizeof r);
  r.attributes = attributes;
  r.fileSize = size;
  r.lastModTime = modified;
  r.pubTime = published;
  r.state = state;
  auto* name = reinterpret_cast<uint8_t*>(&r) + offsetof(CPublishItem, fileName);
  for (size_t i = 0; i < path.size() && i < kPathUnits; ++i) {
    name[2 * i] = static_cast<uint8_t>(path[i]);
    name[2 * i + 1] = static_cast<uint8_t>(path[i] >> 8);
  }
  return r;
}

std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

TEST(FileStateText, EveryState) {
  struct Row {
    uint8_t state;
    unsigned text;
  } rows[] = {
      {0, IDS_STATE_NOT_PUBLISHED}, {1, 0},  // state 1 shows nothing
      {2, IDS_STATE_CHANGED},       {3, IDS_STATE_NOT_PUBLISHED}, {5, IDS_STATE_NOT_PUBLISHED},
      {6, IDS_STATE_WAITING},       {7, IDS_STATE_PUBLISHING},    {8, IDS_STATE_PUBLISHED},
      {9, IDS_STATE_PUBLISHED},     {255, IDS_STATE_PUBLISHED},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.state);
    EXPECT_EQ(FileStateTextId(row.state), row.text);
  }
}

TEST(FileRowImage, ByStateAndKind) {
  struct Row {
    const char* name;
    uint8_t state;
    uint32_t attributes;
    int image;
  } rows[] = {
      {"new file", 1, 0x20, kImageFile},         {"new directory", 1, 0x10, kImageDirectory},
      {"cancelled file", 5, 0x20, kImageFile},    {"changed file", 2, 0x20, kImageChanged},
      {"published file", 8, 0x20, kImagePublished}, {"published directory", 8, 0x10, kImagePublished},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(FileRowImage(Record(u"D:\\v\\a", 0, row.state, 0, 0, row.attributes)), row.image);
  }
}

TEST(RecordPath, EndsWithItsField) {
  CPublishItem r = Record(std::u16string(kPathUnits, u'x'));
  std::memset(r.fid, 'y', sizeof r.fid);  // the bytes after the name are not text
  EXPECT_EQ(RecordPath(r), std::u16string(kPathUnits, u'x'));
  EXPECT_EQ(RecordPath(Record(u"D:\\\u8282\u76ee\\a.avi")), u"D:\\\u8282\u76ee\\a.avi");

  CPublishDir dir;
  std::memset(&dir, 'z', sizeof dir);  // no zero anywhere in the path field
  EXPECT_EQ(DirRecordPath(dir).size(), kPathUnits);
}

TEST(CompareFileRecords, EveryColumnInBothViews) {
  // Ties keep the reply order; sizes and times compare as unsigned numbers.
  const std::vector<CPublishItem> reply = {
      Record(u"D:\\v\\b.avi", 300, 8, 30, 5),
      Record(u"D:\\v\\a.avi", -1, 1, 10, 0),   // a size of -1 is the largest unsigned
      Record(u"D:\\v\\c.avi", 300, 6, 20, 9),
      Record(u"D:\\v\\B.avi", 5, 2, 20, 0),
  };
  struct Row {
    const char* name;
    int column, view, ascending;
    std::vector<int> order;
  } rows[] = {
      {"path descending", 0, kViewDirectory, 0, {2, 0, 1, 3}},
      {"path ascending", 0, kViewDirectory, 1, {3, 1, 0, 2}},
      {"size descending", 1, kViewDirectory, 0, {1, 0, 2, 3}},
      {"size ascending", 1, kViewDirectory, 1, {3, 0, 2, 1}},
      {"modified descending", 2, kViewDirectory, 0, {0, 2, 3, 1}},
      {"state ascending", 3, kViewDirectory, 1, {1, 3, 2, 0}},
      {"published time descending", 4, kViewDirectory, 0, {2, 0, 1, 3}},
      {"path column of view 2", 4, kViewUnpublished, 1, {3, 1, 0, 2}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::pair<CPublishItem, int>> items;
    for (size_t i = 0; i < reply.size(); ++i) items.push_back({reply[i], static_cast<int>(i)});
    SortRows(items, ColumnSort{row.column, row.ascending},
             [&](const auto& a, const auto& b, int column) { return CompareFileRecords(a.first, b.first, column, row.view); });
    std::vector<int> order;
    for (const auto& item : items) order.push_back(item.second);
    EXPECT_EQ(order, row.order);
  }
}

TEST(DirectoryItemText, DriveAndLastComponent) {
  struct Row {
    std::u16string path, text;
  } rows[] = {
      {u"D:\\Video\\New", u"[D]New"},
      {u"D:\\Video\\New\\", u"[D]New"},
      {u"E:\\\u8282\u76ee", u"[E]\u8282\u76ee"},
      {u"Z:\\tmp\\a long folder name", u"[Z]a long folder name"},
      {u"", u"[]"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.path));
    EXPECT_EQ(DirectoryItemText(row.path), row.text);
  }
}

TEST(FileLinks, P2pLinkAndFileId) {
  CPublishItem r = Record(u"D:\\Video\\Show\\a.avi", 1000000, 8);
  for (int i = 0; i < 16; ++i) r.fid[i] = static_cast<uint8_t>(0xA0 + i);
  EXPECT_EQ(FileP2pLink(r), u"vxhd://1000000|A0A1A2A3A4A5A6A7A8A9AAABACADAEAF|a.avi");
  EXPECT_EQ(FidText(r), u"A0A1A2A3A4A5A6A7A8A9AAABACADAEAF");
  std::memset(r.fid, 0, sizeof r.fid);
  EXPECT_EQ(FidText(r), u"");
}

TEST(FileLinks, FtpLinkFromTheCachedSettings) {
  FtpLinkSettings base;
  base.host = u"ftp.example";
  base.shares = {{u"D:\\Video", u"C:\\ftp\\5D41402A", 0}, {u"D:\\", u"", 1}};
  struct Row {
    const char* name;
    std::u16string user, password;
    uint32_t port;
    std::u16string path, link;
  } rows[] = {
      {"port 21 gives no port", u"", u"", 21, u"D:\\Video\\a.avi", u"ftp://ftp.example/5D41402A/a.avi"},
      {"other port", u"bob", u"pw", 2121, u"D:\\Video\\Show\\a.avi", u"ftp://bob:pw@ftp.example:2121/5D41402A/Show/a.avi"},
      {"password without user", u"", u"pw", 21, u"D:\\Video\\a.avi", u"ftp://anonymous:pw@ftp.example/5D41402A/a.avi"},
      {"user without password", u"bob", u"", 21, u"D:\\Video\\a.avi", u"ftp://bob@ftp.example/5D41402A/a.avi"},
      {"port 0 is no port", u"", u"", 0, u"D:\\Video\\a.avi", u"ftp://ftp.example/5D41402A/a.avi"},
      {"share matched without regard to case", u"", u"", 21, u"d:\\VIDEO\\a.avi", u"ftp://ftp.example/5D41402A/a.avi"},
      {"a longer name is another share", u"", u"", 21, u"D:\\Video2\\a.avi", u"ftp://ftp.example/Video2/a.avi"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FtpLinkSettings settings = base;
    settings.user = row.user;
    settings.password = row.password;
    settings.port = row.port;
    EXPECT_EQ(Narrow(FileFtpLink(row.path, settings)), Narrow(row.link));
  }
}

}  // namespace
