// The log object: a threshold and a write-through file handle.
#include "ui/client_settings/ui_log.h"

#include <windows.h>

#include <cstdarg>
#include <string>

#include "foundation/log/log_format.h"

namespace {
unsigned g_threshold = 1;
HANDLE g_file = INVALID_HANDLE_VALUE;

bool HandleOpen() { return g_file != nullptr && g_file != INVALID_HANDLE_VALUE; }
}  // namespace

void SetUiLogThreshold(unsigned level) { g_threshold = level; }

bool OpenUiLog(const std::wstring& path) {
  CloseUiLog();
  g_file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL, nullptr);
  return HandleOpen();
}

void CloseUiLog() {
  if (HandleOpen()) {
    FlushFileBuffers(g_file);
    CloseHandle(g_file);
  }
  g_file = INVALID_HANDLE_VALUE;
}

bool IsUiLogOpen() { return HandleOpen(); }

void WriteUiLog(unsigned level, const char* format, ...) {
  if (!HandleOpen() || level < g_threshold) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  LogTimeFields t{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
  std::string time = FormatTimeText(1, t);
  char entry[kLogEntryMax + 1];
  va_list args;
  va_start(args, format);
  size_t n = FormatLogEntry(entry, time.c_str(), format, args);
  va_end(args);
  DWORD written = 0;
  WriteFile(g_file, entry, static_cast<DWORD>(n), &written, nullptr);
}
