// The link export dialog and the Notepad hand-over in process: the dialog's
// start from the kept settings, the request it leads to (kind, naming, sort,
// whole-day range, keyword), the reversed range, cancelling, the export of
// selected files, a second export replacing the open window's text, and the
// copy's message waiting for a Notepad just started without holding the thread.
#include <cstring>
#include <fstream>

#include "foundation/util/code_pages.h"
#include "foundation/util/desktop_ops.h"
#include "platform/wtl/module.h"
#include "ui/publishing_tab/export_links.h"
#include "ui/publishing_tab/tests/pages_fixture.h"
#include "ui/client_settings/ui_config.h"

namespace {

const std::wstring kDir = L"D:\\Video\\New";

struct ExportFields {
  uint32_t kind, naming, sort;
  uint64_t start, end;
  std::wstring keyword, path;
};

ExportFields Parse(const std::vector<uint8_t>& r) {
  ExportFields f{};
  if (r.size() != 2 + 1068) return f;
  std::memcpy(&f.kind, &r[2], 4);
  std::memcpy(&f.naming, &r[6], 4);
  std::memcpy(&f.sort, &r[10], 4);
  std::memcpy(&f.start, &r[14], 8);
  std::memcpy(&f.end, &r[22], 8);
  f.keyword = PathOf(r, 30);
  f.path = PathOf(r, 550);
  return f;
}

uint64_t Ticks(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD millis) {
  SYSTEMTIME st{year, month, 0, day, hour, minute, second, millis};
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

void SetDate(HWND dialog, int id, WORD year, WORD month, WORD day) {
  SYSTEMTIME st{year, month, 0, day, 10, 30, 0, 0};
  SendDlgItemMessageW(dialog, id, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st));
}

// A window that looks like the export window: a top-level "Notepad" titled
// with the export file's name, with an edit inside.
class FakeNotepad {
 public:
  FakeNotepad() {
    WNDCLASSW cls{};
    cls.lpfnWndProc = DefWindowProcW;
    cls.hInstance = wtl::ModuleInstance();
    cls.lpszClassName = L"Notepad";
    RegisterClassW(&cls);
    window_ = CreateWindowExW(0, L"Notepad", L"Orchard-Export URL - Notepad", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50,
                              400, 300, nullptr, nullptr, wtl::ModuleInstance(), nullptr);
    edit_ = CreateWindowExW(0, L"EDIT", L"old text", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 0, 0, 380, 260, window_,
                            nullptr, wtl::ModuleInstance(), nullptr);
  }
  ~FakeNotepad() { DestroyWindow(window_); }
  HWND Window() const { return window_; }
  std::wstring Text() const {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(edit_)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(edit_, text.data(), static_cast<int>(text.size()))));
    return text;
  }

 private:
  HWND window_ = nullptr;
  HWND edit_ = nullptr;
};

// Closes the Notepad windows that show exported links, and waits until they are gone.
void CloseExportWindows() {
  for (int tries = 0; tries < 40 && FindExportWindow() != nullptr; ++tries) {
    PostMessageW(FindExportWindow(), WM_CLOSE, 0, 0);
    Sleep(250);
  }
}

class ExportTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    saved_ = Config();
    Config() = UiConfig();
  }
  void TearDown() override {
    Config() = saved_;
    DeleteFileW(UiConfigPath().c_str());  // the dialog saves the settings beside the test program
    PageTest::TearDown();
  }
  // The tree's "export links" entry on the one directory.
  void ExportFromTree() {
    RECT r{};
    HTREEITEM item = TreeItem(L"[D]New");
    std::memcpy(&r, &item, sizeof item);  // TVM_GETITEMRECT takes the item in the rectangle
    SendMessageW(TreeControl(), TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r));
    POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClientToScreen(TreeControl(), &p);
    Menus().choose = ID_DIR_EXPORT;
    SendMessageW(Tree().Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(TreeControl()), MAKELPARAM(p.x, p.y));
  }
  UiConfig saved_;
};

TEST_F(ExportTest, DialogStartsFromTheKeptSettings) {
  std::vector<CPublishDir> dirs = {DirRecord(kDir)};
  CreatePage(&dirs);
  struct Row {
    int urlFmt, nameFmt, sort;
    int kindChecked, namingChecked;
    bool sortChecked;
  } rows[] = {{1, 0, 0, IDC_EXPORT_VXHD, IDC_EXPORT_BY_NAME, false}, {0, 1, 1, IDC_EXPORT_FTP, IDC_EXPORT_BY_PARENT, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.urlFmt);
    Config().urlFmt = row.urlFmt;
    Config().nameFmt = row.nameFmt;
    Config().sort = row.sort;
    Fake().requests.clear();
    std::vector<UINT> checked;
    std::vector<BOOL> enabled;
    ModalScript script({OnWindow(L"导出设置", [&](HWND d) {
      for (int id : {IDC_EXPORT_FTP, IDC_EXPORT_VXHD, IDC_EXPORT_BY_NAME, IDC_EXPORT_BY_PARENT, IDC_EXPORT_BY_TIME,
                     IDC_EXPORT_BY_KEYWORD, IDC_EXPORT_SORT}) {
        checked.push_back(IsDlgButtonChecked(d, id));
      }
      for (int id : {IDC_EXPORT_START, IDC_EXPORT_END, IDC_EXPORT_KEYWORD}) enabled.push_back(IsWindowEnabled(GetDlgItem(d, id)));
      Click(d, IDCANCEL);
    })});
    ExportFromTree();
    EXPECT_TRUE(script.Done());
    auto on = [](bool b) { return b ? UINT{BST_CHECKED} : UINT{BST_UNCHECKED}; };
    EXPECT_EQ(checked, (std::vector<UINT>{on(row.kindChecked == IDC_EXPORT_FTP), on(row.kindChecked == IDC_EXPORT_VXHD),
                                          on(row.namingChecked == IDC_EXPORT_BY_NAME),
                                          on(row.namingChecked == IDC_EXPORT_BY_PARENT), BST_UNCHECKED, BST_UNCHECKED,
                                          on(row.sortChecked)}));
    EXPECT_EQ(enabled, (std::vector<BOOL>{FALSE, FALSE, FALSE}));
    EXPECT_EQ(SentCodes(), std::vector<int>{});  // cancelled: nothing asked
  }
}

TEST_F(ExportTest, ChoicesMakeTheRequest) {
  std::vector<CPublishDir> dirs = {DirRecord(kDir)};
  const uint64_t dayStart = Ticks(2024, 2, 29, 0, 0, 0, 0), dayEnd = Ticks(2024, 2, 29, 23, 59, 59, 999);
  struct Row {
    const char* name;
    std::function<void(HWND)> choose;
    ExportFields expected;
    int urlFmt, nameFmt, sort;  // kept afterwards
  } rows[] = {
      {"vxhd, parent naming, sorted, one whole day",
       [](HWND d) {
         Click(d, IDC_EXPORT_VXHD);
         Click(d, IDC_EXPORT_BY_PARENT);
         CheckDlgButton(d, IDC_EXPORT_SORT, BST_CHECKED);
         Click(d, IDC_EXPORT_BY_TIME);
         SetDate(d, IDC_EXPORT_START, 2024, 2, 29);
         SetDate(d, IDC_EXPORT_END, 2024, 2, 29);
         Click(d, IDC_EXPORT_ONLY);
       },
       {1, 1, 1, dayStart, dayEnd, L"", kDir}, 1, 1, 1},
      {"ftp by name with a keyword",
       [](HWND d) {
         Click(d, IDC_EXPORT_FTP);
         Click(d, IDC_EXPORT_BY_NAME);
         Click(d, IDC_EXPORT_BY_KEYWORD);
         SetDlgItemTextW(d, IDC_EXPORT_KEYWORD, L"\u7b2c01\u96c6");
         Click(d, IDC_EXPORT_ONLY);
       },
       {0, 0, 0, 0, 0, L"\u7b2c01\u96c6", kDir}, 0, 0, 0},
      {"an empty keyword exports without one",
       [](HWND d) {
         Click(d, IDC_EXPORT_BY_KEYWORD);
         Click(d, IDC_EXPORT_COPY);
       },
       {1, 0, 0, 0, 0, L"", kDir}, 1, 0, 0},
      {"a range chosen, then the keyword: only the keyword counts",
       [](HWND d) {
         Click(d, IDC_EXPORT_BY_TIME);
         Click(d, IDC_EXPORT_BY_KEYWORD);
         SetDlgItemTextW(d, IDC_EXPORT_KEYWORD, L"New");
         PostMessageW(d, WM_COMMAND, IDOK, 0);  // Enter
       },
       {1, 0, 0, 0, 0, L"New", kDir}, 1, 0, 0},
  };
  FakeNotepad notepad;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Config() = UiConfig();
    CreatePage(&dirs);
    Fake().requests.clear();
    Fake().script = {{0, ExportReply(L"vxhd://1|00|a.avi\r\n")}};
    ModalScript script({OnWindow(L"导出设置", row.choose), OnWindow(L"OrchardUI", [](HWND box) {
                          PostMessageW(box, WM_COMMAND, IDOK, 0);  // "copied" after export and copy
                        })});
    ExportFromTree();
    ASSERT_EQ(SentCodes(), (std::vector<int>{49}));
    ExportFields got = Parse(Fake().requests[0]);
    EXPECT_EQ(got.kind, row.expected.kind);
    EXPECT_EQ(got.naming, row.expected.naming);
    EXPECT_EQ(got.sort, row.expected.sort);
    EXPECT_EQ(got.start, row.expected.start);
    EXPECT_EQ(got.end, row.expected.end);
    EXPECT_EQ(got.keyword, row.expected.keyword);
    EXPECT_EQ(got.path, row.expected.path);
    EXPECT_EQ(Config().urlFmt, row.urlFmt);
    EXPECT_EQ(Config().nameFmt, row.nameFmt);
    EXPECT_EQ(Config().sort, row.sort);
    EXPECT_EQ(notepad.Text(), L"vxhd://1|00|a.avi\r\n");  // the open export window got the links
    page_.reset();
  }
  // The whole last day: 23:59:59.999 is 86,399,999 ms after its start.
  EXPECT_EQ(dayEnd - dayStart, 86399999ull * 10000);
}

TEST_F(ExportTest, ReversedRangeStaysOpenAndCancelKeepsTheChoices) {
  std::vector<CPublishDir> dirs = {DirRecord(kDir)};
  CreatePage(&dirs);
  Fake().requests.clear();
  std::wstring message;
  bool stillOpen = false;
  ModalScript script({OnWindow(L"导出设置",
                               [](HWND d) {
                                 Click(d, IDC_EXPORT_FTP);
                                 Click(d, IDC_EXPORT_BY_TIME);
                                 SetDate(d, IDC_EXPORT_START, 2024, 3, 6);
                                 SetDate(d, IDC_EXPORT_END, 2024, 3, 5);
                                 PostMessageW(d, WM_COMMAND, IDC_EXPORT_ONLY, 0);
                               }),
                      OnWindow(L"OrchardUI",
                               [&](HWND box) {
                                 message = MessageBoxText(box);
                                 PostMessageW(box, WM_COMMAND, IDOK, 0);
                               }),
                      OnWindow(L"导出设置", [&](HWND d) {
                        stillOpen = true;
                        Click(d, IDCANCEL);
                      })});
  ExportFromTree();
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(message, L"选择的结束时间小于开始时间，请重新选择");
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(SentCodes(), std::vector<int>{});
  // Cancelled, yet the new link kind is kept, in memory and in the file.
  EXPECT_EQ(Config().urlFmt, 0);
  std::ifstream ini(WideToNarrow(UiConfigPath(), CP_ACP));
  std::string all((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
  EXPECT_NE(all.find("UrlFmt=0"), std::string::npos) << all;
}

TEST_F(ExportTest, SelectedFilesAreExportedOneByOne) {
  std::vector<CPublishDir> dirs = {DirRecord(kDir)};
  CreatePage(&dirs);
  ShowDirectory(L"[D]New", {FileRecord(kDir + L"\\a.avi", 1, 8), FileRecord(kDir + L"\\b.avi", 2, 8),
                            FileRecord(kDir + L"\\c.avi", 3, 8)});
  FakeNotepad notepad;
  ShowWindow(notepad.Window(), SW_MINIMIZE);
  struct Row {
    const char* name;
    std::vector<int> selected;
    std::vector<std::wstring> paths;
    std::wstring text;
  } rows[] = {
      {"two selected rows, in row order", {0, 2}, {kDir + L"\\c.avi", kDir + L"\\a.avi"}, L"C\r\nA\r\n"},
      {"nothing selected: the shown directory", {}, {kDir}, L"C\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fake().requests.clear();
    Fake().script = {{0, ExportReply(L"C\r\n")}, {0, ExportReply(L"A\r\n")}};
    SelectRows(row.selected);
    ModalScript script({OnWindow(L"导出设置", [](HWND d) { Click(d, IDC_EXPORT_ONLY); })});
    Click(Files().Handle(), IDC_FILES_EXPORT);
    std::vector<std::wstring> paths;
    for (const auto& r : Fake().requests) paths.push_back(Parse(r).path);
    EXPECT_EQ(paths, row.paths);
    EXPECT_EQ(notepad.Text(), row.text);
    EXPECT_FALSE(IsIconic(notepad.Window()));  // a minimised export window is restored
    EXPECT_EQ(wtl::CListView(List()).SelectedCount(), 0);
  }
}

TEST_F(ExportTest, CopyPutsTheLinksOnTheClipboardAndSaysSoOverTheExportWindow) {
  FakeNotepad notepad;
  std::wstring message;
  HWND owner = nullptr;
  ModalScript script({OnWindow(L"OrchardUI", [&](HWND box) {
    message = MessageBoxText(box);
    owner = GetWindow(box, GW_OWNER);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  })});
  ShowLinksInNotepad(L"vxhd://7|AB|\u7b2c01\u96c6.avi\r\n", true);
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(notepad.Text(), L"vxhd://7|AB|\u7b2c01\u96c6.avi\r\n");
  EXPECT_EQ(message, L"地址列表已经复制到剪贴版，可以直接粘贴");
  EXPECT_EQ(owner, notepad.Window());
  EXPECT_EQ(ClipboardText(), L"vxhd://7|AB|\u7b2c01\u96c6.avi\r\n");

  // An empty text shows nothing and leaves the window as it was.
  ShowLinksInNotepad(L"", true);
  EXPECT_EQ(notepad.Text(), L"vxhd://7|AB|\u7b2c01\u96c6.avi\r\n");
}

TEST_F(ExportTest, CopyWaitsForTheNotepadItStartsWithoutHoldingTheWindow) {
  // No export window yet: the export starts Notepad (Wine's own) on its file.
  CloseExportWindows();
  ASSERT_EQ(FindExportWindow(), nullptr);
  bool inCall = false, shownDuringCall = false;
  std::wstring message;
  HWND owner = nullptr;
  ModalScript script({OnWindow(L"OrchardUI", [&](HWND box) {
    shownDuringCall = inCall;
    message = MessageBoxText(box);
    owner = GetWindow(box, GW_OWNER);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  })});
  const std::wstring links = L"vxhd://9|CD|\u7b2c02\u96c6.avi\r\n";
  inCall = true;
  ShowLinksInNotepad(links, true);
  inCall = false;
  EXPECT_FALSE(shownDuringCall) << "the export waited for Notepad inside the call";
  EXPECT_EQ(ClipboardText(), links);  // at once, before Notepad shows
  // The thread's loop goes on; the message comes once Notepad's window is there, over it.
  const DWORD start = GetTickCount();
  while (!script.Done() && GetTickCount() - start < 30000) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  }
  HWND notepad = FindExportWindow();
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(message, L"地址列表已经复制到剪贴版，可以直接粘贴");
  EXPECT_NE(notepad, nullptr);
  EXPECT_EQ(owner, notepad);
  CloseExportWindows();
}

TEST(DayRange, FirstMillisecondToLastOfTheDays) {
  struct Row {
    const char* name;
    SYSTEMTIME first, last;
    bool ok;
    uint64_t length;  // end - start in 100 ns ticks
  } rows[] = {
      {"one day", {2024, 3, 0, 6, 15, 1, 2, 3}, {2024, 3, 0, 6, 9, 0, 0, 0}, true, 86399999ull * 10000},
      {"leap day to the next", {2024, 2, 0, 29, 0, 0, 0, 0}, {2024, 3, 0, 1, 0, 0, 0, 0}, true, (86400000ull + 86399999ull) * 10000},
      {"not a date", {2023, 2, 0, 30, 0, 0, 0, 0}, {2023, 3, 0, 1, 0, 0, 0, 0}, false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    uint64_t start = 0, end = 0;
    ASSERT_EQ(DayRange(row.first, row.last, &start, &end), row.ok);
    if (row.ok) {
      EXPECT_EQ(end - start, row.length);
      EXPECT_EQ(start % (86400ull * 10000000), 0u);  // midnight
    }
  }
}

}  // namespace
