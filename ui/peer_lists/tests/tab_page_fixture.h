// In-process fixture of the tab pages other than the publishing page: a
// visible host window, the scripted channel, the recorded context menus, a
// watcher that reads and closes every message box the page shows, and the
// list and reply helpers of the peer and upload lists.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/wtl/dialog.h"
#include "ui/client/codec/control_records.h"
#include "ui/client/tests/client_fixture.h"
#include "ui/publishing_tab/tests/pages_fixture.h"

// 200, a count (the records' number unless given) and the records.
std::vector<uint8_t> UserListReply(const std::vector<UserRecord>& records, int64_t promised = -1);
std::vector<uint8_t> UploadListReply(const std::vector<UploadRecord>& records, int64_t promised = -1);
// 200 and a block.
template <class Block>
std::vector<uint8_t> BlockReply(const Block& block) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&block);
  return StatusReply(200, std::vector<uint8_t>(bytes, bytes + sizeof block));
}

class TabPageTest : public ClientTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates the page in the host window, fills the host with it and shows it.
  // The tests tick the timers themselves, so the page's are killed.
  void Place(wtl::CModelessDialog& page, std::initializer_list<UINT_PTR> timers);
  void Pump();

  // The texts of the message boxes shown since the last call (each was closed with OK).
  std::vector<std::wstring> TakeMessages();
  // The same boxes as {caption, text}.
  std::vector<std::pair<std::wstring, std::wstring>> TakeBoxes();

  // The list as the user sees it: cells through the page's LVN_GETDISPINFO.
  static std::vector<std::vector<std::wstring>> Cells(HWND list);
  static std::vector<std::wstring> Column(HWND list, int column);
  static std::vector<std::wstring> Headers(HWND list);  // "text/width"
  static void SelectRows(HWND list, const std::vector<int>& rows);
  static void ClickColumn(HWND list, int column);
  static void RightClick(HWND list, POINT screen);
  static POINT Inside(HWND window);

  HWND host_ = nullptr;

 private:
  static void CALLBACK WatchBoxes(HWND, UINT, UINT_PTR, DWORD);
  UINT_PTR watcher_ = 0;
};
