// CSessionLog: the channel's own log, one per process and shared by the
// server and the client session ("tcpserver.log", "tcpclient.log").
#pragma once
#include <windows.h>

#include <cstdint>

class CSessionLog {
 public:
  static constexpr uint32_t kMaxEntry = 1024;
  // Every channel message is written at this level.
  static constexpr uint32_t kChannelLevel = 2;

  static CSessionLog& Instance();

  // Closes a file already open and creates the file anew.
  bool Open(const wchar_t* path);
  void Close();
  void SetThreshold(uint32_t level) { threshold_ = level; }
  // "\r\n[local time] " and the message, at most kMaxEntry bytes (a longer
  // message is cut), in one WriteFile. 1 when every byte was written.
  int Write(uint32_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));

 private:
  CSessionLog();
  uint32_t threshold_ = 0;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  // The two sessions may open and write from different threads; the lock
  // keeps a write from using a handle that another thread is closing.
  CRITICAL_SECTION lock_;
};

#define CHANNEL_LOG(...) CSessionLog::Instance().Write(CSessionLog::kChannelLevel, __VA_ARGS__)
