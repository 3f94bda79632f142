// Path and directory operations of the publishing service. The text-only
// ones are the platform-free functions of foundation/text/path_text.h on
// Windows wide strings.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

#include "foundation/text/path_text.h"
#include "foundation/util/wide_text.h"

bool PathExists(const wchar_t* path);
bool IsDirectory(const wchar_t* path);
bool DeleteFilePath(const wchar_t* path);
// Overwrites an existing target.
bool CopyFilePath(const wchar_t* from, const wchar_t* to);
// 0 or the last error.
DWORD MoveFilePath(const wchar_t* from, const wchar_t* to);
// False for an empty path, a missing file, or when the attribute already has the value.
bool SetFileReadOnly(const wchar_t* path, bool readOnly);

// Creates every missing directory along a drive path or a UNC path.
bool CreateDirectoryTree(const wchar_t* path);
// Deletes the files (read-only ones too) and subdirectories under the path,
// then the path. Junctions and other reparse points are removed as links;
// what they point to is never touched.
bool RemoveDirectoryTree(const wchar_t* path);
// The application-data folder joined with the subdirectory, both created when
// missing; the program's directory when the folder cannot be had.
std::wstring GetAppDataDir(const wchar_t* subdirectory);
bool IsDotEntry(const WIN32_FIND_DATAW& entry);

// GetModuleFileNameW of the module, cut at its last backslash.
std::wstring GetModuleDir(HMODULE module);
// The full path of a file name in the program's directory.
std::wstring ModulePathOf(const wchar_t* name);

inline std::wstring NormalizeDirPath(std::wstring_view path) { return ToWide(NormalizeDirPath(AsU16(path))); }
inline std::wstring PathJoin(std::wstring_view dir, std::wstring_view name) {
  return ToWide(PathJoin(AsU16(dir), AsU16(name)));
}
inline std::wstring CombinePath(std::wstring_view dir, std::wstring_view name) {
  return ToWide(CombinePath(AsU16(dir), AsU16(name)));
}
inline std::wstring GetFileExtension(std::wstring_view path) { return ToWide(GetFileExtension(AsU16(path))); }
inline bool IsPublishableFile(std::wstring_view path) { return IsPublishableFile(AsU16(path)); }
inline bool IsMediaFile(std::wstring_view path) { return IsMediaFile(AsU16(path)); }
