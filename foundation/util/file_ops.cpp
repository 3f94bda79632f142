// Whole-file and range operations, sizes, times and preallocation.
#include "foundation/util/file_ops.h"

#include <cstdio>
#include <ctime>

#include "foundation/text/token_list.h"
#include "foundation/util/simple_file.h"

uint32_t ReadFileRange(const wchar_t* path, uint64_t offset, uint32_t count, void* buffer, uint32_t capacity) {
  CSimpleFile file;
  if (!file.OpenRead(path) || !file.Seek(offset)) return 0;
  uint32_t want = count;
  if (count == kWholeFile) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Handle(), &size) || static_cast<uint64_t>(size.QuadPart) <= offset) return 0;
    const uint64_t rest = static_cast<uint64_t>(size.QuadPart) - offset;
    want = rest < kWholeFile ? static_cast<uint32_t>(rest) : kWholeFile - 1;
  }
  if (want > capacity) want = capacity;
  uint32_t total = 0;
  while (total < want) {
    const uint32_t got = file.Read(static_cast<uint8_t*>(buffer) + total, want - total);
    if (got == 0) break;
    total += got;
  }
  return total;
}

uint32_t WriteFileRange(const wchar_t* path, uint64_t offset, const void* buffer, uint32_t count, bool create,
                        bool flush) {
  HANDLE h = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         create ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  DWORD put = 0;
  if (offset <= static_cast<uint64_t>(INT64_MAX) && SetFilePointerEx(h, to, nullptr, FILE_BEGIN)) {
    if (!WriteFile(h, buffer, count, &put, nullptr)) put = 0;
    if (flush) FlushFileBuffers(h);
  }
  CloseHandle(h);
  return put;
}

bool GetFileInfo(const wchar_t* path, uint64_t* size, FILETIME* lastWrite, DWORD* attributes) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;
  if (size != nullptr) *size = JoinHalves(data.nFileSizeHigh, data.nFileSizeLow);
  if (lastWrite != nullptr) *lastWrite = data.ftLastWriteTime;
  if (attributes != nullptr) *attributes = data.dwFileAttributes;
  return true;
}

uint64_t GetFileSize64(const wchar_t* path) {
  uint64_t size = 0;
  return GetFileInfo(path, &size, nullptr) ? size : 0;
}

bool ReplaceFileWhole(const wchar_t* path, const void* data, size_t size) {
  if (path == nullptr || size > MAXDWORD) return false;
  const std::wstring newPath = std::wstring(path) + kReplaceNewSuffix;
  HANDLE h = CreateFileW(newPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool whole =
      (size == 0 || (WriteFile(h, data, static_cast<DWORD>(size), &written, nullptr) && written == size)) &&
      FlushFileBuffers(h);
  const bool closed = CloseHandle(h) != 0;
  if (whole && closed && MoveFileExW(newPath.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  DeleteFileW(newPath.c_str());
  return false;
}

std::string ReadWholeFile(const wchar_t* path) {
  CSimpleFile file;
  std::string text;
  if (!file.OpenRead(path)) return text;
  char chunk[16 * 1024];
  for (;;) {
    const uint32_t got = file.Read(chunk, sizeof chunk);
    if (got == 0) break;
    text.append(chunk, got);
  }
  return text;
}

size_t ReadTextLines(const wchar_t* path, std::vector<std::string>* lines) {
  lines->clear();
  const CTokenList list(ReadWholeFile(path), "\n");
  for (std::string line : list.Pieces()) {
    std::erase(line, '\r');
    lines->push_back(std::move(line));
  }
  return lines->size();
}

bool SetFileTimes(const wchar_t* path, int64_t secondsSince1970) {
  const time_t t = static_cast<time_t>(secondsSince1970);
  struct tm local;
  if (localtime_s(&local, &t) != 0) return false;
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(local.tm_year + 1900);
  st.wMonth = static_cast<WORD>(local.tm_mon + 1);
  st.wDay = static_cast<WORD>(local.tm_mday);
  st.wHour = static_cast<WORD>(local.tm_hour);
  st.wMinute = static_cast<WORD>(local.tm_min);
  st.wSecond = static_cast<WORD>(local.tm_sec);
  FILETIME localTime, utc;
  if (!SystemTimeToFileTime(&st, &localTime) || !LocalFileTimeToFileTime(&localTime, &utc)) return false;
  HANDLE h = CreateFileW(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = SetFileTime(h, nullptr, nullptr, &utc) != 0;
  CloseHandle(h);
  return ok;
}

std::string FileTimeText(const FILETIME& time) {
  FILETIME local;
  if (!FileTimeToLocalFileTime(&time, &local)) return std::string();
  return LocalFileTimeText(local);
}

std::string LocalFileTimeText(const FILETIME& time) {
  SYSTEMTIME st;
  if (!FileTimeToSystemTime(&time, &st)) return std::string();
  char buf[64];
  snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d:%03d", st.wYear, st.wMonth, st.wDay, st.wHour,
           st.wMinute, st.wSecond, st.wMilliseconds);
  return buf;
}

uint64_t GetLocalFileTime() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  FILETIME ft;
  if (!SystemTimeToFileTime(&st, &ft)) return 0;
  return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

DWORD EnableManageVolumePrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return GetLastError();
  }
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  DWORD result = 0;
  if (!LookupPrivilegeValueW(nullptr, L"SeManageVolumePrivilege", &tp.Privileges[0].Luid) ||
      !AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr)) {
    result = GetLastError();
  } else {
    result = GetLastError();  // ERROR_NOT_ALL_ASSIGNED when the account lacks it
  }
  CloseHandle(token);
  return result;
}

bool SetFileValidDataDyn(HANDLE file, uint64_t length) {
  using SetFileValidDataFn = BOOL(WINAPI*)(HANDLE, LONGLONG);
  wchar_t dir[MAX_PATH];
  const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
  std::wstring path = (n > 0 && n < MAX_PATH) ? std::wstring(dir, n) + L"\\Kernel32.dll" : std::wstring();
  if (path.empty() || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) path = L"Kernel32.dll";
  HMODULE kernel = LoadLibraryW(path.c_str());
  if (kernel == nullptr) return false;
  auto setValid = reinterpret_cast<SetFileValidDataFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetFileValidData")));
  const bool ok = setValid != nullptr && length <= static_cast<uint64_t>(INT64_MAX) &&
                  setValid(file, static_cast<LONGLONG>(length)) != 0;
  FreeLibrary(kernel);
  return ok;
}

bool PreallocateFile(const wchar_t* path, uint64_t size) {
  if (size > static_cast<uint64_t>(INT64_MAX)) return false;
  EnableManageVolumePrivilege();
  HANDLE h = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(size);
  const bool sized = SetFilePointerEx(h, to, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  if (sized) SetFileValidDataDyn(h, size);
  CloseHandle(h);
  return sized;
}
