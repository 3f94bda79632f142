// The report thread: each published file reported to the p2s command
// server, at most three attempts, with the optional report log.
#include "server/publish/publish_reporter.h"

#include <cstring>

#include "foundation/check/orchard_assert.h"
#include "foundation/log/server_logs.h"
#include "foundation/text/download_link.h"
#include "foundation/text/ascii_case.h"
#include "foundation/text/hex_text.h"
#include "foundation/util/code_pages.h"
#include "foundation/util/path_ops.h"
#include "server/hash/codec/piece_size.h"
#include "server/hash/hash_serial.h"
#include "server/links/links.h"

namespace {
constexpr DWORD kReportTimeoutMs = 3000;
constexpr int kReportTries = 3;
// Three attempts of 3000 ms and their connects: the request never runs longer.
constexpr DWORD kReportDeadlineMs = 10000;
constexpr uint32_t kMaxReportAttempts = 3;
}  // namespace

CPublishReporter::~CPublishReporter() { StopReport(); }

void CPublishReporter::AddReport(const CPublishItem& record) {
  auto item = std::make_unique<CReportItem>();
  std::memset(item.get(), 0, sizeof *item);
  std::memcpy(item->fid, record.fid, 16);
  std::memcpy(item->sid, record.sid, 16);
  const size_t units = RecordPathLength(record.fileName);
  std::memcpy(item->path, record.fileName, units * sizeof(char16_t));
  item->path[units < kRecordPathUnits ? units : kRecordPathUnits - 1] = 0;
  item->fileSize = uint64_t(record.fileSize);
  WriteLog(&g_MainLog, 1, "PUBTASK - AddReport - %s", Utf16ToGbk(item->path).c_str());
  // The running flag is cleared under this lock by a thread that found the
  // queue empty, so a report queued at that moment starts a new thread; and
  // a start cannot meet the stop, which closes the queue under it first.
  CLockGuard guard(reportLock_);
  if (closed_) return;
  reports_.push_back(std::move(item));
  if (!running_) running_ = StartReport();  // when it fails the report waits for the next start
}

bool CPublishReporter::StartReport() {
  ORCHARD_ASSERT(reportLock_.HeldByThisThread());
  // The previous thread has left its loop (it cleared the running flag and
  // takes the lock no more); collect it before starting anew.
  worker_.Stop(INFINITE);
  CloseReportLog();
  if (!logPath_.empty() && PathExists(logPath_.c_str())) {
    HANDLE log = CreateFileW(logPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_FLAG_WRITE_THROUGH, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
      SetFilePointer(log, 0, nullptr, FILE_END);
      reportLog_ = log;
    }
  }
  return worker_.Start(ReportThread, this);
}

unsigned __stdcall CPublishReporter::ReportThread(void* self) {
  WriteLog(&g_MainLog, 1, "Report ThreadStart, ThreadID=(%lu)", GetCurrentThreadId());
  auto* reporter = static_cast<CPublishReporter*>(self);
  // Its own copy: the event stays open for a thread let go after its stop wait.
  reporter->ReportLoop(reporter->worker_.StopEvent());
  return 0;
}

void CPublishReporter::ReportLoop(HANDLE stop) {
  while (!worker_.StopRequested(10)) {
    CReportItem* item = NextReport();
    if (!item) return;  // queue empty: the running flag is already cleared
    const int error = Report(*item, stop);
    CLockGuard guard(reportLock_);
    CountAttempt(item, error);
  }
}

void CPublishReporter::CountAttempt(CReportItem* item, int error) {
  ORCHARD_ASSERT(reportLock_.HeldByThisThread());
  // A refusal (-700, -101) is a failed attempt like any other: tried again up to the limit.
  if (error == kHttpOk)
    item->done = 1;
  else
    ++item->tries;
}

CReportItem* CPublishReporter::NextReport() {
  CLockGuard guard(reportLock_);
  while (!reports_.empty()) {
    CReportItem* front = reports_.front().get();
    if (!front->done && front->tries < kMaxReportAttempts) return front;
    reports_.pop_front();
  }
  running_ = false;
  return nullptr;
}

void CPublishReporter::CloseReportLog() {
  if (HandlePresent(reportLog_)) CloseHandle(reportLog_);
  reportLog_ = nullptr;
}

void CPublishReporter::ReportLogLine(const std::string& text) {
  if (!reportLog_) return;
  const std::string line = "[" + LocalTimeText(1) + "] " + text;
  DWORD done = 0;
  WriteFile(reportLog_, line.data(), DWORD(line.size()), &done, nullptr);
}

int CPublishReporter::Report(const CReportItem& item, HANDLE stop) {
  ReportRequest request;
  request.size = item.fileSize;
  if (item.fileSize) request.pieceDigests.reserve(size_t(GetPieceCount(item.fileSize) * 16));
  CHashSerial::GetInstance()->LoadDigests(item.sid, item.fid, item.fileSize, &request.pieceDigests);
  std::string link = Utf16ToGbk(MakeFtpLink(item.path));
  DecodeDownloadLink(link, SystemLinkTextEnv());
  request.fidHex = HexText(item.fid, 16);
  const std::string& fid = request.fidHex;
  ReportLogLine(fid + ", File:" + Utf16ToGbk(item.path) + ", Size:" + std::to_string(item.fileSize) +
                ", FullHash:" + std::to_string(request.pieceDigests.size()) + "\r\n");
  if (!link.empty()) {
    request.link = link;
    ReportLogLine("Report URL: " + fid + " -> " + ToUpperString(link) + "\r\n");
  }
  int error = 0;
  IReportClient& client = client_ ? *client_ : UnreachableReportClient();
  if (!client.Send(request, stop, kReportTimeoutMs, kReportTries, kReportDeadlineMs, &error))
    ReportLogLine(fid + " Report false \r\n");
  if (error == kHttpOk) {
    ReportLogLine(fid + " Report ok \r\n");
    return error;
  }
  ReportLogLine(fid + " Report Error " + std::to_string(error) + " \r\n");
  return error;
}

bool CPublishReporter::StopReport() {
  {
    CLockGuard guard(reportLock_);
    closed_ = true;
  }
  // The request in flight ends on the stop event; the queue and the log stay
  // until the thread is gone, and stay for good if it never ends.
  if (!worker_.Stop(5000, kStopLaterWaitMs,
                    MainLogStopLines("PUBTASK - waiting for the report thread to end",
                                     "PUBTASK - a thread did not end in time; it is left running")))
    return false;
  CloseReportLog();
  CLockGuard guard(reportLock_);
  reports_.clear();
  running_ = false;
  return true;
}
