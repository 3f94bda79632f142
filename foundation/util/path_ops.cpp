// Path and directory operations over the Windows file and shell APIs.
#include "foundation/util/path_ops.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <vector>

bool PathExists(const wchar_t* path) { return PathFileExistsW(path) != 0; }
bool IsDirectory(const wchar_t* path) { return PathIsDirectoryW(path) != 0; }
bool DeleteFilePath(const wchar_t* path) { return DeleteFileW(path) != 0; }
bool CopyFilePath(const wchar_t* from, const wchar_t* to) { return CopyFileW(from, to, FALSE) != 0; }
DWORD MoveFilePath(const wchar_t* from, const wchar_t* to) { return MoveFileW(from, to) ? 0 : GetLastError(); }

bool SetFileReadOnly(const wchar_t* path, bool readOnly) {
  if (path == nullptr || path[0] == L'\0') return false;
  const DWORD attrs = GetFileAttributesW(path);
  if (attrs == INVALID_FILE_ATTRIBUTES) return false;
  if (((attrs & FILE_ATTRIBUTE_READONLY) != 0) == readOnly) return false;
  return SetFileAttributesW(path, readOnly ? (attrs | FILE_ATTRIBUTE_READONLY) : (attrs & ~FILE_ATTRIBUTE_READONLY)) != 0;
}

bool CreateDirectoryTree(const wchar_t* pathIn) {
  if (pathIn == nullptr || pathIn[0] == L'\0') return false;
  std::wstring path = NormalizeDirPath(std::wstring_view(pathIn));
  // The first component that can be created: after "C:\", or after the
  // server and share of "\\server\share\".
  size_t start = 0;
  if (path.compare(0, 2, L"\\\\") == 0) {
    const size_t server = path.find(L'\\', 2);
    const size_t share = server == std::wstring::npos ? server : path.find(L'\\', server + 1);
    if (share == std::wstring::npos) return false;
    start = share + 1;
  } else if (path.size() >= 3 && path[1] == L':') {
    start = 3;
  }
  for (size_t sep = path.find(L'\\', start); sep != std::wstring::npos; sep = path.find(L'\\', sep + 1)) {
    const std::wstring part = path.substr(0, sep);
    if (part.empty() || IsDirectory(part.c_str())) continue;
    if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return IsDirectory(path.c_str());
}

bool RemoveDirectoryTree(const wchar_t* path) {
  if (path == nullptr || path[0] == L'\0') return false;
  const DWORD attrs = GetFileAttributesW(path);
  if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  // A link is removed as a link: nothing behind it is enumerated.
  if ((attrs & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return RemoveDirectoryW(path) != 0;

  const std::wstring dir = PathJoin(std::wstring_view(path), L"");
  bool ok = true;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((dir + L"*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (IsDotEntry(entry)) continue;
      const std::wstring full = dir + entry.cFileName;
      const bool isDir = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        ok = (isDir ? RemoveDirectoryW(full.c_str()) : DeleteFileW(full.c_str())) && ok;
      } else if (isDir) {
        ok = RemoveDirectoryTree(full.c_str()) && ok;
      } else {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
          SetFileAttributesW(full.c_str(), entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
        }
        ok = DeleteFileW(full.c_str()) && ok;
      }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  return RemoveDirectoryW(path) && ok;
}

std::wstring GetModuleDir(HMODULE module) {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return std::wstring();
    if (n < buf.size()) {
      std::wstring path(buf.data(), n);
      const size_t slash = path.rfind(L'\\');
      return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
    }
    buf.resize(buf.size() * 2);
  }
}

std::wstring ModulePathOf(const wchar_t* name) { return PathJoin(GetModuleDir(nullptr), name); }

std::wstring GetAppDataDir(const wchar_t* subdirectory) {
  wchar_t folder[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    return GetModuleDir(nullptr);
  }
  const std::wstring dir = PathJoin(std::wstring_view(folder), subdirectory);
  if (!IsDirectory(dir.c_str()) && !CreateDirectoryW(dir.c_str(), nullptr)) return GetModuleDir(nullptr);
  return dir;
}

bool IsDotEntry(const WIN32_FIND_DATAW& entry) {
  return wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0;
}
