// CPublishManager: the one object that knows which directories are published.
// It adds and removes them, turns paths into queued files, cancels published
// files, lists directories for the user interface and, at start-up, re-shares
// the stored files of the database on its loader thread, then queues again the
// files of publish-all directories that were never stored (publishing was cut
// short by a stop, a kill or a failed save).
#pragma once
#include <windows.h>

#include <atomic>
#include <deque>
#include <string>
#include <vector>

#include "foundation/sync/locks.h"
#include "foundation/sync/worker_thread.h"
#include "server/publish/codec/publish_records.h"
#include "server/publish/publish_hooks.h"

// kScanQueueUnstored queues the files that have no row, and nothing else.
enum ScanAction { kScanPublish = 1, kScanCancel = 3, kScanQueueUnstored = 4 };

// Why AddDir refused a directory.
enum class AddDirResult { kAdded, kBadPath, kOverlaps, kNotStored };

class CPublishManager {
 public:
  CPublishManager();
  ~CPublishManager();
  CPublishManager(const CPublishManager&) = delete;
  CPublishManager& operator=(const CPublishManager&) = delete;

  void SetQueue(IPublishQueue* queue) { queue_ = queue; }
  void SetShareCore(IShareCore* core) { core_ = core; }
  void SetFtpShares(IFtpShares* ftp) { ftp_ = ftp; }
  // Called by the loader thread when it has worked through its queue (it starts the directory watcher).
  void SetLoaderDone(void (*done)()) { loaderDone_ = done; }

  // The published directory that covers path on whole path components, first
  // in list order; a copy, as the list may change under the caller.
  bool FindDir(const std::wstring& path, CPublishDir* dir) const;
  // true when path is published, lies in a published directory, or holds one.
  bool OverlapsPublished(const std::wstring& path) const;
  AddDirResult AddDirEx(const std::wstring& path, int pubAll);
  int AddDir(const std::wstring& path, int pubAll) { return AddDirEx(path, pubAll) == AddDirResult::kAdded; }
  // Removes the directory whose path is exactly this one.
  void RemoveDir(const std::wstring& path);
  void PublishPath(const std::wstring& path, const CPublishDir* dir);
  void CancelFile(const std::wstring& path, const CPublishDir* dir);
  int ListDir(const std::wstring& path, std::vector<CPublishItem>* list, bool unpublishedOnly);
  void ScanDir(const std::wstring& path, int action, const CPublishDir* dir);
  std::vector<CPublishDir> Dirs() const;

  // The start-up load (startup_loader.cpp): the stored directories listed
  // and queued for the loader thread.
  int LoadFromDatabase();
  void QueueLoad(const CPublishDir& dir);
  size_t LoadQueueSize() const;
  // Starts the loader when directories wait for it; false when none do.
  bool StartLoader();
  // Waits (bounded) for the loader to end; true when it has.
  bool WaitLoader(DWORD ms);
  // From the start of the stop sequence on, every scan (a command's, the
  // watcher's, the loader's) ends at its next entry and nothing is queued.
  void BeginStop();
  bool Stopping() const { return stopping_.load(); }
  // BeginStop, then the loader (5000 ms; logged and left running when it
  // does not end), the publish task, and the directory list is emptied.
  void UnInit();

 private:
  static unsigned __stdcall LoaderThread(void* self);
  void LoaderLoop(HANDLE stop);
  bool TakeQueued(CPublishDir* dir);
  // Waits 5000 ms for the loader; one that does not end is logged and left running.
  void StopLoader();
  void QueueIfUnstored(const std::wstring& path, const CPublishDir* dir);
  // File record for a path with its attributes from the file system.
  bool BuildRecord(const std::wstring& path, const CPublishDir* dir, CPublishItem* item) const;

  mutable CLock dirsLock_;
  std::vector<CPublishDir> dirs_;
  mutable CLock loadLock_;
  std::deque<CPublishDir> loadQueue_;
  CWorkerThread loader_;
  std::atomic<bool> stopping_{false};

  IPublishQueue* queue_ = nullptr;
  IShareCore* core_ = nullptr;
  IFtpShares* ftp_ = nullptr;
  void (*loaderDone_)() = nullptr;
};

// The server's publish manager.
CPublishManager& PublishManager();

// true when the file's row exists in the database (filling the record from it).
bool IsFileRecorded(CPublishItem* item);
