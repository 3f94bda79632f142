// CDirWatcher: watches the automatic-publish directory. Its thread publishes
// the directory when it starts, then publishes files that appear or change in
// it and cancels files that go; when the system's buffer overflows it rescans
// the directory instead.
#pragma once
#include <windows.h>

#include <string>

#include "foundation/sync/locks.h"
#include "foundation/sync/worker_thread.h"

class CPublishManager;

class CDirWatcher {
 public:
  explicit CDirWatcher(CPublishManager& manager) : manager_(manager) {}
  ~CDirWatcher() = default;  // the stop sequence ends the thread first (UnInit)
  CDirWatcher(const CDirWatcher&) = delete;
  CDirWatcher& operator=(const CDirWatcher&) = delete;

  // 1 when watching (or, before Enable, when the directory will be watched
  // from then on); 0 for an empty path, a path that is not a directory, a
  // failure to start the thread, or after UnInit. On success the [auto] dir
  // setting becomes the directory.
  int Start(const std::wstring& dir);
  // 0 for an empty path, or the directory already watched (in any letter
  // case, while its watch runs); otherwise Stop, then Start(dir).
  int SetDir(const std::wstring& dir);
  // Sets the stop event, waits up to 1000 ms for the thread and lets go of
  // it: a thread still running owns what it uses, ends at its next wait and
  // is counted as left running.
  void Stop();
  // At P2P login, before the loader starts: watching may begin. A directory
  // named before it is watched now, unless the loader is to start the watch
  // when it is done.
  void Enable(bool loaderStarts);
  // First in the stop sequence: logs "UnInit - DirWatcher", stops the watch
  // and waits for its thread 1000 ms, then kStopLaterWaitMs more; a thread
  // that outlives that is logged and left running (what it uses is kept).
  // Nothing starts afterwards.
  void UnInit();
  static constexpr DWORD kStopLaterWaitMs = 5000;

  // True while a watch thread runs.
  bool Watching() const;
  // The directory watched, or to be watched once enabled; empty for none.
  std::wstring Dir() const;

 private:
  struct Session;
  static unsigned __stdcall Run(void* session);
  // With lock_ held.
  int StartLocked(const std::wstring& dir);
  void StopLocked(bool waitToEnd);
  bool WatchingLocked() const;

  CPublishManager& manager_;
  mutable CLock lock_;  // the fields below; held by Start, SetDir, Stop and UnInit
  std::wstring dir_;
  CWorkerThread watch_;
  bool enabled_ = false;
  bool closed_ = false;
};

// The server's watcher, on the server's publish manager.
CDirWatcher& DirWatcher();

// The watch's own waits end at least this often, to notice a watched
// directory that went: Wine completes no read for it.
constexpr DWORD kWatchPollMs = 2000;

// Wires the watcher into the server: the publish manager's loader starts it on
// the [auto] dir setting when it is done, and command 5 moves it (an empty
// path stops it).
void ConnectDirWatcher();
