// Whole-file and range operations, file sizes and times, and preallocation.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kWholeFile = 0xFFFFFFFFu;

// Reads count bytes (the rest of the file for kWholeFile) from the offset,
// never more than capacity. The bytes read, 0 on failure.
uint32_t ReadFileRange(const wchar_t* path, uint64_t offset, uint32_t count, void* buffer, uint32_t capacity);
// Opens for writing (created anew when create is set), writes at the offset,
// flushes when asked. The bytes written, 0 when the file cannot be opened or
// positioned.
uint32_t WriteFileRange(const wchar_t* path, uint64_t offset, const void* buffer, uint32_t count, bool create,
                        bool flush);

// Puts a file in place whole: the bytes are written and flushed beside it
// (path + ".new"), then renamed over it in one step, so a kill or a full disk
// at any moment leaves the old file or the new one, never a part. False, the
// old file untouched and nothing left beside it, when any step fails.
bool ReplaceFileWhole(const wchar_t* path, const void* data, size_t size);
constexpr wchar_t kReplaceNewSuffix[] = L".new";

// A size or a time that the system gives in two 32-bit halves, as one value.
inline uint64_t JoinHalves(DWORD high, DWORD low) { return (uint64_t{high} << 32) | low; }
inline uint64_t FileSizeOf(const WIN32_FIND_DATAW& entry) { return JoinHalves(entry.nFileSizeHigh, entry.nFileSizeLow); }
inline uint64_t FileTimeValue(const FILETIME& time) { return JoinHalves(time.dwHighDateTime, time.dwLowDateTime); }

// False when the file is missing; each output may be null.
bool GetFileInfo(const wchar_t* path, uint64_t* size, FILETIME* lastWrite, DWORD* attributes = nullptr);
// 0 when missing, as for an empty file.
uint64_t GetFileSize64(const wchar_t* path);
// The whole file as narrow text; empty when it cannot be read.
std::string ReadWholeFile(const wchar_t* path);
// The file's text split at "\n", with "\r" removed. The number of lines.
size_t ReadTextLines(const wchar_t* path, std::vector<std::string>* lines);

// Last-write time from seconds since 1970, through the local calendar.
bool SetFileTimes(const wchar_t* path, int64_t secondsSince1970);
// "%04d-%02d-%02d %02d:%02d:%02d:%03d" in local time; empty when it cannot be converted.
std::string FileTimeText(const FILETIME& time);
// The same text of a value that already holds local time, without conversion.
std::string LocalFileTimeText(const FILETIME& time);
// The current local time as a FILETIME value; 0 on failure.
uint64_t GetLocalFileTime();

// Enables "SeManageVolumePrivilege" in the process token: 0 or the last error.
DWORD EnableManageVolumePrivilege();
// SetFileValidData looked up in the system's Kernel32.dll; false when the
// system does not offer it or refuses.
bool SetFileValidDataDyn(HANDLE file, uint64_t length);
// Grows the file to its size without writing zeros where the system allows;
// a file that cannot be marked valid keeps its length. False when the file
// cannot be opened or sized.
bool PreallocateFile(const wchar_t* path, uint64_t size);
