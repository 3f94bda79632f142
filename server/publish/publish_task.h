// CPublishTask: turns queued files into published ones. The publish thread
// takes the queued records in key order, settles their content ids (stored
// hash record and lookup, or hashing), sends the statistics, shares the file
// with the P2P core, stores its row and, once it is stored, writes the link
// lines; the report thread then reports each published file to the p2s
// command server. A file whose row cannot be stored is not published: its
// share is taken back and it is tried again after the failing-file wait.
#pragma once
#include <windows.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/hash/codec/piece_hash.h"
#include "server/publish/codec/publish_records.h"
#include "server/publish/publish_hooks.h"
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

class CPublishTask : public IPublishQueue {
 public:
  static CPublishTask* GetInstance();
  static void FreeInstance();

  // What the task talks to; the P2P core's share list is required, the
  // clients default to a server that cannot be reached.
  void SetShareCore(IShareCore* core) { core_ = core; }
  void SetLookupClient(ILookupClient* client) { lookup_ = client; }
  void SetReportClient(IReportClient* client) { reporter_ = client; }
  // Where the optional report log lies ("p2s_speedup.dat" in the program's directory).
  void SetReportLogPath(const std::wstring& path) { reportLogPath_ = path; }
  // The first wait of a file set aside after a failure; it doubles with
  // every failure up to kMaxRetryMs.
  void SetRetryBase(DWORD ms) { retryBaseMs_ = ms; }
  static constexpr DWORD kMaxRetryMs = 60000;

  // Creates the stop event and starts the publish thread; once only.
  void Start();
  void AddTask(const CPublishDir& dir, const std::wstring& path) override;
  void CancelTask(const std::string& idHex) override;
  bool FindTask(const std::string& idHex, CPublishItem* item) override;
  // Stops the publish thread, then the report thread. Each is waited for
  // its time (3000 and 5000 ms) and then kStopLaterWaitMs more: their
  // requests end on the stop and their hashing tests it, so only a stuck
  // system call outlasts that. What they use is freed by FreeInstance, unless
  // one of them was left running.
  void Stop() override;
  static constexpr DWORD kStopLaterWaitMs = 5000;
  size_t TaskCount();

  // Fills a record from its directory and the file's attributes; false when
  // the path does not fit the record with its terminator.
  static bool FillItem(CPublishItem* item, const CPublishDir& dir, const std::wstring& path);

  // Reads the file once in 0x40000-byte blocks: SHA-1 pieces always, MD5
  // pieces (fid, sid, piece digests) only with fullHash. 1 on success.
  static int CalcHash(const wchar_t* path, uint64_t size, DigestHolder* fid, DigestHolder* sid, DigestHolder* cid,
                      std::vector<uint8_t>* pieces, bool fullHash, HANDLE stop);

 private:
  struct TaskEntry {
    CPublishItem item;
    uint64_t generation = 0;  // bumped when the file is queued anew
    uint32_t failures = 0;
    DWORD retryAt = 0;        // tick count; meaningful while setAside
    bool setAside = false;
  };
  struct TaskCopy {
    std::string key;
    uint64_t generation = 0;
    CPublishItem item;
  };

  CPublishTask();
  ~CPublishTask();
  static unsigned __stdcall PublishThread(void* self);
  // Waits firstWaitMs, logs waitingLine, then waits laterWaitMs more; closes
  // the handle of a thread that ended. False (and the thread marked as left
  // running) when it did not end.
  bool JoinThread(HANDLE* thread, DWORD firstWaitMs, DWORD laterWaitMs, const char* waitingLine);
  void PublishLoop();
  bool NextTask(TaskCopy* task);
  int DoTask(TaskCopy& task);
  // Under the task lock: the entry of this task, unless it was queued anew since.
  TaskEntry* CurrentEntry(const TaskCopy& task);
  bool IsCancelled(const TaskCopy& task);
  void SetState(const TaskCopy& task, uint8_t state);
  // A failed attempt: the state (when not 0) and the file set aside for a while.
  void SetAside(const TaskCopy& task, uint8_t state);
  // The vxhd and FTP lines of a stored file in the link log.
  static void WriteLinkLines(const CPublishItem& item, const std::wstring& path);
  bool Stopping() const;

  void AddReport(const CPublishItem& item);
  bool StartReport();
  static unsigned __stdcall ReportThread(void* self);
  void ReportLoop();
  CReportItem* NextReport();
  // The client's code: 0 reported.
  int Report(const CReportItem& item);
  void StopReport();
  void ReportLogLine(const std::string& text);
  void CloseReportLog();

  std::map<std::string, std::unique_ptr<TaskEntry>> tasks_;  // keys: 32 hex digits of the record id
  std::mutex taskLock_;
  HANDLE stopEvent_ = nullptr;
  HANDLE publishThread_ = nullptr;

  std::mutex reportLock_;
  HANDLE reportStop_ = nullptr;  // ends the report thread and cancels its request
  HANDLE reportThread_ = nullptr;
  bool reportRunning_ = false;   // under reportLock_: a report thread will look at the queue again
  bool reportsClosed_ = false;   // under reportLock_: stopped, nothing more is queued
  std::deque<std::unique_ptr<CReportItem>> reports_;
  HANDLE reportLog_ = nullptr;

  bool threadLeft_ = false;  // a thread outlived its stop wait

  IShareCore* core_ = nullptr;
  ILookupClient* lookup_ = nullptr;
  IReportClient* reporter_ = nullptr;
  std::wstring reportLogPath_;
  DWORD retryBaseMs_ = 1000;
};

// Tasks in the map, for the update tick.
uint32_t PublishQueueLength();
