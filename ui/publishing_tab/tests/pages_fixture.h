// In-process fixture of the publishing page: a visible host window, the
// scripted channel, replies of the list commands built from records, and a
// script that acts on modal dialogs and message boxes from a timer while
// their loop runs.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/client/codec/control_records.h"
#include "ui/client/tests/client_fixture.h"
#include "ui/publishing_tab/file_pub_dlg.h"

// Request bodies as the server reads them.
int CodeOf(const std::vector<uint8_t>& request);
std::vector<int> SentCodes();
// The PATH field of a request whose path starts at `offset`.
std::wstring PathOf(const std::vector<uint8_t>& request, size_t offset = 2);

CPublishDir DirRecord(const std::wstring& path);
CPublishItem FileRecord(const std::wstring& path, int64_t size, uint8_t state, int64_t modified = 0,
                        int64_t published = 0, uint32_t attributes = FILE_ATTRIBUTE_ARCHIVE);
std::vector<uint8_t> DirListReply(const std::vector<CPublishDir>& dirs);
std::vector<uint8_t> FileListReply(const std::vector<CPublishItem>& files);
// 200, then the count of UTF-16 units and the units.
std::vector<uint8_t> ExportReply(const std::wstring& text);

// The top-level windows of this thread with the caption, visible ones only.
HWND FindThreadWindow(const std::wstring& caption);
// The visible dialog of this thread that holds a control of the class.
HWND FindThreadDialogWith(const wchar_t* controlClass);
// The text of a message box's message.
std::wstring MessageBoxText(HWND box);

// Steps run one after the other from a 30 ms timer of this thread; a step
// returns false to be tried again on the next tick. Used while a modal loop
// (dialog, message box, menu) holds the thread.
class ModalScript {
 public:
  using Step = std::function<bool()>;
  explicit ModalScript(std::vector<Step> steps);
  ~ModalScript();
  bool Done() const { return steps_.empty() && !gaveUp_; }

 private:
  static constexpr DWORD kGiveUpMs = 20000;
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
  std::deque<Step> steps_;
  UINT_PTR timer_ = 0;
  DWORD deadline_ = 0;
  bool gaveUp_ = false;
};

// A step that waits for a window with the caption and acts on it.
ModalScript::Step OnWindow(const std::wstring& caption, std::function<void(HWND)> act);
// A step that presses a dialog's button (WM_COMMAND as a click sends it).
void Click(HWND dialog, int id);

// Context menus as the pages build them, and the entry the test picks in
// place of the user (the modal tracking is replaced while a test runs).
struct MenuRecord {
  int shown = 0;
  std::vector<std::wstring> items;  // "id text", "-" for a separator
  UINT choose = 0;
};
MenuRecord& Menus();
// The tracker the tests put in place of the modal one: it records the menu in
// Menus() and returns the entry chosen there.
UINT RecordMenu(HMENU menu, POINT screen, HWND owner);

class PageTest : public ClientTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates the page; the tree's first refresh answers with `dirs` when given.
  void CreatePage(const std::vector<CPublishDir>* dirs = nullptr);
  CIndexDlg& Tree() { return page_->Tree(); }
  CFileStatusDlg& Files() { return page_->Files(); }
  HWND TreeControl() { return Tree().Item(IDC_INDEX_TREE); }
  HWND List() { return Files().Item(IDC_FILES_LIST); }
  std::vector<std::wstring> TreeTexts();
  HTREEITEM TreeItem(const std::wstring& text);
  // The list's cells as the list shows them (LVM_GETITEMTEXTW through the page's LVN_GETDISPINFO).
  std::vector<std::vector<std::wstring>> Cells();
  std::vector<std::wstring> Column(int column);
  std::vector<std::wstring> Headers();
  void SelectRows(const std::vector<int>& rows);
  void ClickColumn(int column);
  // Selects a tree item as a click would (TVN_SELCHANGED follows).
  void SelectTreeItem(HTREEITEM item);
  // Shows a directory's records: selects its item with the reply scripted.
  void ShowDirectory(const std::wstring& text, const std::vector<CPublishItem>& files);
  void TickTree() { SendMessageW(Tree().Handle(), WM_TIMER, kTreeTimer, 0); }
  void TickFiles() { SendMessageW(Files().Handle(), WM_TIMER, kFileListTimer, 0); }
  void Pump();

  HWND host_ = nullptr;
  std::unique_ptr<CFilePubDlg> page_;
};
