// The tab pages' fixture: host window, message-box watcher, list helpers.
#include "ui/peer_lists/tests/tab_page_fixture.h"

#include <cstring>
#include <set>

#include "platform/wtl/list_view.h"
#include "platform/wtl/menu.h"
#include "platform/wtl/module.h"
#include "ui/client/control_client.h"
#include "ui/layout/dialog_layout.h"
#include "ui/client_settings/settings_cache.h"

namespace {

std::vector<std::pair<std::wstring, std::wstring>> g_boxes;  // caption, text
std::set<HWND> g_closing;  // closed already, going away

template <class Record>
std::vector<uint8_t> ListReply(const std::vector<Record>& records, int64_t promised) {
  const uint32_t n = static_cast<uint32_t>(promised < 0 ? static_cast<int64_t>(records.size()) : promised);
  std::vector<uint8_t> payload(4);
  std::memcpy(payload.data(), &n, 4);
  for (const Record& r : records) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&r);
    payload.insert(payload.end(), bytes, bytes + sizeof r);
  }
  return StatusReply(200, payload);
}

BOOL CALLBACK CloseBox(HWND window, LPARAM) {
  wchar_t cls[16] = {}, title[64] = {};
  GetClassNameW(window, cls, 16);
  GetWindowTextW(window, title, 64);
  // The program's boxes: captioned with its name, or without a caption.
  const bool ours = wcscmp(title, L"OrchardUI") == 0 || title[0] == L'\0';
  if (IsWindowVisible(window) && wcscmp(cls, L"#32770") == 0 && ours && g_closing.insert(window).second) {
    g_boxes.emplace_back(title, MessageBoxText(window));
    PostMessageW(window, WM_COMMAND, IDOK, 0);
  }
  return TRUE;
}

}  // namespace

std::vector<uint8_t> UserListReply(const std::vector<UserRecord>& records, int64_t promised) {
  return ListReply(records, promised);
}

std::vector<uint8_t> UploadListReply(const std::vector<UploadRecord>& records, int64_t promised) {
  return ListReply(records, promised);
}

void CALLBACK TabPageTest::WatchBoxes(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), CloseBox, 0);
}

void TabPageTest::SetUp() {
  ClientTest::SetUp();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES |
                                                     ICC_INTERNET_CLASSES};
  InitCommonControlsEx(&controls);
  DialogLayoutStartup();
  ResetSettingsCache();
  SetConnected(false);
  std::memset(&ServerInfo(), 0, sizeof(ServerInfoBlock));
  Menus() = MenuRecord();
  wtl::SetMenuTracker(RecordMenu);
  g_boxes.clear();
  g_closing.clear();
  watcher_ = SetTimer(nullptr, 0, 30, WatchBoxes);
  host_ = CreateWindowExW(0, L"STATIC", L"tab host", WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 960,
                          680, nullptr, nullptr, wtl::ModuleInstance(), nullptr);
  ASSERT_NE(host_, nullptr);
}

void TabPageTest::TearDown() {
  if (host_ != nullptr) DestroyWindow(host_);
  Pump();
  KillTimer(nullptr, watcher_);
  EXPECT_TRUE(g_boxes.empty()) << "message boxes nobody looked at: " << g_boxes.size();
  wtl::SetMenuTracker(nullptr);
  DialogLayoutShutdown();
  ClientTest::TearDown();
}

void TabPageTest::Place(wtl::CModelessDialog& page, std::initializer_list<UINT_PTR> timers) {
  ASSERT_NE(page.Create(host_), nullptr);
  RECT client{};
  GetClientRect(host_, &client);
  page.Move(0, 0, client.right, client.bottom);
  page.Show(SW_SHOW);
  for (UINT_PTR timer : timers) KillTimer(page.Handle(), timer);
  Pump();
}

void TabPageTest::Pump() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_TIMER && m.hwnd != nullptr) continue;  // the pages' ticks are driven by the tests
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

std::vector<std::wstring> TabPageTest::TakeMessages() {
  std::vector<std::wstring> texts;
  for (const auto& box : TakeBoxes()) texts.push_back(box.second);
  return texts;
}

std::vector<std::pair<std::wstring, std::wstring>> TabPageTest::TakeBoxes() {
  std::vector<std::pair<std::wstring, std::wstring>> taken;
  taken.swap(g_boxes);
  return taken;
}

std::vector<std::vector<std::wstring>> TabPageTest::Cells(HWND list) {
  wtl::CListView view(list);
  std::vector<std::vector<std::wstring>> rows;
  for (int row = 0; row < view.RowCount(); ++row) {
    std::vector<std::wstring> cells;
    for (int column = 0; column < view.ColumnCount(); ++column) cells.push_back(view.CellText(row, column));
    rows.push_back(cells);
  }
  return rows;
}

std::vector<std::wstring> TabPageTest::Column(HWND list, int column) {
  std::vector<std::wstring> cells;
  for (const auto& row : Cells(list)) cells.push_back(row.at(static_cast<size_t>(column)));
  return cells;
}

std::vector<std::wstring> TabPageTest::Headers(HWND list) {
  std::vector<std::wstring> headers;
  wtl::CListView view(list);
  for (int i = 0; i < view.ColumnCount(); ++i) {
    wchar_t text[64] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = text;
    column.cchTextMax = 64;
    SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    headers.push_back(std::wstring(text) + L"/" + std::to_wstring(column.cx));
  }
  return headers;
}

void TabPageTest::SelectRows(HWND list, const std::vector<int>& rows) {
  wtl::CListView view(list);
  view.SetRowState(-1, 0, LVIS_SELECTED);
  for (int row : rows) view.SetRowState(row, LVIS_SELECTED, LVIS_SELECTED);
}

void TabPageTest::ClickColumn(HWND list, int column) {
  NMLISTVIEW click{};
  click.hdr.hwndFrom = list;
  click.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(list));
  click.hdr.code = LVN_COLUMNCLICK;
  click.iItem = -1;
  click.iSubItem = column;
  SendMessageW(GetParent(list), WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));
}

void TabPageTest::RightClick(HWND list, POINT screen) {
  SendMessageW(GetParent(list), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), MAKELPARAM(screen.x, screen.y));
}

POINT TabPageTest::Inside(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}
