// CSessionLog: write-through file, one timestamped entry per WriteFile.
#include "foundation/channel/session_log.h"

#include <cstdarg>
#include <cstdio>

CSessionLog& CSessionLog::Instance() {
  // Never destroyed: the scheduler thread may still log while the process ends.
  static CSessionLog* log = new CSessionLog;
  return *log;
}

CSessionLog::CSessionLog() { InitializeCriticalSection(&lock_); }

bool CSessionLog::Open(const wchar_t* path) {
  EnterCriticalSection(&lock_);
  if (file_ != INVALID_HANDLE_VALUE && file_ != nullptr) {
    FlushFileBuffers(file_);
    CloseHandle(file_);
  }
  file_ = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  const bool ok = file_ != INVALID_HANDLE_VALUE;
  LeaveCriticalSection(&lock_);
  return ok;
}

void CSessionLog::Close() {
  EnterCriticalSection(&lock_);
  if (file_ != INVALID_HANDLE_VALUE && file_ != nullptr) {
    FlushFileBuffers(file_);
    CloseHandle(file_);
  }
  file_ = INVALID_HANDLE_VALUE;
  LeaveCriticalSection(&lock_);
}

int CSessionLog::Write(uint32_t level, const char* format, ...) {
  if (level < threshold_) return 0;
  char entry[kMaxEntry + 1];
  SYSTEMTIME t;
  GetLocalTime(&t);
  int used = std::snprintf(entry, sizeof entry, "\r\n[%04d-%02d-%02d %02d:%02d:%02d:%03d] ", t.wYear, t.wMonth,
                           t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
  if (used < 0) return 0;
  va_list args;
  va_start(args, format);
  const int message = std::vsnprintf(entry + used, sizeof entry - used, format, args);
  va_end(args);
  if (message < 0) return 0;
  used += message;
  if (used > int(kMaxEntry)) used = kMaxEntry;  // cut, never refused

  EnterCriticalSection(&lock_);
  DWORD written = 0;
  const bool ok = file_ != INVALID_HANDLE_VALUE && file_ != nullptr &&
                  WriteFile(file_, entry, DWORD(used), &written, nullptr) && written == DWORD(used);
  LeaveCriticalSection(&lock_);
  return ok ? 1 : 0;
}
