// The run-at-boot value in the Run key of the current user: set, read back
// with the program's quoted path and "-boot", deleted.
#include "ui/app/run_at_boot.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring StoredValue() {
  wchar_t value[MAX_PATH + 16] = {};
  DWORD bytes = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"WrenSvr", RRF_RT_REG_SZ, nullptr, value, &bytes) != ERROR_SUCCESS) {
    return L"<none>";
  }
  return value;
}

TEST(RunAtBoot, SetReadAndDelete) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  wchar_t program[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, program, MAX_PATH);

  struct Row {
    const char* name;
    int flag;
    int setResult;
    int readBack;
    std::wstring stored;
  } rows[] = {
      {"set", 1, 1, 1, L"\"" + std::wstring(program) + L"\" -boot"},
      {"set again", 1, 1, 1, L"\"" + std::wstring(program) + L"\" -boot"},
      {"cleared", 0, 1, 0, L"<none>"},
      {"clearing a missing value fails", 0, 0, 0, L"<none>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(SetRunAtBoot(row.flag), row.setResult);
    EXPECT_EQ(GetRunAtBoot(), row.readBack);
    EXPECT_EQ(StoredValue(), row.stored);
  }
  // An empty value does not count as set.
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, L"WrenSvr", REG_SZ, L"", sizeof(wchar_t)), ERROR_SUCCESS);
  EXPECT_EQ(GetRunAtBoot(), 0);
  SetRunAtBoot(0);
}

}  // namespace
