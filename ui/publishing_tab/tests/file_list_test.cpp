// The file list in process against the scripted channel: the cells of every
// column through LVN_GETDISPINFO, sorting by column clicks, the reload timer,
// publishing and cancelling by selection, the details and links of a file,
// moving between directories, and the context menu.
#include <shlwapi.h>

#include "foundation/util/desktop_ops.h"
#include "foundation/util/path_ops.h"
#include "ui/publishing_tab/tests/pages_fixture.h"
#include "ui/client_settings/settings_cache.h"

namespace {

const std::wstring kDir = L"D:\\Video\\New";

int64_t LocalTicks(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD millis) {
  SYSTEMTIME st{year, month, 0, day, hour, minute, second, millis};
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  return static_cast<int64_t>((uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime);
}

// A last-write time (UTC) that local time shows as the given moment.
int64_t UtcTicksShownAs(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD millis) {
  auto local = static_cast<uint64_t>(LocalTicks(year, month, day, hour, minute, second, millis));
  FILETIME in{static_cast<DWORD>(local), static_cast<DWORD>(local >> 32)}, out{};
  LocalFileTimeToFileTime(&in, &out);
  return static_cast<int64_t>((uint64_t{out.dwHighDateTime} << 32) | out.dwLowDateTime);
}

class FileListTest : public PageTest {
 protected:
  void ShowFiles(const std::vector<CPublishItem>& files, const std::wstring& dir = kDir) {
    std::vector<CPublishDir> dirs = {DirRecord(dir)};
    CreatePage(&dirs);
    ShowDirectory(L"[" + dir.substr(0, 1) + L"]" + dir.substr(dir.find_last_of(L'\\') + 1), files);
    Fake().requests.clear();
  }
  void Notify(UINT code, int row) {
    NMITEMACTIVATE click{};
    click.hdr = {List(), IDC_FILES_LIST, code};
    click.iItem = row;
    SendMessageW(Files().Handle(), WM_NOTIFY, IDC_FILES_LIST, reinterpret_cast<LPARAM>(&click));
  }
  void RightClick(POINT screen) {
    SendMessageW(Files().Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(List()), MAKELPARAM(screen.x, screen.y));
  }
  POINT InsideList() {
    RECT r{};
    GetWindowRect(List(), &r);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }
  std::vector<std::wstring> SentPaths() {
    std::vector<std::wstring> paths;
    for (const auto& r : Fake().requests) paths.push_back(PathOf(r));
    return paths;
  }
};

// Names are chosen so that the default order (path descending) is e, d, c, b, a.
std::vector<CPublishItem> FiveFiles() {
  return {FileRecord(kDir + L"\\a.avi", 300, 8), FileRecord(kDir + L"\\b.avi", 100, 2),
          FileRecord(kDir + L"\\c.avi", 300, 6), FileRecord(kDir + L"\\d.avi", 50, 8),
          FileRecord(kDir + L"\\e.avi", 200, 1)};
}

TEST_F(FileListTest, CellsOfEveryColumn) {
  const int64_t modified = UtcTicksShownAs(2024, 3, 5, 8, 9, 10, 11);
  const int64_t published = LocalTicks(2024, 3, 6, 12, 0, 0, 500);
  ShowFiles({FileRecord(kDir + L"\\\u7b2c01\u96c6.avi", 1536000, 8, modified, published),
             FileRecord(kDir + L"\\sub", 0, 1, modified, 0, FILE_ATTRIBUTE_DIRECTORY),
             FileRecord(kDir + L"\\f.mkv", 999, 6, modified, published), FileRecord(kDir + L"\\e.rm", 2048, 7, modified),
             FileRecord(kDir + L"\\d.wmv", 5, 2, modified), FileRecord(kDir + L"\\c.mp4", 5, 5, modified),
             FileRecord(kDir + L"\\b.flv", 5, 1, modified)});
  const std::wstring when = L"2024-03-05 08:09:10:011";  // the last-write time in local time
  const std::vector<std::vector<std::wstring>> expected = {
      {L"\u7b2c01\u96c6.avi", L"1.46 MB", when, L"已经发布", L"2024-03-06 12:00:00:500"},
      {L"sub", L"", L"", L"", L""},                  // a directory shows no size and no times
      {L"f.mkv", L"999 B", when, L"等待发布", L""},    // no publish time below state 8
      {L"e.rm", L"2.00 KB", when, L"正在发布", L""},
      {L"d.wmv", L"5 B", when, L"发布后，变化", L""},
      {L"c.mp4", L"5 B", when, L"未发布", L""},
      {L"b.flv", L"5 B", when, L"", L""},            // state 1 shows no state text
  };
  auto cells = Cells();
  ASSERT_EQ(cells.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(cells[i], expected[i]);
  }
  // The row images by state.
  for (auto [row, image] : {std::pair{0, kImagePublished}, {1, kImageDirectory}, {4, kImageChanged}, {6, kImageFile}}) {
    SCOPED_TRACE(row);
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    SendMessageW(List(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(item.iImage, image);
  }
}

TEST_F(FileListTest, ColumnClicksSortAndFlip) {
  ShowFiles(FiveFiles());
  struct Row {
    const char* name;
    int click;  // -1: none
    std::vector<std::wstring> names;
  } rows[] = {
      {"at first column 0 descending", -1, {L"e.avi", L"d.avi", L"c.avi", L"b.avi", L"a.avi"}},
      {"first click on column 0: ascending", 0, {L"a.avi", L"b.avi", L"c.avi", L"d.avi", L"e.avi"}},
      {"another column keeps the direction", 1, {L"d.avi", L"b.avi", L"e.avi", L"a.avi", L"c.avi"}},
      {"again on it reverses; ties keep the server's order", 1, {L"a.avi", L"c.avi", L"e.avi", L"b.avi", L"d.avi"}},
      {"by state descending", 3, {L"a.avi", L"d.avi", L"c.avi", L"b.avi", L"e.avi"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.click >= 0) ClickColumn(row.click);
    EXPECT_EQ(Column(0), row.names);
  }
  // Every reload sorts again by the column and direction last chosen.
  Fake().script = {{0, FileListReply(FiveFiles())}};
  TickFiles();
  EXPECT_EQ(Column(0), rows[4].names);
}

TEST_F(FileListTest, TimerReloadsOnlyWhileVisible) {
  ShowFiles(FiveFiles());
  struct Row {
    const char* name;
    int pageShow, hostShow;
    FakeExchange reply;
    size_t requests;
    int rows;
    const wchar_t* firstCell;
  } rows[] = {
      {"visible: reloads the shown directory", SW_SHOW, SW_SHOW, {0, FileListReply({FileRecord(kDir + L"\\x.avi", 1, 1)})}, 1, 1, L"x.avi"},
      {"another tab shown", SW_HIDE, SW_SHOW, {}, 0, 1, L"x.avi"},
      {"the window hidden to the tray", SW_SHOW, SW_HIDE, {}, 0, 1, L"x.avi"},
      {"a reply without a status keeps the rows", SW_SHOW, SW_SHOW, {0, {}}, 1, 1, L""},
      {"a failed channel empties the list", SW_SHOW, SW_SHOW, {2, {}}, 1, 0, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fake().requests.clear();
    Fake().script = {row.reply};
    ShowWindow(host_, row.hostShow);
    page_->Show(row.pageShow);
    TickFiles();
    ASSERT_EQ(Fake().requests.size(), row.requests);
    if (row.requests == 1) {
      EXPECT_EQ(CodeOf(Fake().requests[0]), 34);
      EXPECT_EQ(PathOf(Fake().requests[0]), kDir);
    }
    ShowWindow(host_, SW_SHOW);
    page_->Show(SW_SHOW);
    EXPECT_EQ(wtl::CListView(List()).RowCount(), row.rows);
    if (row.firstCell != nullptr) {
      EXPECT_EQ(wtl::CListView(List()).CellText(0, 0), row.firstCell);
    }
  }
}

TEST_F(FileListTest, PublishAndCancelBySelection) {
  ShowFiles(FiveFiles());  // rows: e(1) d(8) c(6) b(2) a(8)
  struct Row {
    const char* name;
    int button;
    std::vector<int> selected;
    std::vector<std::wstring> names;  // of the requests, in order
  } rows[] = {
      {"publish with nothing selected: every file below 8", IDC_FILES_PUBLISH, {}, {L"e.avi", L"c.avi", L"b.avi"}},
      {"publish the selected files below 8", IDC_FILES_PUBLISH, {1, 2}, {L"c.avi"}},
      {"cancel the selected rows", IDC_FILES_CANCEL, {0, 4}, {L"e.avi", L"a.avi"}},
      {"cancel with nothing selected: every row", IDC_FILES_CANCEL, {}, {L"e.avi", L"d.avi", L"c.avi", L"b.avi", L"a.avi"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fake().requests.clear();
    SelectRows(row.selected);
    Click(Files().Handle(), row.button);
    std::vector<std::wstring> expected;
    for (const auto& name : row.names) expected.push_back(kDir + L"\\" + name);
    EXPECT_EQ(SentPaths(), expected);
    for (int code : SentCodes()) {
      EXPECT_EQ(code, row.button == IDC_FILES_PUBLISH ? 17 : 18);
    }
    EXPECT_EQ(wtl::CListView(List()).SelectedCount(), 0);  // each handled row is deselected
  }
}

TEST_F(FileListTest, PublishAllFilesRequestsEachFileOnce) {
  std::vector<CPublishDir> dirs = {DirRecord(kDir)};
  CreatePage(&dirs);
  std::vector<CPublishItem> many;
  for (int i = 0; i < 400; ++i) many.push_back(FileRecord(kDir + L"\\f" + std::to_wstring(1000 + i) + L".avi", i, i % 3 == 0 ? 8 : 1));
  Fake().script = {{0, FileListReply(many)}};
  SelectTreeItem(Tree().UnpublishedRoot());
  SelectRows({0, 1, 2});
  Fake().requests.clear();
  Click(Files().Handle(), IDC_FILES_PUBLISH);
  std::vector<std::wstring> paths = SentPaths();
  std::vector<std::wstring> expected;
  for (int i = 399; i >= 0; --i) {  // the list's order: path descending
    if (i % 3 != 0) expected.push_back(kDir + L"\\f" + std::to_wstring(1000 + i) + L".avi");
  }
  EXPECT_EQ(paths.size(), 266u);  // not one pass per listed row
  EXPECT_EQ(paths, expected);
}

TEST_F(FileListTest, DetailsAndLinksOfAFile) {
  SettingsCache& cache = Cache();
  cache.ftpHost = L"ftp.example";
  cache.ftpPort = 2121;
  cache.ftpUser = L"bob";
  FtpShareDirEntry share{};
  const std::u16string local = u"D:\\Video", remote = u"C:\\ftp\\5D41402A";
  std::copy(local.begin(), local.end(), share.first);
  std::copy(remote.begin(), remote.end(), share.second);
  cache.ftpDirs = {share};
  ShowFiles({FileRecord(kDir + L"\\b.avi", 1000000, 8), FileRecord(kDir + L"\\a.avi", 7, 6)});
  const std::wstring fid = L"00112233445566778899AABBCCDDEEFF";
  struct Row {
    const char* name;
    UINT code;
    int row;
    std::wstring path, ftp, p2p, id;
  } rows[] = {
      {"a published file", NM_CLICK, 0, kDir + L"\\b.avi", L"ftp://bob@ftp.example:2121/5D41402A/New/b.avi",
       L"vxhd://1000000|" + fid + L"|b.avi", fid},
      {"a file not yet published has no links", NM_CLICK, 1, kDir + L"\\a.avi", L"", L"", L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Notify(row.code, row.row);
    EXPECT_EQ(Files().ItemText(IDC_FILES_PATH), row.path);
    EXPECT_EQ(Files().ItemText(IDC_FILES_FTP_LINK, 1024), row.ftp);
    EXPECT_EQ(Files().ItemText(IDC_FILES_P2P_LINK, 1024), row.p2p);
    EXPECT_EQ(Files().ItemText(IDC_FILES_FID), row.id);
  }

  // A single selected row shows its details too; copy puts a link on the clipboard.
  SelectRows({0});
  EXPECT_EQ(Files().ItemText(IDC_FILES_FID), fid);
  CopyTextToClipboard(nullptr, L"before");
  Click(Files().Handle(), IDC_FILES_P2P_COPY);
  EXPECT_EQ(ClipboardText(), L"vxhd://1000000|" + fid + L"|b.avi");
  Click(Files().Handle(), IDC_FILES_FTP_COPY);
  EXPECT_EQ(ClipboardText(), L"ftp://bob@ftp.example:2121/5D41402A/New/b.avi");

  // A password without a user name gives the anonymous account; no port from the server is port 21.
  cache.ftpUser.clear();
  cache.ftpPassword = L"pw";
  cache.ftpPort = 0;
  Notify(NM_CLICK, 0);
  EXPECT_EQ(Files().ItemText(IDC_FILES_FTP_LINK, 1024), L"ftp://anonymous:pw@ftp.example/5D41402A/New/b.avi");
  EXPECT_EQ(cache.ftpUser, L"anonymous");
}

TEST_F(FileListTest, UpAndDoubleClickStayUnderTheTopDirectory) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring top = std::wstring(temp) + L"orchard_files_" + std::to_wstring(GetCurrentProcessId()) + L"\\\u8282\u76ee";
  const std::wstring sub = top + L"\\\u7b2c\u4e00\u5b63";
  ASSERT_TRUE(CreateDirectoryTree(sub.c_str()));
  ShowFiles({FileRecord(top + L"\\\u7b2c\u4e00\u5b63", 0, 1, 0, 0, FILE_ATTRIBUTE_DIRECTORY), FileRecord(top + L"\\a.avi", 1, 1)},
            top);
  struct Row {
    const char* name;
    int button;      // 0: double-click row `row`
    int row;
    std::vector<std::wstring> loads;
  } rows[] = {
      {"a file row opens nothing", 0, 1, {}},
      {"a directory row opens it", 0, 0, {sub}},
      {"up returns to the top", IDC_FILES_UP, 0, {top}},
      {"and never above it", IDC_FILES_UP, 0, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fake().requests.clear();
    Fake().script = {{0, FileListReply({FileRecord(top + L"\\\u7b2c\u4e00\u5b63", 0, 1, 0, 0, FILE_ATTRIBUTE_DIRECTORY),
                                        FileRecord(top + L"\\a.avi", 1, 1)})}};
    if (row.button != 0) {
      Click(Files().Handle(), row.button);
    } else {
      Notify(NM_DBLCLK, row.row);
    }
    EXPECT_EQ(SentPaths(), row.loads);
  }
  RemoveDirectoryTree((std::wstring(temp) + L"orchard_files_" + std::to_wstring(GetCurrentProcessId())).c_str());
}

TEST_F(FileListTest, ContextMenuNeedsASelectionInsideTheList) {
  ShowFiles(FiveFiles());
  RECT r{};
  GetWindowRect(List(), &r);
  struct Row {
    const char* name;
    std::vector<int> selected;
    POINT at;
    int shown;
  } rows[] = {
      {"nothing selected", {}, InsideList(), 0},
      {"outside the list", {0}, POINT{r.left - 5, r.top - 5}, 0},
      {"a selected row", {0}, InsideList(), 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Menus() = MenuRecord();
    SelectRows(row.selected);
    RightClick(row.at);
    EXPECT_EQ(Menus().shown, row.shown);
  }
  EXPECT_EQ(Menus().items, (std::vector<std::wstring>{L"2023 发布文件", L"-", L"2025 取消发布", L"-", L"2024 导出链接地址",
                                                      L"-", L"2028 打开所在文件夹"}));

  // Publish from the menu acts on the selection.
  Fake().requests.clear();
  Menus().choose = ID_FILES_PUBLISH;
  SelectRows({0, 1});
  RightClick(InsideList());
  EXPECT_EQ(SentPaths(), (std::vector<std::wstring>{kDir + L"\\e.avi"}));

  // The shown directory does not exist here: the folder is not opened, a message names it.
  std::wstring message;
  Menus().choose = ID_FILES_OPEN_FOLDER;
  SelectRows({0});
  ModalScript script({OnWindow(L"OrchardUI", [&](HWND box) {
    message = MessageBoxText(box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  })});
  RightClick(InsideList());
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(message, L"文件夹不存在：\r\n" + kDir);

  // The unpublished view offers publishing only.
  Fake().script = {{0, FileListReply(FiveFiles())}};
  SelectTreeItem(Tree().UnpublishedRoot());
  Menus() = MenuRecord();
  SelectRows({0});
  RightClick(InsideList());
  EXPECT_EQ(Menus().items, (std::vector<std::wstring>{L"2023 发布文件"}));
}

TEST_F(FileListTest, ButtonsAndListFollowTheView) {
  ShowFiles(FiveFiles());
  RECT client{}, refresh{}, publish{}, list{};
  GetClientRect(Files().Handle(), &client);
  auto rectOf = [&](int id, RECT& r) {
    GetWindowRect(Files().Item(id), &r);
    MapWindowPoints(nullptr, Files().Handle(), reinterpret_cast<POINT*>(&r), 2);
  };
  rectOf(IDC_FILES_REFRESH, refresh);
  rectOf(IDC_FILES_LIST, list);
  EXPECT_EQ(refresh.top, 5);
  EXPECT_EQ(list.left, 2);
  EXPECT_EQ(list.top, 56);
  EXPECT_EQ(list.right, client.right - 2);
  EXPECT_EQ(list.bottom, client.bottom - 98);  // room for the link fields

  Fake().script = {{0, FileListReply({})}};
  SelectTreeItem(Tree().UnpublishedRoot());
  rectOf(IDC_FILES_PUBLISH, publish);
  rectOf(IDC_FILES_LIST, list);
  EXPECT_EQ(publish.left, 2);
  EXPECT_EQ(publish.right - publish.left, refresh.right - refresh.left + 16);
  EXPECT_EQ(list.bottom, client.bottom);  // the list reaches the bottom
  EXPECT_EQ(Files().ItemText(IDC_FILES_PATH), L"未发布文件(0)");
}

}  // namespace
