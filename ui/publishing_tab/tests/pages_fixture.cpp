// The publishing page's fixture: host window, reply builders, modal scripts.
#include "ui/publishing_tab/tests/pages_fixture.h"

#include <cstring>
#include <cwchar>
#include <map>

#include "foundation/text/record_id.h"
#include "foundation/util/wide_text.h"
#include "platform/wtl/menu.h"
#include "platform/wtl/module.h"
#include "ui/client/codec/control_codec.h"
#include "ui/layout/dialog_layout.h"
#include "ui/client_settings/settings_cache.h"

namespace {

void Append(std::vector<uint8_t>& out, const void* data, size_t n) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  out.insert(out.end(), bytes, bytes + n);
}

void PutPath(void* field, const std::wstring& path) {
  auto* bytes = static_cast<uint8_t*>(field);
  std::memset(bytes, 0, 2 * kPathUnits);
  for (size_t i = 0; i < path.size() && i < kPathUnits; ++i) {
    bytes[2 * i] = static_cast<uint8_t>(path[i]);
    bytes[2 * i + 1] = static_cast<uint8_t>(path[i] >> 8);
  }
}

std::map<UINT_PTR, ModalScript*>& Scripts() {
  static std::map<UINT_PTR, ModalScript*> scripts;
  return scripts;
}

struct WindowSearch {
  std::wstring caption;
  HWND found = nullptr;
};

BOOL CALLBACK MatchCaption(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  if (IsWindowVisible(window) && search->caption == text) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK CancelDialog(HWND window, LPARAM) {
  wchar_t cls[16] = {};
  GetClassNameW(window, cls, 16);
  if (IsWindowVisible(window) && IsWindowEnabled(window) && wcscmp(cls, L"#32770") == 0) {
    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  }
  return TRUE;
}

}  // namespace

MenuRecord& Menus() {
  static MenuRecord record;
  return record;
}

UINT RecordMenu(HMENU menu, POINT, HWND) {
  MenuRecord& record = Menus();
  ++record.shown;
  record.items.clear();
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    UINT id = GetMenuItemID(menu, i);
    wchar_t text[128] = {};
    GetMenuStringW(menu, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
    record.items.push_back(id == 0 ? std::wstring(L"-") : std::to_wstring(id) + L" " + text);
  }
  return record.choose;
}

int CodeOf(const std::vector<uint8_t>& request) { return request.size() >= 2 ? request[0] | (request[1] << 8) : -1; }

std::vector<int> SentCodes() {
  std::vector<int> codes;
  for (const auto& r : Fake().requests) codes.push_back(CodeOf(r));
  return codes;
}

std::wstring PathOf(const std::vector<uint8_t>& request, size_t offset) {
  if (request.size() < offset + 2 * kPathUnits) return L"<short request>";
  return ToWide(PackedText(request.data() + offset, kPathUnits));
}

CPublishDir DirRecord(const std::wstring& path) {
  CPublishDir dir;
  std::memset(&dir, 0, sizeof dir);
  MakePathRecordId(path, dir.dirId);
  PutPath(reinterpret_cast<uint8_t*>(&dir) + offsetof(CPublishDir, path), path);
  dir.pubAll = 1;
  return dir;
}

CPublishItem FileRecord(const std::wstring& path, int64_t size, uint8_t state, int64_t modified, int64_t published,
                        uint32_t attributes) {
  CPublishItem item;
  std::memset(&item, 0, sizeof item);
  item.attributes = attributes;
  item.fileSize = size;
  item.lastModTime = modified;
  item.pubTime = published;
  item.state = state;
  PutPath(reinterpret_cast<uint8_t*>(&item) + offsetof(CPublishItem, fileName), path);
  for (int i = 0; i < 16; ++i) item.fid[i] = static_cast<uint8_t>(0x10 * (i % 16) + i);
  return item;
}

std::vector<uint8_t> DirListReply(const std::vector<CPublishDir>& dirs) {
  std::vector<uint8_t> reply = StatusReply(200);
  uint32_t n = static_cast<uint32_t>(dirs.size());
  Append(reply, &n, 4);
  for (const CPublishDir& d : dirs) Append(reply, &d, sizeof d);
  return reply;
}

std::vector<uint8_t> FileListReply(const std::vector<CPublishItem>& files) {
  std::vector<uint8_t> reply = StatusReply(200);
  uint32_t n = static_cast<uint32_t>(files.size());
  Append(reply, &n, 4);
  for (const CPublishItem& f : files) Append(reply, &f, sizeof f);
  return reply;
}

std::vector<uint8_t> ExportReply(const std::wstring& text) {
  std::vector<uint8_t> reply = StatusReply(200);
  uint32_t n = static_cast<uint32_t>(text.size());
  Append(reply, &n, 4);
  Append(reply, text.data(), 2 * text.size());
  return reply;
}

HWND FindThreadWindow(const std::wstring& caption) {
  WindowSearch search{caption};
  EnumThreadWindows(GetCurrentThreadId(), MatchCaption, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

namespace {
struct DialogSearch {
  const wchar_t* controlClass;
  HWND found = nullptr;
};
BOOL CALLBACK HoldsControl(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  wchar_t cls[16] = {};
  GetClassNameW(window, cls, 16);
  if (IsWindowVisible(window) && wcscmp(cls, L"#32770") == 0 &&
      FindWindowExW(window, nullptr, search->controlClass, nullptr) != nullptr) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

HWND FindThreadDialogWith(const wchar_t* controlClass) {
  DialogSearch search{controlClass};
  EnumThreadWindows(GetCurrentThreadId(), HoldsControl, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring MessageBoxText(HWND box) {
  wchar_t text[1024] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 1024);
  return text;
}

ModalScript::ModalScript(std::vector<Step> steps) : steps_(steps.begin(), steps.end()) {
  deadline_ = GetTickCount() + kGiveUpMs;
  timer_ = SetTimer(nullptr, 0, 30, Tick);
  Scripts()[timer_] = this;
}

ModalScript::~ModalScript() {
  KillTimer(nullptr, timer_);
  Scripts().erase(timer_);
}

void CALLBACK ModalScript::Tick(HWND, UINT, UINT_PTR id, DWORD) {
  auto found = Scripts().find(id);
  if (found == Scripts().end()) return;
  ModalScript* script = found->second;
  // A step may open another modal loop; the timer must not re-enter it meanwhile.
  static bool running = false;
  if (script->gaveUp_) {
    // Every dialog of the thread goes, also the ones that were disabled under a closed one.
    EnumThreadWindows(GetCurrentThreadId(), CancelDialog, 0);
    return;
  }
  if (running || script->steps_.empty()) return;
  running = true;
  Step step = script->steps_.front();
  if (step()) {
    script->steps_.pop_front();
    script->deadline_ = GetTickCount() + kGiveUpMs;
  } else if (static_cast<int32_t>(GetTickCount() - script->deadline_) > 0) {
    // A step that never comes true must not leave the test in a modal loop for good.
    ADD_FAILURE() << "a modal step did not happen; closing this thread's dialogs";
    script->gaveUp_ = true;
    script->steps_.clear();
  }
  running = false;
}

ModalScript::Step OnWindow(const std::wstring& caption, std::function<void(HWND)> act) {
  return [caption, act] {
    HWND window = FindThreadWindow(caption);
    if (window == nullptr) return false;
    act(window);
    return true;
  };
}

void Click(HWND dialog, int id) {
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PageTest::SetUp() {
  ClientTest::SetUp();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES |
                                                     ICC_TREEVIEW_CLASSES | ICC_DATE_CLASSES | ICC_INTERNET_CLASSES};
  InitCommonControlsEx(&controls);
  DialogLayoutStartup();
  ResetSettingsCache();
  Menus() = MenuRecord();
  wtl::SetMenuTracker(RecordMenu);
  host_ = CreateWindowExW(0, L"STATIC", L"page host", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 960,
                          680, nullptr, nullptr, wtl::ModuleInstance(), nullptr);
  ASSERT_NE(host_, nullptr);
}

void PageTest::TearDown() {
  page_.reset();
  if (host_ != nullptr) DestroyWindow(host_);
  Pump();
  wtl::SetMenuTracker(nullptr);
  DialogLayoutShutdown();
  ClientTest::TearDown();
}

void PageTest::Pump() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_TIMER) continue;  // ticks are driven by the tests themselves
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

void PageTest::CreatePage(const std::vector<CPublishDir>* dirs) {
  if (dirs != nullptr) Fake().script.push_back({0, DirListReply(*dirs)});
  page_ = std::make_unique<CFilePubDlg>();
  ASSERT_NE(page_->Create(host_), nullptr);
  RECT client{};
  GetClientRect(host_, &client);
  page_->Move(0, 0, client.right, client.bottom);
  page_->Show(SW_SHOW);
  // The tests drive the ticks themselves: the timers would also fire inside the modal loops.
  KillTimer(Tree().Handle(), kTreeTimer);
  KillTimer(Files().Handle(), kFileListTimer);
  // A tree pane wide enough that no label is cut, as a user would drag it.
  page_->Splitter().SetSplitterPos(260);
  Pump();
}

std::vector<std::wstring> PageTest::TreeTexts() {
  std::vector<std::wstring> texts;
  const wtl::CTreeView& tree = Tree().Tree();
  for (HTREEITEM item = tree.FirstChild(Tree().DirectoryRoot()); item != nullptr; item = tree.NextSibling(item)) {
    texts.push_back(tree.ItemText(item));
  }
  return texts;
}

HTREEITEM PageTest::TreeItem(const std::wstring& text) {
  const wtl::CTreeView& tree = Tree().Tree();
  for (HTREEITEM root = tree.FirstChild(TVI_ROOT); root != nullptr; root = tree.NextSibling(root)) {
    if (tree.ItemText(root) == text) return root;
    for (HTREEITEM item = tree.FirstChild(root); item != nullptr; item = tree.NextSibling(item)) {
      if (tree.ItemText(item) == text) return item;
    }
  }
  return nullptr;
}

std::vector<std::vector<std::wstring>> PageTest::Cells() {
  wtl::CListView list(List());
  std::vector<std::vector<std::wstring>> rows;
  for (int row = 0; row < list.RowCount(); ++row) {
    std::vector<std::wstring> cells;
    for (int column = 0; column < list.ColumnCount(); ++column) cells.push_back(list.CellText(row, column));
    rows.push_back(cells);
  }
  return rows;
}

std::vector<std::wstring> PageTest::Column(int column) {
  std::vector<std::wstring> cells;
  for (const auto& row : Cells()) cells.push_back(row.at(static_cast<size_t>(column)));
  return cells;
}

std::vector<std::wstring> PageTest::Headers() {
  std::vector<std::wstring> headers;
  wtl::CListView list(List());
  for (int i = 0; i < list.ColumnCount(); ++i) {
    wchar_t text[64] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = text;
    column.cchTextMax = 64;
    SendMessageW(List(), LVM_GETCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    headers.push_back(std::wstring(text) + L"/" + std::to_wstring(column.cx));
  }
  return headers;
}

void PageTest::SelectRows(const std::vector<int>& rows) {
  wtl::CListView list(List());
  list.SetRowState(-1, 0, LVIS_SELECTED);  // -1: every row
  for (int row : rows) list.SetRowState(row, LVIS_SELECTED, LVIS_SELECTED);
}

void PageTest::ClickColumn(int column) {
  NMLISTVIEW click{};
  click.hdr.hwndFrom = List();
  click.hdr.idFrom = IDC_FILES_LIST;
  click.hdr.code = LVN_COLUMNCLICK;
  click.iItem = -1;
  click.iSubItem = column;
  SendMessageW(Files().Handle(), WM_NOTIFY, IDC_FILES_LIST, reinterpret_cast<LPARAM>(&click));
}

void PageTest::SelectTreeItem(HTREEITEM item) { SendMessageW(TreeControl(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)); }

void PageTest::ShowDirectory(const std::wstring& text, const std::vector<CPublishItem>& files) {
  Fake().script.push_back({0, FileListReply(files)});
  SelectTreeItem(TreeItem(text));
}
