// CPublishTask: turns queued files into published ones. The publish thread
// takes the queued records in key order, settles their content ids (stored
// hash record and lookup, or hashing), sends the statistics, shares the file
// with the P2P core, stores its row and, once it is stored, writes the link
// lines; the report thread then reports each published file to the p2s
// command server. A file whose row cannot be stored is not published: its
// share is taken back and it is tried again after the failing-file wait.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/sync/locks.h"
#include "foundation/sync/worker_thread.h"
#include "server/hash/codec/piece_hash.h"
#include "server/publish/codec/publish_records.h"
#include "server/publish/publish_hooks.h"
#include "server/publish/publish_reporter.h"
#include "server/publish/publish_task_clients.h"

class CPublishTask : public IPublishQueue {
 public:
  static CPublishTask* GetInstance();
  static void FreeInstance();

  // What the task talks to; the P2P core's share list is required, the
  // clients default to a server that cannot be reached.
  void SetShareCore(IShareCore* core) { core_ = core; }
  void SetLookupClient(ILookupClient* client) { lookup_ = client; }
  void SetReportClient(IReportClient* client) { reporter_.SetClient(client); }
  // Where the optional report log lies ("p2s_speedup.dat" in the program's directory).
  void SetReportLogPath(const std::wstring& path) { reporter_.SetLogPath(path); }
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
  static constexpr DWORD kStopLaterWaitMs = CPublishReporter::kStopLaterWaitMs;
  size_t TaskCount();

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
  // On the publish thread; stop is its stop event, which also cancels the
  // lookup and the hashing.
  void PublishLoop(HANDLE stop);
  bool NextTask(TaskCopy* task);
  int DoTask(TaskCopy& task, HANDLE stop);
  // Under the task lock: the entry of this task, unless it was queued anew since.
  TaskEntry* CurrentEntry(const TaskCopy& task);
  bool IsCancelled(const TaskCopy& task);
  void SetState(const TaskCopy& task, uint8_t state);
  // A failed attempt: the state (when not 0) and the file set aside for a while.
  void SetAside(const TaskCopy& task, uint8_t state);
  // The vxhd and FTP lines of a stored file in the link log.
  static void WriteLinkLines(const CPublishItem& item, const std::wstring& path);
  // From Stop on: nothing is queued and the publish thread ends its pass.
  bool Stopping() const { return stopping_.load(); }

  std::map<std::string, std::unique_ptr<TaskEntry>> tasks_;  // keys: 32 hex digits of the record id
  CLock taskLock_;  // the task map and the records in it
  CWorkerThread publisher_;
  std::atomic<bool> stopping_{false};
  CPublishReporter reporter_;

  bool threadLeft_ = false;  // a thread outlived its stop wait

  IShareCore* core_ = nullptr;
  ILookupClient* lookup_ = nullptr;
  DWORD retryBaseMs_ = 1000;
};

// Tasks in the map, for the update tick.
uint32_t PublishQueueLength();
