// A fresh directory under the temporary folder for one test, removed after it.
#pragma once
#include <windows.h>

#include <string>

#include "foundation/util/path_ops.h"

class TempDir {
 public:
  explicit TempDir(const wchar_t* name) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    path_ = std::wstring(base) + L"orchard_" + name + L"_" + std::to_wstring(GetCurrentProcessId());
    RemoveDirectoryTree(path_.c_str());
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~TempDir() { RemoveDirectoryTree(path_.c_str()); }
  const std::wstring& Path() const { return path_; }
  std::wstring operator/(const wchar_t* name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};
