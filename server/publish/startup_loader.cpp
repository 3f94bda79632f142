// The publish manager's start-up load: the stored directories read from the
// database and queued, and the loader thread that re-shares their stored
// files at the P2P login, then starts the directory watcher.
#include <string>
#include <vector>

#include "foundation/log/server_logs.h"
#include "foundation/util/code_pages.h"
#include "foundation/util/path_ops.h"
#include "foundation/util/wide_text.h"
#include "server/db/published_db.h"
#include "server/publish/publish_manager.h"

namespace {
int ShareStored(const wchar_t* path, uint64_t size, const uint8_t fid[16], void* core) {
  return core ? static_cast<IShareCore*>(core)->AddShare(path, size, fid) : -1;
}
}  // namespace

int CPublishManager::LoadFromDatabase() {
  // Opened here at start-up; an open connection (a test's) is used as it is.
  if (!IsDatabaseOpen() && !OpenDatabase()) return 0;
  std::vector<CPublishDir> stored;
  LoadDirs([](const CPublishDir& d, void* ctx) { static_cast<std::vector<CPublishDir>*>(ctx)->push_back(d); },
           &stored);
  for (const CPublishDir& d : stored) {
    const std::wstring p = ToWide(RecordPathText(d.path));
    if (p.empty() || !IsDirectory(p.c_str())) continue;  // the row stays for when the directory comes back
    {
      CLockGuard lock(dirsLock_);
      dirs_.push_back(d);
    }
    WriteLog(&g_MainLog, 1, "publish dir - %s", Utf16ToGbk(p).c_str());
    QueueLoad(d);
  }
  return 1;
}

void CPublishManager::QueueLoad(const CPublishDir& dir) {
  CLockGuard lock(loadLock_);
  loadQueue_.push_back(dir);
}

size_t CPublishManager::LoadQueueSize() const {
  CLockGuard lock(loadLock_);
  return loadQueue_.size();
}

bool CPublishManager::TakeQueued(CPublishDir* dir) {
  CLockGuard lock(loadLock_);
  if (loadQueue_.empty()) return false;
  *dir = loadQueue_.front();
  loadQueue_.pop_front();
  return true;
}

bool CPublishManager::StartLoader() {
  if (Stopping() || LoadQueueSize() == 0) return false;
  // A loader that has worked through its queue is collected before a new one starts.
  if (loader_.Ended()) loader_.Stop(0);
  if (!loader_.Running() && !loader_.Start(LoaderThread, this)) return false;
  WriteLog(&g_MainLog, 1, "Start add files to p2p");
  return true;
}

unsigned __stdcall CPublishManager::LoaderThread(void* self) {
  auto* manager = static_cast<CPublishManager*>(self);
  // Its own copy: the event stays open for a thread let go after its stop wait.
  manager->LoaderLoop(manager->loader_.StopEvent());
  return 0;
}

void CPublishManager::LoaderLoop(HANDLE stop) {
  for (;;) {
    if (EventWait(stop, 0)) return;
    CPublishDir dir;
    if (!TakeQueued(&dir)) {
      if (loaderDone_) loaderDone_();
      return;
    }
    const std::wstring p = ToWide(RecordPathText(dir.path));
    WriteLog(&g_MainLog, 1, "Load directory - %s", Utf16ToGbk(p).c_str());
    LoadFile(DirTableName(dir.dirId).c_str(), stop, &ShareStored, core_);
    // The queue lived in memory: what a publish-all directory had not stored
    // yet is queued again, without the user publishing it anew.
    if (dir.pubAll && !EventWait(stop, 0)) {
      WriteLog(&g_MainLog, 1, "Load directory - queue files not stored - %s", Utf16ToGbk(p).c_str());
      ScanDir(p, kScanQueueUnstored, &dir);
    }
  }
}

bool CPublishManager::WaitLoader(DWORD ms) { return !loader_.Running() || ThreadWait(loader_.Thread(), ms); }

void CPublishManager::StopLoader() {
  // A loader still inside SQLite after the wait keeps its handles: closing them
  // under a live thread would be worse than leaking them.
  loader_.Stop(5000, 0, MainLogStopLines(nullptr, "UnInit - the loader thread did not end in time; it is left running"));
}
