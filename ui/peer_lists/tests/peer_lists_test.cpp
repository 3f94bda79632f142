// The peer and upload lists in process against the scripted channel: loading
// at init and on ticks only while visible, what a refused or short reply
// leaves, the columns and cells, sorting by column clicks, and the context
// menu's copy and open-folder.
#include <memory>

#include "foundation/util/code_pages.h"
#include "foundation/util/desktop_ops.h"
#include "ui/peer_lists/codec/tests/peer_records.h"
#include "ui/peer_lists/tests/tab_page_fixture.h"
#include "ui/peer_lists/uploading_dlg.h"
#include "ui/peer_lists/user_dlg.h"

namespace {

PeerFields Peer(uint64_t id, const char* path, uint32_t speed, uint64_t sent) {
  PeerFields f;
  f.userId = id;
  f.address = {10, 0, 0, static_cast<uint8_t>(id % 200)};
  f.port = static_cast<uint16_t>(40000 + id % 1000);
  f.nat = 0x13;
  f.versionAddress = {1, 0, 3, 36};
  f.versionText = "Orchard P2P";
  f.fid = FidOf(static_cast<uint8_t>(id));
  f.path = path;
  f.speed = speed;
  f.sent = sent;
  f.transport = 1;
  f.reads = 10;
  f.cacheHits = 4;
  f.diskBytes = 2048;
  f.cacheBytes = 1024;
  return f;
}

std::vector<UserRecord> ThreePeers() {
  return {MakeUserRecord(Peer(7002, "D:\\Video\\a.avi", 1000, 5ULL << 30)),
          MakeUserRecord(Peer(7003, "D:\\Video\\b.mkv", 300, 2048)),
          MakeUserRecord(Peer(7001, "E:\\Shows\\c.mp4", 2000, 100))};
}

UploadFields Upload(uint8_t seed, const char* path, uint32_t speed, uint64_t size) {
  UploadFields f;
  f.fid = FidOf(seed);
  f.path = path;
  f.size = size;
  f.handshakes = seed;
  f.requests = 10u * seed;
  f.sent = size / 2;
  f.speed = speed;
  return f;
}

class UserListTest : public TabPageTest {
 protected:
  void Open(const std::vector<UserRecord>& records) {
    Fake().script.push_back({0, UserListReply(records)});
    page_ = std::make_unique<CUserDlg>();
    Place(*page_, {kUserListTimer});
    Fake().requests.clear();
  }
  void Tick() { SendMessageW(page_->Handle(), WM_TIMER, kUserListTimer, 0); }
  HWND List() { return page_->Item(IDC_USER_LIST); }
  void TearDown() override {
    page_.reset();
    TabPageTest::TearDown();
  }
  std::unique_ptr<CUserDlg> page_;
};

TEST_F(UserListTest, ColumnsAndCellsOfTheFirstLoad) {
  Open(ThreePeers());
  EXPECT_EQ(Headers(List()), (std::vector<std::wstring>{L"PeerID/180", L"IP地址/150", L"传输类型/80", L"版本/200",
                                                        L"文件标识/240", L"文件/240", L"发送速度/80", L"发送量/80",
                                                        L"请求数/80", L"缓存命中次数/100", L"缓存命中率/100",
                                                        L"磁盘读取/80", L"缓存读取/90", L"缓存利用率/90", L"NAT类型/80"}));
  EXPECT_EQ(SendMessageW(List(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0x10021);
  // Loaded at init and shown at once, by column 0 descending.
  EXPECT_EQ(Column(List(), 0), (std::vector<std::wstring>{L"7003 : 0", L"7002 : 0", L"7001 : 0"}));
  EXPECT_EQ(Cells(List())[1],
            (std::vector<std::wstring>{L"7002 : 0", L"10.0.0.2:40002", L"1", L"Orchard P2P(1.0.3.36:0)",
                                       L"5A6B7C8D9EAFC0D1E2F3041526374859", L"a.avi", L"0.98 KB", L"5.00 GB", L"10",
                                       L"4", L"40%", L"2048", L"1024", L"50%", L"19"}));
}

TEST_F(UserListTest, TicksLoadOnlyWhileVisible) {
  Open(ThreePeers());
  struct Row {
    const char* name;
    bool visible;
    FakeExchange reply;
    size_t requests;
    int rows;
  } rows[] = {
      {"visible", true, {0, UserListReply({ThreePeers()[0]})}, 1, 1},
      {"hidden pages send nothing", false, {0, UserListReply(ThreePeers())}, 0, 1},
      {"a reply promising more records than it holds shows what it holds", true,
       {0, UserListReply(ThreePeers(), 5)}, 1, 3},
      {"a count beyond every buffer", true, {0, UserListReply({ThreePeers()[1]}, 0xFFFFFFFF)}, 1, 1},
      {"502 while the core is not logged in: no row stays without its record", true, {0, StatusReply(502)}, 1, 0},
      {"loaded again", true, {0, UserListReply(ThreePeers())}, 1, 3},
      {"a channel failure", true, {2, {}}, 1, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    page_->Show(row.visible ? SW_SHOW : SW_HIDE);
    Fake().requests.clear();
    Fake().script = {row.reply};
    Tick();
    EXPECT_EQ(SentCodes(), std::vector<int>(row.requests, 97));
    EXPECT_EQ(wtl::CListView(List()).RowCount(), row.rows);
    EXPECT_EQ(page_->Records().size(), static_cast<size_t>(row.rows));
  }
}

TEST_F(UserListTest, ColumnClicksSortAndFlip) {
  Open(ThreePeers());
  struct Row {
    const char* name;
    int click;
    std::vector<std::wstring> ids;
  } rows[] = {
      {"start: column 0 descending", -1, {L"7003 : 0", L"7002 : 0", L"7001 : 0"}},
      {"first click on column 0: ascending", 0, {L"7001 : 0", L"7002 : 0", L"7003 : 0"}},
      {"by send speed, still ascending", 6, {L"7003 : 0", L"7002 : 0", L"7001 : 0"}},
      {"again: descending", 6, {L"7001 : 0", L"7002 : 0", L"7003 : 0"}},
      {"by bytes sent beyond 32 bits", 7, {L"7002 : 0", L"7003 : 0", L"7001 : 0"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.click >= 0) ClickColumn(List(), row.click);
    EXPECT_EQ(Column(List(), 0), row.ids);
  }
  // A reload sorts by the column and direction last chosen.
  Fake().script = {{0, UserListReply(ThreePeers())}};
  Tick();
  EXPECT_EQ(Column(List(), 0), rows[4].ids);
  EXPECT_EQ(page_->Sort().column, 7);
}

TEST_F(UserListTest, ContextMenuCopiesAndOpensOnlyExistingFolders) {
  Open(ThreePeers());
  RECT r{};
  GetWindowRect(List(), &r);
  struct Row {
    const char* name;
    std::vector<int> selected;
    POINT at;
    int shown;
  } rows[] = {
      {"nothing selected", {}, Inside(List()), 0},
      {"outside the list", {0}, POINT{r.left - 5, r.top - 5}, 0},
      {"a selected row", {0}, Inside(List()), 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Menus() = MenuRecord();
    SelectRows(List(), row.selected);
    RightClick(List(), row.at);
    EXPECT_EQ(Menus().shown, row.shown);
  }
  EXPECT_EQ(Menus().items, (std::vector<std::wstring>{L"3023 拷贝选中", L"3025 打开所在文件夹"}));

  // Copy: the first six cells of each selected row in row order, each with a blank after it.
  CopyTextToClipboard(page_->Handle(), L"before");
  Menus().choose = ID_LIST_COPY;
  SelectRows(List(), {2, 0});
  RightClick(List(), Inside(List()));
  EXPECT_EQ(ClipboardText(),
            L"7003 : 0 10.0.0.3:40003 1 Orchard P2P(1.0.3.36:0) 5B6C7D8E9FB0C1D2E3F405162738495A b.mkv \r\n"
            L"7001 : 0 10.0.0.1:40001 1 Orchard P2P(1.0.3.36:0) 596A7B8C9DAEBFD0E1F2031425364758 c.mp4 \r\n");

  // Open folder of the first selected row: a folder that is not there, or a
  // file where the folder should be, is named in a message and not opened.
  Menus().choose = ID_LIST_OPEN_FOLDER;
  struct Folder {
    std::string path;
    std::wstring message;
  } folders[] = {
      {"Z:\\no\\such\\folder\\x.avi", L"文件夹不存在：\r\nZ:\\no\\such\\folder"},
      {"C:\\windows\\notepad.exe\\x.avi", L"文件夹不存在：\r\nC:\\windows\\notepad.exe"},
  };
  for (const Folder& folder : folders) {
    SCOPED_TRACE(folder.path);
    Fake().script = {{0, UserListReply({MakeUserRecord(Peer(9, folder.path.c_str(), 1, 1))})}};
    Tick();
    SelectRows(List(), {0});
    RightClick(List(), Inside(List()));
    Pump();
    EXPECT_EQ(TakeMessages(), std::vector<std::wstring>{folder.message});
  }
}

class UploadListTest : public TabPageTest {
 protected:
  void Open(const FakeExchange& first) {
    Fake().script.push_back(first);
    page_ = std::make_unique<CUploadingDlg>();
    Place(*page_, {kUploadListTimer});
  }
  void Tick() { SendMessageW(page_->Handle(), WM_TIMER, kUploadListTimer, 0); }
  HWND List() { return page_->Item(IDC_UPLOAD_LIST); }
  std::wstring Count() { return page_->ItemText(IDC_UPLOAD_COUNT); }
  void TearDown() override {
    page_.reset();
    TabPageTest::TearDown();
  }
  std::unique_ptr<CUploadingDlg> page_;
};

// A Chinese file name as the core gives it: in the machine's ANSI code page.
const std::wstring kChineseName = L"\u7b2c01\u96c6.avi";
std::string AnsiPath(const std::wstring& path) { return WideToNarrow(path, CP_ACP); }
std::wstring ShownName() { return NarrowToWide(AnsiPath(kChineseName), CP_ACP); }

std::vector<UploadRecord> FourUploads() {
  const std::string chinese = AnsiPath(L"D:\\Video\\" + kChineseName);
  return {MakeUploadRecord(Upload(0x30, chinese.c_str(), 2048, 6ULL << 30)),
          MakeUploadRecord(Upload(0x10, "D:\\Video\\idle.mkv", 0, 1000)),  // not sending: never shown
          MakeUploadRecord(Upload(0x20, "E:\\Shows\\b.mkv", 512000, 1000)),
          MakeUploadRecord(Upload(0x40, "E:\\Shows\\c.mp4", 2048, 5000))};
}

TEST_F(UploadListTest, OnlyFilesBeingSentAndTheirCount) {
  Open({0, UploadListReply(FourUploads())});
  EXPECT_EQ(SentCodes(), std::vector<int>{98});
  EXPECT_EQ(Headers(List()), (std::vector<std::wstring>{L"文件标识/240", L"文件名称/260", L"文件大小/80", L"握手次数/80",
                                                        L"请求次数/80", L"发送量/80", L"发送速度/80"}));
  EXPECT_EQ(SendMessageW(List(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0x10061);
  EXPECT_EQ(GetWindowLongW(List(), GWL_STYLE) & LVS_SINGLESEL, 0);
  EXPECT_EQ(Count(), L"当前正在上传文件:3");
  EXPECT_EQ(Cells(List()), (std::vector<std::vector<std::wstring>>{
                               {L"405162738495A6B7C8D9EAFB0C1D2E3F", L"c.mp4", L"4.88 KB", L"64", L"640", L"2.44 KB",
                                L"2.00 KB"},
                               {L"30415263748596A7B8C9DAEBFC0D1E2F", ShownName(), L"6.00 GB", L"48", L"480",
                                L"3.00 GB", L"2.00 KB"},
                               {L"2031425364758697A8B9CADBECFD0E1F", L"b.mkv", L"0.98 KB", L"32", L"320", L"500 B",
                                L"500.00 KB"}}));
}

TEST_F(UploadListTest, TicksAndRefusals) {
  Open({0, StatusReply(502)});  // refused before the core logged in
  EXPECT_EQ(Count(), L"当前正在上传文件:0");
  struct Row {
    const char* name;
    bool visible;
    FakeExchange reply;
    size_t requests;
    int rows;
    const wchar_t* count;
  } rows[] = {
      {"loaded", true, {0, UploadListReply(FourUploads())}, 1, 3, L"当前正在上传文件:3"},
      {"hidden pages send nothing", false, {0, UploadListReply({})}, 0, 3, L"当前正在上传文件:3"},
      {"a refusal keeps the rows", true, {0, StatusReply(502)}, 1, 3, L"当前正在上传文件:3"},
      {"a channel failure keeps the rows", true, {2, {}}, 1, 3, L"当前正在上传文件:3"},
      {"a reply promising more than it holds", true, {0, UploadListReply({FourUploads()[0]}, 9)}, 1, 1,
       L"当前正在上传文件:1"},
      {"nothing uploading", true, {0, StatusReply(200)}, 1, 0, L"当前正在上传文件:0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    page_->Show(row.visible ? SW_SHOW : SW_HIDE);
    Fake().requests.clear();
    Fake().script = {row.reply};
    Tick();
    EXPECT_EQ(SentCodes(), std::vector<int>(row.requests, 98));
    EXPECT_EQ(wtl::CListView(List()).RowCount(), row.rows);
    EXPECT_EQ(Count(), row.count);
  }
}

TEST_F(UploadListTest, SortingKeepsTheServersOrderForTies) {
  Open({0, UploadListReply(FourUploads())});
  struct Row {
    const char* name;
    int click;
    std::vector<std::wstring> names;
  } rows[] = {
      {"start: by fid descending", -1, {L"c.mp4", ShownName(), L"b.mkv"}},
      {"by speed descending; equal speeds keep the reply's order", 6, {L"b.mkv", ShownName(), L"c.mp4"}},
      {"by speed ascending", 6, {ShownName(), L"c.mp4", L"b.mkv"}},
      {"by size beyond 32 bits, ascending", 2, {L"b.mkv", L"c.mp4", ShownName()}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.click >= 0) ClickColumn(List(), row.click);
    EXPECT_EQ(Column(List(), 1), row.names);
  }
}

TEST_F(UploadListTest, CopyTakesThreeColumns) {
  Open({0, UploadListReply(FourUploads())});
  Menus().choose = ID_LIST_COPY;
  SelectRows(List(), {0, 2});
  RightClick(List(), Inside(List()));
  EXPECT_EQ(ClipboardText(), L"405162738495A6B7C8D9EAFB0C1D2E3F c.mp4 4.88 KB \r\n"
                             L"2031425364758697A8B9CADBECFD0E1F b.mkv 0.98 KB \r\n");
  Menus().choose = ID_LIST_OPEN_FOLDER;
  SelectRows(List(), {2});
  RightClick(List(), Inside(List()));
  Pump();
  EXPECT_EQ(TakeMessages(), std::vector<std::wstring>{L"文件夹不存在：\r\nE:\\Shows"});
}

}  // namespace
