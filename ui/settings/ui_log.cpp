// The log object: a threshold and a write-through file handle.
#include "ui/settings/ui_log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

#include "ui/settings/codec/log_entry.h"

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
  char text[kLogEntryMaxBytes];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  LogTime t{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
  std::string entry = FormatLogEntry(t, text);
  DWORD written = 0;
  WriteFile(g_file, entry.data(), static_cast<DWORD>(entry.size()), &written, nullptr);
}
