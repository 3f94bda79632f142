// The directory tree in process against the scripted channel: its refresh
// (added once, only while visible, never removing), the views its items
// choose, its context menu and its add-directory flow.
#include <shlwapi.h>

#include <cstring>

#include "foundation/util/path_ops.h"
#include "ui/publishing_tab/tests/pages_fixture.h"

namespace {

const std::wstring kNew = L"D:\\Video\\New";
const std::wstring kSeason = L"E:\\\u8282\u76ee\\\u7b2c\u4e00\u5b63";  // E:\节目\第一季
const std::wstring kLong = L"Z:\\tmp\\a rather long folder name of a weekly programme";

std::vector<CPublishDir> ThreeDirs() { return {DirRecord(kNew), DirRecord(kSeason), DirRecord(kLong)}; }

// A point on an item's label, on the screen.
POINT LabelPoint(HWND tree, HTREEITEM item) {
  RECT r{};
  std::memcpy(&r, &item, sizeof item);  // TVM_GETITEMRECT takes the item in the rectangle
  SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r));
  POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  ClientToScreen(tree, &p);
  return p;
}

class TreeTest : public PageTest {
 protected:
  void RightClick(POINT screen) {
    SendMessageW(Tree().Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(TreeControl()),
                 MAKELPARAM(screen.x, screen.y));
  }
  std::wstring TempDir(const std::wstring& name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring dir = std::wstring(temp) + L"orchard_pages_" + std::to_wstring(GetCurrentProcessId()) + L"\\" + name;
    CreateDirectoryTree(dir.c_str());
    made_.push_back(dir);
    return dir;
  }
  void TearDown() override {
    for (const auto& dir : made_) RemoveDirectoryTree(dir.c_str());
    PageTest::TearDown();
  }
  std::vector<std::wstring> made_;
};

TEST_F(TreeTest, RefreshAddsEachDirectoryOnceAndOnlyWhileVisible) {
  std::vector<CPublishDir> dirs = ThreeDirs();
  dirs.push_back(DirRecord(kNew));  // listed twice: shown once
  CreatePage(&dirs);
  EXPECT_EQ(SentCodes(), (std::vector<int>{33}));  // the first refresh does not test visibility
  const std::vector<std::wstring> three = {L"[D]New", L"[E]\u7b2c\u4e00\u5b63",
                                           L"[Z]a rather long folder name of a weekly programme"};
  EXPECT_EQ(TreeTexts(), three);
  auto lines = NewLogLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Has 4 dir published"), lines.end());

  std::vector<std::wstring> four = three;
  four.push_back(L"[C]Later");
  struct Row {
    const char* name;
    int pageShow, hostShow;
    std::vector<FakeExchange> script;
    size_t requests;
    std::vector<std::wstring> texts;
  } rows[] = {
      {"a refused list changes nothing", SW_SHOW, SW_SHOW, {{0, StatusReply(502)}}, 1, three},
      {"a failed channel changes nothing", SW_SHOW, SW_SHOW, {{2, {}}}, 1, three},
      {"a hidden page sends nothing", SW_HIDE, SW_SHOW, {}, 0, three},
      {"a hidden window sends nothing", SW_SHOW, SW_HIDE, {}, 0, three},
      {"a new directory is added", SW_SHOW, SW_SHOW, {{0, DirListReply({DirRecord(L"C:\\Later"), DirRecord(kNew)})}}, 1, four},
      {"one no longer listed stays", SW_SHOW, SW_SHOW, {{0, DirListReply({DirRecord(kNew)})}}, 1, four},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fake().requests.clear();
    Fake().script.assign(row.script.begin(), row.script.end());
    ShowWindow(host_, row.hostShow);
    page_->Show(row.pageShow);
    TickTree();
    EXPECT_EQ(Fake().requests.size(), row.requests);
    EXPECT_EQ(TreeTexts(), row.texts);
  }
}

TEST_F(TreeTest, ItemsChooseTheFilePanesView) {
  std::vector<CPublishDir> dirs = ThreeDirs();
  CreatePage(&dirs);
  EXPECT_EQ(Files().Mode(), kViewDirectory);
  Fake().requests.clear();

  ShowDirectory(L"[D]New", {FileRecord(kNew + L"\\a.avi", 10, 8)});
  ASSERT_EQ(SentCodes(), (std::vector<int>{34}));
  EXPECT_EQ(PathOf(Fake().requests[0]), kNew);
  EXPECT_EQ(Files().DisplayedPath(), kNew);
  EXPECT_EQ(Files().TopDirectory(), kNew);
  EXPECT_EQ(Column(0), (std::vector<std::wstring>{L"a.avi"}));
  EXPECT_EQ(Headers(), (std::vector<std::wstring>{L"文件名称/180", L"文件大小/80", L"修改时间/160", L"发布状态/60",
                                                  L"发布时间/160"}));

  Fake().requests.clear();
  Fake().script = {{0, FileListReply({FileRecord(kNew + L"\\b.avi", 1, 1), FileRecord(kSeason + L"\\c.avi", 2, 5)})}};
  SelectTreeItem(Tree().UnpublishedRoot());
  EXPECT_EQ(SentCodes(), (std::vector<int>{35}));
  EXPECT_EQ(Files().Mode(), kViewUnpublished);
  EXPECT_EQ(page_->ViewMode(), kViewUnpublished);
  EXPECT_EQ(Headers(), (std::vector<std::wstring>{L"文件名称/180", L"文件大小/80", L"修改时间/80", L"发布状态/80",
                                                  L"文件路径/180"}));
  EXPECT_EQ(Column(4), (std::vector<std::wstring>{kSeason + L"\\c.avi", kNew + L"\\b.avi"}));
  EXPECT_EQ(Files().ItemText(IDC_FILES_PATH), L"未发布文件(2)");
  EXPECT_EQ(Files().ItemText(IDC_FILES_PUBLISH), L"发布所有文件");
  for (int id : {IDC_FILES_UP, IDC_FILES_CANCEL, IDC_FILES_EXPORT, IDC_FILES_FTP_LINK, IDC_FILES_P2P_COPY}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(IsWindowVisible(Files().Item(id)));
  }
  EXPECT_TRUE(IsWindowVisible(Files().Item(IDC_FILES_REFRESH)));

  Fake().requests.clear();
  SelectTreeItem(Tree().DirectoryRoot());
  EXPECT_EQ(Files().Mode(), kViewDirectory);
  EXPECT_EQ(Files().ItemText(IDC_FILES_PUBLISH), L"发布文件");
  EXPECT_TRUE(IsWindowVisible(Files().Item(IDC_FILES_UP)));
  EXPECT_EQ(wtl::CListView(List()).RowCount(), 0);
  TickFiles();  // no directory is shown after the unpublished view
  EXPECT_EQ(SentCodes(), std::vector<int>{});
}

TEST_F(TreeTest, ContextMenuOnlyOnADirectoryLabel) {
  std::vector<CPublishDir> dirs = ThreeDirs();
  CreatePage(&dirs);
  HTREEITEM season = TreeItem(L"[E]\u7b2c\u4e00\u5b63");
  RECT below{};
  GetClientRect(TreeControl(), &below);
  POINT empty{below.right / 2, below.bottom - 5};
  ClientToScreen(TreeControl(), &empty);
  struct Row {
    const char* name;
    POINT at;
    int shown;
  } rows[] = {
      {"a directory", LabelPoint(TreeControl(), season), 1},
      {"the directory root", LabelPoint(TreeControl(), Tree().DirectoryRoot()), 0},
      {"the unpublished root", LabelPoint(TreeControl(), Tree().UnpublishedRoot()), 0},
      {"empty space", empty, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Menus() = MenuRecord();
    RightClick(row.at);
    EXPECT_EQ(Menus().shown, row.shown);
  }
  RightClick(LabelPoint(TreeControl(), season));
  EXPECT_EQ(Menus().items, (std::vector<std::wstring>{L"2024 导出链接", L"-", L"2023 发布目录", L"2025 取消发布", L"-",
                                                      L"2027 删除目录", L"-", L"2030 设置为自动发布目录"}));
}

TEST_F(TreeTest, ContextMenuCommands) {
  std::vector<CPublishDir> dirs = ThreeDirs();
  CreatePage(&dirs);
  ShowDirectory(L"[D]New", {FileRecord(kNew + L"\\c.avi", 1, 1), FileRecord(kNew + L"\\b.avi", 1, 8),
                            FileRecord(kNew + L"\\a.avi", 1, 6)});
  HTREEITEM item = TreeItem(L"[D]New");

  // Publish directory: every listed file below 8; cancel: the selected rows, else every row.
  Fake().requests.clear();
  Menus().choose = ID_DIR_PUBLISH;
  RightClick(LabelPoint(TreeControl(), item));
  ASSERT_EQ(SentCodes(), (std::vector<int>{17, 17}));
  EXPECT_EQ(PathOf(Fake().requests[0]), kNew + L"\\c.avi");
  EXPECT_EQ(PathOf(Fake().requests[1]), kNew + L"\\a.avi");

  Fake().requests.clear();
  Menus().choose = ID_DIR_CANCEL;
  SelectRows({1});
  RightClick(LabelPoint(TreeControl(), item));
  ASSERT_EQ(SentCodes(), (std::vector<int>{18}));
  EXPECT_EQ(PathOf(Fake().requests[0]), kNew + L"\\b.avi");

  Fake().requests.clear();
  Menus().choose = ID_DIR_AUTO;
  RightClick(LabelPoint(TreeControl(), TreeItem(L"[E]\u7b2c\u4e00\u5b63")));
  ASSERT_EQ(SentCodes(), (std::vector<int>{5}));
  EXPECT_EQ(PathOf(Fake().requests[0]), kSeason);

  // Delete: command 4, and the item goes whatever the server answers.
  Fake().requests.clear();
  Fake().script = {{2, {}}};
  Menus().choose = ID_DIR_DELETE;
  RightClick(LabelPoint(TreeControl(), item));
  ASSERT_EQ(SentCodes(), (std::vector<int>{4}));
  EXPECT_EQ(PathOf(Fake().requests[0]), kNew);
  EXPECT_EQ(TreeTexts(), (std::vector<std::wstring>{L"[E]\u7b2c\u4e00\u5b63",
                                                    L"[Z]a rather long folder name of a weekly programme"}));
  EXPECT_EQ(Files().DisplayedPath(), L"");
  EXPECT_EQ(Files().ItemText(IDC_FILES_PATH), L"");
  EXPECT_EQ(wtl::CListView(List()).RowCount(), 0);
}

TEST_F(TreeTest, ClicksOnItemsShowTheirDirectory) {
  std::vector<CPublishDir> dirs = ThreeDirs();
  CreatePage(&dirs);
  struct Row {
    const char* name;
    UINT code;
    const wchar_t* item;
    std::vector<int> codes;
    const wchar_t* selected;  // the tree's selection afterwards
  } rows[] = {
      {"a right click selects the directory and shows it", NM_RCLICK, L"[E]\u7b2c\u4e00\u5b63", {34}, L"[E]\u7b2c\u4e00\u5b63"},
      {"a right click on a root only selects it", NM_RCLICK, L"目录管理", {}, L"目录管理"},
      {"a double click shows the directory", NM_DBLCLK, L"[D]New", {34}, L"目录管理"},
      {"the shown directory is not loaded again", NM_DBLCLK, L"[D]New", {}, L"目录管理"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fake().requests.clear();
    Fake().script = {{0, FileListReply({})}};
    // Where the mouse was when the click's message came.
    SetCursorPos(LabelPoint(TreeControl(), TreeItem(row.item)).x, LabelPoint(TreeControl(), TreeItem(row.item)).y);
    PostMessageW(host_, WM_NULL, 0, 0);
    Pump();
    NMHDR click{TreeControl(), IDC_INDEX_TREE, row.code};
    SendMessageW(Tree().Handle(), WM_NOTIFY, IDC_INDEX_TREE, reinterpret_cast<LPARAM>(&click));
    EXPECT_EQ(SentCodes(), row.codes);
    EXPECT_EQ(Tree().Tree().ItemText(Tree().Tree().Selected()), row.selected);
  }
  EXPECT_EQ(Files().DisplayedPath(), kNew);
}

TEST_F(TreeTest, AddDirectoryDialog) {
  std::vector<CPublishDir> dirs = ThreeDirs();
  const std::wstring folder = TempDir(L"\u8282\u76ee One");
  struct Row {
    const char* name;
    int radio;   // 0: leave the default
    int button;  // IDOK or IDCANCEL
    uint16_t status;
    std::vector<int> codes;
  } rows[] = {
      {"the default publishes everything: command 2", 0, IDOK, 200, {2, 33, 34}},
      {"only the directory: command 1", IDC_ADD_DIR_ONLY, IDOK, 200, {1, 33, 34}},
      {"refused: nothing follows", 0, IDOK, 403, {2}},
      {"cancelled: nothing is sent", IDC_ADD_ALL, IDCANCEL, 200, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fake().script.clear();
    CreatePage(&dirs);
    Fake().requests.clear();
    Fake().script = {{0, StatusReply(row.status)},
                     {0, DirListReply({DirRecord(kNew), DirRecord(folder)})},
                     {0, FileListReply({FileRecord(folder + L"\\x.avi", 5, 1)})}};
    bool okAtFirst = true, okForMissing = true, okForFolder = false;
    ModalScript script({OnWindow(L"发布新文件夹", [&](HWND d) {
      okAtFirst = IsWindowEnabled(GetDlgItem(d, IDOK)) != FALSE;
      SetDlgItemTextW(d, IDC_ADD_PATH, L"Z:\\no\\such\\folder");
      okForMissing = IsWindowEnabled(GetDlgItem(d, IDOK)) != FALSE;
      SetDlgItemTextW(d, IDC_ADD_PATH, folder.c_str());
      okForFolder = IsWindowEnabled(GetDlgItem(d, IDOK)) != FALSE;
      if (row.radio != 0) Click(d, row.radio);
      Click(d, row.button);
    })});
    Click(Tree().Handle(), IDC_INDEX_ADD);
    EXPECT_TRUE(script.Done());
    EXPECT_FALSE(okAtFirst);
    EXPECT_FALSE(okForMissing);
    EXPECT_TRUE(okForFolder);
    EXPECT_EQ(SentCodes(), row.codes);
    if (!row.codes.empty()) {
      EXPECT_EQ(PathOf(Fake().requests[0]), folder);
    }
    bool added = row.codes.size() == 3;
    EXPECT_EQ(TreeItem(L"[" + folder.substr(0, 1) + L"]\u8282\u76ee One") != nullptr, added);
    EXPECT_EQ(Files().DisplayedPath(), added ? folder : L"");
    page_.reset();
  }
}

TEST_F(TreeTest, BrowseStartsAtTheLastDirectory) {
  const std::wstring last = TempDir(L"last one");
  std::vector<CPublishDir> dirs = {DirRecord(kNew), DirRecord(last)};
  CreatePage(&dirs);
  std::wstring chosen;
  ModalScript script({OnWindow(L"发布新文件夹", [](HWND d) { PostMessageW(d, WM_COMMAND, IDC_ADD_BROWSE, 0); }),
                      [] {
                        // The folder picker: the dialog of this thread with a tree in it, once
                        // it has gone to the initial folder.
                        HWND picker = FindThreadDialogWith(WC_TREEVIEWW);
                        if (picker == nullptr) return false;
                        wtl::CTreeView folders(FindWindowExW(picker, nullptr, WC_TREEVIEWW, nullptr));
                        if (folders.ItemText(folders.Selected()) != L"last one") return false;
                        PostMessageW(picker, WM_COMMAND, IDOK, 0);
                        return true;
                      },
                      OnWindow(L"发布新文件夹", [&](HWND d) {
                        wchar_t text[MAX_PATH] = {};
                        GetDlgItemTextW(d, IDC_ADD_PATH, text, MAX_PATH);
                        chosen = text;
                        if (chosen.empty()) return;
                        Click(d, IDCANCEL);
                      })});
  Click(Tree().Handle(), IDC_INDEX_ADD);
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(lstrcmpiW(chosen.c_str(), last.c_str()), 0) << "picked " << std::string(chosen.begin(), chosen.end());
}

}  // namespace
