// CPublishReporter: the report side of publishing. Each file the publish
// thread has published is queued here; the report thread, started by the
// first queued report and ended by itself once the queue is empty, reports it
// to the p2s command server ("commit?cmd=finfo"), at most three attempts, and
// writes the optional report log "p2s_speedup.dat".
#pragma once
#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "foundation/sync/locks.h"
#include "foundation/sync/worker_thread.h"
#include "server/publish/codec/publish_records.h"
#include "server/publish/publish_task_clients.h"

// One published file waiting to be reported; zero-filled when made.
struct CReportItem {
  uint8_t fid[16];
  uint8_t sid[16];
  wchar_t path[kRecordPathUnits];  // terminated
  uint64_t fileSize;
  uint32_t done;   // 1 once reported
  uint32_t tries;  // failed attempts
};

class CPublishReporter {
 public:
  CPublishReporter() = default;
  ~CPublishReporter();
  CPublishReporter(const CPublishReporter&) = delete;
  CPublishReporter& operator=(const CPublishReporter&) = delete;

  // Unset, reports go to a server that cannot be reached.
  void SetClient(IReportClient* client) { client_ = client; }
  void SetLogPath(const std::wstring& path) { logPath_ = path; }

  // Queues the file's report and starts the report thread when none runs.
  void AddReport(const CPublishItem& item);
  // Nothing is queued from now on; the thread is waited for 5000 ms, then
  // kStopLaterWaitMs more (its request ends on the stop). False when it is
  // left running: then the queue and the log stay for it.
  bool StopReport();
  static constexpr DWORD kStopLaterWaitMs = 5000;

 private:
  bool StartReport();
  static unsigned __stdcall ReportThread(void* self);
  void ReportLoop(HANDLE stop);
  CReportItem* NextReport();
  // Under the report lock: the outcome of one attempt.
  void CountAttempt(CReportItem* item, int error);
  // The client's code: 0 reported. The stop event ends the request in flight.
  int Report(const CReportItem& item, HANDLE stop);
  void ReportLogLine(const std::string& text);
  void CloseReportLog();

  CLock reportLock_;  // the queue and the two flags below
  CWorkerThread worker_;
  bool running_ = false;  // a report thread will look at the queue again
  bool closed_ = false;   // stopped: nothing more is queued
  std::deque<std::unique_ptr<CReportItem>> reports_;
  HANDLE reportLog_ = nullptr;  // the report thread's, opened at its start

  IReportClient* client_ = nullptr;
  std::wstring logPath_;
};
