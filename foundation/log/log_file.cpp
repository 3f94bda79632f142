// CLogFile: the written-through, thresholded log file of the programs.
#include "foundation/log/log_file.h"

#include <cstdarg>

#include "foundation/check/orchard_assert.h"

int CLogFile::Open(const wchar_t* path, uint32_t threshold, bool append) {
  if (!path) return 0;
  SetThreshold(threshold);
  return OpenEx(path, append, true, false);
}

int CLogFile::OpenEx(const wchar_t* path, bool append, bool writeThrough, bool mark) {
  if (IsOpen()) Close();
  handle_ = nullptr;
  if (!path) return 0;
  DWORD flags = FILE_ATTRIBUTE_NORMAL | (writeThrough ? FILE_FLAG_WRITE_THROUGH : 0);
  HANDLE h = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS, flags,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  handle_ = h;
  if (mark) {
    LARGE_INTEGER size{};
    if (GetFileSizeEx(h, &size) && size.QuadPart == 0) {
      static const unsigned char bom[2] = {0xFF, 0xFE};
      DWORD written = 0;
      WriteFile(h, bom, sizeof bom, &written, nullptr);
    }
  }
  return 1;
}

void CLogFile::Flush() {
  if (IsOpen()) FlushFileBuffers(handle_);
}

void CLogFile::Close() {
  if (!IsOpen()) return;
  FlushFileBuffers(handle_);
  CloseNoFlush();
}

void CLogFile::CloseNoFlush() {
  if (!IsOpen()) return;
  CloseHandle(handle_);
  handle_ = nullptr;
}

bool CLogFile::Append(const char* data, size_t length) {
  CLockGuard guard(writeLock_);
  return AppendLocked(data, length);
}

bool CLogFile::AppendLocked(const char* data, size_t length) {
  // Writers on several threads share the handle's file position, so the move
  // to the end, the write and a cut after a short write are one step under the lock.
  ORCHARD_ASSERT(writeLock_.HeldByThisThread());
  LARGE_INTEGER zero{}, end{};
  DWORD written = 0;
  bool ok = false;
  if (SetFilePointerEx(handle_, zero, &end, FILE_END)) {
    ok = WriteFile(handle_, data, static_cast<DWORD>(length), &written, nullptr) && written == length;
    if (!ok) {
      SetFilePointerEx(handle_, end, nullptr, FILE_BEGIN);
      SetEndOfFile(handle_);
      FlushFileBuffers(handle_);
    }
  }
  return ok;
}

int WriteLog(CLogFile* log, uint32_t level, const char* format, ...) {
  if (!log || !log->IsOpen() || level < log->Threshold()) return 0;
  char area[kLogEntryMax + 1];
  va_list args;
  va_start(args, format);
  const std::string time = LocalTimeText(log->timeMode_.load(std::memory_order_relaxed));
  size_t length = FormatLogEntry(area, time.c_str(), format, args);
  va_end(args);
  return log->Append(area, length) ? 1 : 0;
}

int WriteLogEntries(CLogFile* log, uint32_t level, const std::string* texts, size_t count) {
  if (!log || !log->IsOpen() || level < log->Threshold()) return 0;
  const std::string time = LocalTimeText(log->timeMode_.load(std::memory_order_relaxed));
  std::string all;
  for (size_t i = 0; i < count; ++i) {
    const std::string entry = LogEntryText(time, texts[i]);
    if (entry.empty()) return 0;
    all += entry;
  }
  return log->Append(all.data(), all.size()) ? 1 : 0;
}

std::string LocalTimeText(int mode) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  LogTimeFields t{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
  return FormatTimeText(mode, t);
}
