// The peer and upload lists' cells and sort keys from the P2P core's records:
// every column, ratios without a divisor, 64-bit counters, texts that end
// with their field, file names of double-byte paths, and the folder of a path.
#include "ui/peer_lists/codec/peer_rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/peer_lists/codec/column_sort.h"
#include "ui/peer_lists/codec/tests/peer_records.h"

namespace {

// A double-byte code page for the tests: a lead byte from 0x81 takes the next
// byte with it (which may be '\', as in GBK); every other byte is ASCII.
std::u16string TestDoubleByte(std::string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    auto lead = static_cast<uint8_t>(text[i]);
    if (lead >= 0x81 && i + 1 < text.size()) {
      out.push_back(static_cast<char16_t>(0x4E00 + ((lead - 0x81) << 8) + static_cast<uint8_t>(text[++i])));
    } else {
      out.push_back(lead);
    }
  }
  return out;
}
const NarrowCodePage kAnsi{TestDoubleByte, nullptr};

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::vector<std::string> UserCells(const UserRecord& r) {
  std::vector<std::string> cells;
  for (int c = 0; c < kUserColumns; ++c) cells.push_back(Narrow(UserCellText(r, c, kAnsi)));
  return cells;
}

std::vector<std::string> UploadCells(const UploadRecord& r) {
  std::vector<std::string> cells;
  for (int c = 0; c < kUploadColumns; ++c) cells.push_back(Narrow(UploadCellText(r, c, kAnsi)));
  return cells;
}

PeerFields SomePeer() {
  PeerFields f;
  f.userId = 7001;
  f.address = {192, 168, 1, 20};
  f.port = 51413;
  f.nat = 0x13;
  f.versionAddress = {1, 0, 3, 36};
  f.versionValue = 7;
  f.versionText = "peer-v2.exe";
  f.fid = FidOf(0x0A);
  f.path = "D:\\Video\\Show\\a.avi";
  f.sent = 3 * 1048576 + 777;
  f.speed = 262144;
  f.transport = 2;
  f.reads = 40;
  f.cacheHits = 30;
  f.diskBytes = 4000;
  f.cacheBytes = 1000;
  f.extra = 0;
  return f;
}

TEST(UserCells, EveryColumn) {
  EXPECT_EQ(UserCells(MakeUserRecord(SomePeer())),
            (std::vector<std::string>{"7001 : 0", "192.168.1.20:51413", "2", "peer-v2.exe(1.0.3.36:7)",
                                      "0A1B2C3D4E5F708192A3B4C5D6E7F809", "a.avi", "256.00 KB", "3.00 MB", "40", "30",
                                      "75%", "4000", "1000", "25%", "19"}));
}

TEST(UserCells, EdgesOfTheFields) {
  struct Row {
    const char* name;
    void (*change)(PeerFields&);
    int column;
    std::string expected;
  } rows[] = {
      {"no block reads: no hit rate", [](PeerFields& f) { f.reads = 0; }, 10, ""},
      {"no disk bytes: no use rate", [](PeerFields& f) { f.diskBytes = 0; }, 13, ""},
      {"a hit rate beyond 32 bits is printed whole",
       [](PeerFields& f) {
         f.reads = 1;
         f.cacheHits = 0xFFFFFFFF;
       },
       10, "429496729500%"},
      {"rates truncate", [](PeerFields& f) { f.cacheHits = 13; }, 10, "32%"},
      {"a user id beyond 32 bits", [](PeerFields& f) { f.userId = 0x1234567890ULL; }, 0, "78187493520 : 0"},
      {"the signed word after the id", [](PeerFields& f) { f.extra = -3; }, 0, "7001 : -3"},
      {"bytes sent beyond 4 GB", [](PeerFields& f) { f.sent = 5ULL << 30; }, 7, "5.00 GB"},
      {"a zero fid shows nothing", [](PeerFields& f) { f.fid = {}; }, 4, ""},
      {"the version text ends at 31 bytes",
       [](PeerFields& f) { f.versionText = std::string(40, 'v'); }, 3,
       std::string(31, 'v') + "(1.0.3.36:7)"},
      {"a path that fills its field ends with it",
       [](PeerFields& f) { f.path = "D:\\" + std::string(300, 'p'); }, 5, std::string(257, 'p')},
      {"a path without a folder is its own name", [](PeerFields& f) { f.path = "a.avi"; }, 5, "a.avi"},
      {"a trail byte that equals the separator stays in the name",
       [](PeerFields& f) { f.path = "D:\\Show\\\x95\\.avi"; }, 5, "?.avi"},
      {"counters shown as the core's signed words", [](PeerFields& f) { f.reads = 0x80000000u; }, 8, "-2147483648"},
      {"an unknown column", [](PeerFields&) {}, 15, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PeerFields f = SomePeer();
    row.change(f);
    EXPECT_EQ(Narrow(UserCellText(MakeUserRecord(f), row.column, kAnsi)), row.expected);
  }
}

TEST(UploadCells, EveryColumnAndTheSendingTest) {
  UploadFields f;
  f.fid = FidOf(0xA0);
  f.path = "E:\\Media\\Planet Earth II S01E01.mkv";
  f.size = 6ULL << 30;
  f.handshakes = 3;
  f.requests = 1200;
  f.sent = (5ULL << 30) + 1;
  f.speed = 1536000;
  UploadRecord r = MakeUploadRecord(f);
  EXPECT_EQ(UploadCells(r), (std::vector<std::string>{"A0B1C2D3E4F5061728394A5B6C7D8E9F",
                                                       "Planet Earth II S01E01.mkv", "6.00 GB", "3", "1200", "5.00 GB",
                                                       "1.46 MB"}));
  EXPECT_TRUE(IsUploading(r));
  f.speed = 0;
  EXPECT_FALSE(IsUploading(MakeUploadRecord(f)));
  f.path = std::string(300, 'n');  // no zero within its 255 bytes
  EXPECT_EQ(UploadCellText(MakeUploadRecord(f), 1, kAnsi).size(), 255u);
  EXPECT_EQ(UploadRecordPath(MakeUploadRecord(f)).size(), 255u);
}

TEST(UserSort, EveryColumnOrdersByItsKey) {
  struct Row {
    int column;
    void (*smaller)(PeerFields&);
    void (*larger)(PeerFields&);
  } rows[] = {
      {0, [](PeerFields& f) { f.userId = 0xFFFFFFFF; }, [](PeerFields& f) { f.userId = 0x100000000ULL; }},
      // The address text by code units: "192.168.1.100" before "192.168.1.20".
      {1, [](PeerFields& f) { f.address = {192, 168, 1, 100}; }, [](PeerFields& f) { f.address = {192, 168, 1, 20}; }},
      {2, [](PeerFields& f) { f.transport = 1; }, [](PeerFields& f) { f.transport = 200; }},
      {3, [](PeerFields& f) { f.versionText = "abc"; }, [](PeerFields& f) { f.versionText = "abd"; }},
      {3, [](PeerFields& f) { f.versionText = "ab"; }, [](PeerFields& f) { f.versionText = "abc"; }},
      {4, [](PeerFields& f) { f.fid = FidOf(0x01); }, [](PeerFields& f) { f.fid = FidOf(0xF0); }},
      {5, [](PeerFields& f) { f.path = "D:\\a.avi"; }, [](PeerFields& f) { f.path = "D:\\\xb0\xa1.avi"; }},
      {6, [](PeerFields& f) { f.speed = 1; }, [](PeerFields& f) { f.speed = 0x80000000u; }},
      {7, [](PeerFields& f) { f.sent = 0xFFFFFFFF; }, [](PeerFields& f) { f.sent = 1ULL << 63; }},
      {8, [](PeerFields& f) { f.reads = 2; }, [](PeerFields& f) { f.reads = 0x80000000u; }},
      {9, [](PeerFields& f) { f.cacheHits = 2; }, [](PeerFields& f) { f.cacheHits = 3; }},
      {10, [](PeerFields& f) { f.cacheHits = 1; }, [](PeerFields& f) { f.cacheHits = 39; }},
      // A row without a divisor orders after every ratio.
      {10, [](PeerFields& f) { f.cacheHits = 0xFFFFFFFF; }, [](PeerFields& f) { f.reads = 0; }},
      {11, [](PeerFields& f) { f.diskBytes = 1; }, [](PeerFields& f) { f.diskBytes = 2; }},
      {12, [](PeerFields& f) { f.cacheBytes = 1; }, [](PeerFields& f) { f.cacheBytes = 2; }},
      {13, [](PeerFields& f) { f.cacheBytes = 0; }, [](PeerFields& f) { f.diskBytes = 0; }},
      {14, [](PeerFields& f) { f.nat = 0x11; }, [](PeerFields& f) { f.nat = 0x24; }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.column);
    PeerFields a = SomePeer(), b = SomePeer();
    row.smaller(a);
    row.larger(b);
    const UserRecord ra = MakeUserRecord(a), rb = MakeUserRecord(b);
    EXPECT_EQ(CompareUserRecords(ra, rb, row.column), -1);
    EXPECT_EQ(CompareUserRecords(rb, ra, row.column), 1);
    EXPECT_EQ(CompareUserRecords(ra, ra, row.column), 0);
  }
  // Two rows without a divisor are equal, so ties keep the server's order.
  PeerFields a = SomePeer(), b = SomePeer();
  a.reads = b.reads = 0;
  a.cacheHits = 1;
  EXPECT_EQ(CompareUserRecords(MakeUserRecord(a), MakeUserRecord(b), 10), 0);
}

TEST(UploadSort, EveryColumnOrdersByItsKey) {
  struct Row {
    int column;
    void (*smaller)(UploadFields&);
    void (*larger)(UploadFields&);
  } rows[] = {
      {0, [](UploadFields& f) { f.fid = FidOf(0x7F); }, [](UploadFields& f) { f.fid = FidOf(0x80); }},
      {1, [](UploadFields& f) { f.path = "C:\\b.avi"; }, [](UploadFields& f) { f.path = "D:\\a.avi"; }},
      {2, [](UploadFields& f) { f.size = 0xFFFFFFFF; }, [](UploadFields& f) { f.size = 0x100000000ULL; }},
      {3, [](UploadFields& f) { f.handshakes = 1; }, [](UploadFields& f) { f.handshakes = 2; }},
      {4, [](UploadFields& f) { f.requests = 1; }, [](UploadFields& f) { f.requests = 2; }},
      {5, [](UploadFields& f) { f.sent = 0xFFFFFFFF; }, [](UploadFields& f) { f.sent = 1ULL << 63; }},
      {6, [](UploadFields& f) { f.speed = 1; }, [](UploadFields& f) { f.speed = 0x80000000u; }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.column);
    UploadFields a, b;
    row.smaller(a);
    row.larger(b);
    const UploadRecord ra = MakeUploadRecord(a), rb = MakeUploadRecord(b);
    EXPECT_EQ(CompareUploadRecords(ra, rb, row.column), -1);
    EXPECT_EQ(CompareUploadRecords(rb, ra, row.column), 1);
    EXPECT_EQ(CompareUploadRecords(ra, ra, row.column), 0);
  }
}

TEST(FolderOfAnsiPath, CutsAfterTheLastSeparator) {
  struct Row {
    std::string path;
    std::string folder;
  } rows[] = {
      {"D:\\Video\\Show\\a.avi", "D:\\Video\\Show"},
      {"D:\\a.avi", "D:\\"},  // the root keeps its separator
      {"\\a.avi", "\\"},
      {"\\\\server\\share\\a.avi", "\\\\server\\share"},
      {"a.avi", ""},
      {"", ""},
      {"D:\\Show\\\x95\\.avi", "D:\\Show"},  // a trail byte '\' is no separator
      {std::string("D:\\x\\a.avi\0D:\\y\\b.avi", 22), "D:\\x"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(Narrow(FolderOfAnsiPath(row.path, kAnsi)), row.folder);
  }
}

}  // namespace
