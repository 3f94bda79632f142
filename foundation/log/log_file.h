// CLogFile: one log file, written through, one timestamped entry per call,
// filtered by a level threshold. Levels run from 1 (information) to 3 (error).
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "foundation/log/log_format.h"
#include "foundation/sync/locks.h"

class CLogFile {
 public:
  CLogFile() = default;
  ~CLogFile() { Close(); }
  CLogFile(const CLogFile&) = delete;
  CLogFile& operator=(const CLogFile&) = delete;

  // A null path does nothing and gives 0; else stores the threshold and opens
  // with write-through and no mark. 1 opened, 0 failed.
  int Open(const wchar_t* path, uint32_t threshold, bool append);
  // Appending keeps the contents and adds after them; otherwise the file is
  // emptied. The mark puts FF FE at the start of an empty file.
  int OpenEx(const wchar_t* path, bool append, bool writeThrough, bool mark);
  bool IsOpen() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void Flush();
  void Close();            // flushes first
  void CloseNoFlush();

  uint32_t Threshold() const { return threshold_.load(std::memory_order_relaxed); }
  void SetThreshold(uint32_t threshold) { threshold_.store(threshold, std::memory_order_relaxed); }
  // The time text of each entry, a mode of FormatTimeText: 1 (date, time and
  // milliseconds) unless set; OrchardMon's log uses 2 (time and milliseconds).
  void SetTimeMode(int mode) { timeMode_.store(mode, std::memory_order_relaxed); }

 private:
  friend int WriteLog(CLogFile* log, uint32_t level, const char* format, ...);
  friend int WriteLogEntries(CLogFile* log, uint32_t level, const std::string* texts, size_t count);
  // Writes the bytes at the end of the file in one write; a write that fails
  // part way (a full disk) is cut off again, so no entry is ever left torn.
  bool Append(const char* data, size_t length);
  bool AppendLocked(const char* data, size_t length);
  std::atomic<uint32_t> threshold_{0};
  std::atomic<int> timeMode_{1};
  HANDLE handle_ = nullptr;
  CLock writeLock_;  // one entry at a time at the file's end
};

// 1 when the whole entry was written; 0 when the log is closed, the level is
// below the threshold or the write failed. Safe from any thread: each entry
// goes to the end of the file in one write while no other entry is written.
int WriteLog(CLogFile* log, uint32_t level, const char* format, ...) ORCHARD_PRINTF(3, 4);

// Several entries with one time in one write: all of them reach the file, or
// none. 0 as WriteLog, and also when an entry would have to be cut to fit.
int WriteLogEntries(CLogFile* log, uint32_t level, const std::string* texts, size_t count);

// The current local time in the texts of FormatTimeText.
std::string LocalTimeText(int mode);
