// A fixture that opens the log in a scratch file and hands back the texts of
// the entries written since the last look.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/client/tests/fake_channel.h"
#include "ui/client_settings/ui_log.h"

class ClientTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    logPath_ = std::wstring(dir) + L"ui_client_test_" + std::to_wstring(GetCurrentProcessId()) + L".log";
    SetUiLogThreshold(1);
    ASSERT_TRUE(OpenUiLog(logPath_));
    Fake() = FakeChannel();
    seen_ = 0;
  }
  void TearDown() override {
    CloseUiLog();
    DeleteFileW(logPath_.c_str());
  }

  // The texts of the entries written since the last call.
  std::vector<std::string> NewLogLines() {
    std::string all;
    HANDLE f = CreateFileW(logPath_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      char buffer[4096];
      DWORD n = 0;
      while (ReadFile(f, buffer, sizeof buffer, &n, nullptr) && n > 0) all.append(buffer, n);
      CloseHandle(f);
    }
    std::string fresh = all.substr(seen_ < all.size() ? seen_ : all.size());
    seen_ = all.size();
    std::vector<std::string> lines;
    size_t at = 0;
    while ((at = fresh.find("\r\n[", at)) != std::string::npos) {
      size_t text = fresh.find("] ", at);
      size_t next = fresh.find("\r\n[", at + 3);
      if (text == std::string::npos) break;
      lines.push_back(fresh.substr(text + 2, next == std::string::npos ? std::string::npos : next - text - 2));
      at = at + 3;
    }
    return lines;
  }

  std::wstring logPath_;
  size_t seen_ = 0;
};
