// The directory watcher: its start and stop, and the watch thread with its
// overlapped ReadDirectoryChangesW.
#include "server/watch/dir_watcher.h"

#include <memory>
#include <vector>

#include "foundation/check/orchard_assert.h"
#include "foundation/log/server_logs.h"
#include "foundation/text/ascii_case.h"
#include "foundation/util/code_pages.h"
#include "foundation/util/file_ops.h"
#include "foundation/util/path_ops.h"
#include "foundation/util/wide_text.h"
#include "server/config/svr_config.h"
#include "server/control/dir_commands.h"
#include "server/publish/publish_manager.h"
#include "server/watch/codec/dir_changes.h"

namespace {
constexpr DWORD kChangeFilter = 0x17F;  // names, attributes, size, times and security
constexpr DWORD kStopWaitMs = 1000;

std::string Gbk(const std::wstring& s) { return Utf16ToGbk(s); }
std::wstring Wide(const std::u16string& s) { return ToWide(s); }

ChangedEntry Look(const std::wstring& path) {
  ChangedEntry entry;
  DWORD attributes = 0;
  if (!GetFileInfo(path.c_str(), &entry.size, nullptr, &attributes)) return entry;
  entry.exists = true;
  entry.isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return entry;
}

// The publishable files below dir, as the publish scan walks them; it ends
// early once stop is set.
void ScanFiles(const std::wstring& dir, HANDLE stop, WatchedFiles* files) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    if (IsDotEntry(fd) || (fd.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_REPARSE_POINT))) continue;
    const std::wstring full = dir + L"\\" + fd.cFileName;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ScanFiles(full, stop, files);
    else if (IsPublishableFile(full))
      files->insert(std::u16string(AsU16(full)));
  } while (!EventWait(stop, 0) && FindNextFileW(h, &fd));
  FindClose(h);
}

std::wstring WithoutTrailingBackslash(std::wstring dir) {
  while (dir.size() > 3 && dir.back() == L'\\') dir.pop_back();
  return dir;
}
}  // namespace

// What one watch thread owns: it frees all of it itself when it ends, so a
// stop that stops waiting frees nothing under it.
struct CDirWatcher::Session {
  CPublishManager* manager;
  const CWorkerThread* worker;
  std::wstring dir;
  HANDLE stop = nullptr;  // the worker's stop event, taken at the thread's start
  HANDLE directory = INVALID_HANDLE_VALUE;
  HANDLE change = nullptr;
  OVERLAPPED overlapped = {};
  bool pending = false;  // a read is in flight: the system may still write the buffer
  alignas(DWORD) uint8_t buffer[kDirChangeBufferBytes] = {};
  WatchedFiles files;

  ~Session() {
    if (pending) CancelRead();
    if (HandlePresent(directory)) CloseHandle(directory);
    EventClose(&change);
  }
  bool Stopping() const { return EventWait(stop, 0); }
  void Watch();
  bool Read();
  // Cancels the read in flight and waits until the system no longer writes the buffer.
  void CancelRead();
  void OnChanges(DWORD bytes);
  void OnChange(const DirChange& change);
  // The files below path join the known files and are published one by one,
  // stopping between them when asked.
  void PublishFiles(const std::wstring& path);
  void PublishFound(const std::wstring& path, const WatchedFiles& found);
  void Rescan();
  bool Publish(const std::wstring& path);
};

bool CDirWatcher::Session::Read() {
  overlapped = {};
  overlapped.hEvent = change;
  pending = ReadDirectoryChangesW(directory, buffer, sizeof buffer, TRUE, kChangeFilter, nullptr, &overlapped,
                                  nullptr) != FALSE;
  if (pending) return true;
  WriteLog(&g_MainLog, 1, "AutoPub - watch ended - %s (%lu)", Gbk(dir).c_str(), GetLastError());
  return false;
}

void CDirWatcher::Session::CancelRead() {
  DWORD bytes = 0;
  CancelIo(directory);
  GetOverlappedResult(directory, &overlapped, &bytes, TRUE);
  pending = false;
}

bool CDirWatcher::Session::Publish(const std::wstring& path) {
  // A file of a directory no longer published would become a directory of its own.
  if (!manager->FindDir(path, nullptr)) {
    WriteLog(&g_MainLog, 1, "AutoPub - not in a published directory - %s", Gbk(path).c_str());
    return false;
  }
  manager->PublishPath(path, nullptr);
  return true;
}

void CDirWatcher::Session::OnChange(const DirChange& change) {
  const std::u16string joined = WatchedPath(AsU16(dir), change.name);
  if (joined.empty()) {
    WriteLog(&g_MainLog, 1, "AutoPub - path too long - %s\\%s", Gbk(dir).c_str(), Gbk(Wide(change.name)).c_str());
    return;
  }
  const std::wstring path = Wide(joined);
  WriteLog(&g_MainLog, 1, "AutoPub - %d(%d) - %s", int(change.action), int(change.nextOffset), Gbk(path).c_str());
  const ChangedEntry entry = Look(path);
  switch (StepForChange(change.action, joined, entry)) {
    case WatchStep::kPublish:
      WriteLog(&g_MainLog, 1, change.action == kChangeAdded ? "AutoPub - added - %s" : "AutoPub - modified - %s",
               Gbk(path).c_str());
      if (entry.isDirectory)
        PublishFiles(path);
      else
        Publish(path);
      break;
    case WatchStep::kCancel:
      WriteLog(&g_MainLog, 1, "AutoPub - removed - %s", Gbk(path).c_str());
      manager->CancelFile(path, nullptr);
      break;
    case WatchStep::kLogOnly:
      break;
  }
  TrackChange(change.action, joined, entry, &files);
}

void CDirWatcher::Session::OnChanges(DWORD bytes) {
  std::vector<DirChange> changes;
  if (!ParseDirChanges(buffer, bytes < sizeof buffer ? bytes : sizeof buffer, &changes))
    WriteLog(&g_MainLog, 3, "AutoPub - bad change record after %u - %s", unsigned(changes.size()), Gbk(dir).c_str());
  for (const DirChange& c : changes) {
    if (Stopping()) return;
    OnChange(c);
  }
}

void CDirWatcher::Session::PublishFound(const std::wstring& path, const WatchedFiles& found) {
  if (!manager->FindDir(path, nullptr)) {
    WriteLog(&g_MainLog, 1, "AutoPub - not in a published directory - %s", Gbk(path).c_str());
    return;
  }
  for (const std::u16string& file : found) {
    if (Stopping()) return;
    manager->PublishPath(Wide(file), nullptr);
  }
}

void CDirWatcher::Session::PublishFiles(const std::wstring& path) {
  WatchedFiles found;
  ScanFiles(path, stop, &found);
  files.insert(found.begin(), found.end());
  PublishFound(path, found);
}

void CDirWatcher::Session::Rescan() {
  WriteLog(&g_MainLog, 1, "AutoPub - changes overflowed, rescan - %s", Gbk(dir).c_str());
  // One scan for both: a file that goes after it is still known, so its
  // removal is cancelled by its own change or by the next rescan.
  WatchedFiles now;
  ScanFiles(dir, stop, &now);
  if (Stopping()) return;
  for (const std::u16string& gone : VanishedFiles(files, now)) {
    WriteLog(&g_MainLog, 1, "AutoPub - removed - %s", Gbk(Wide(gone)).c_str());
    manager->CancelFile(Wide(gone), nullptr);
  }
  files = now;
  PublishFound(dir, now);  // new and changed files; unchanged ones are skipped
}

void CDirWatcher::Session::Watch() {
  // The watch is set up before the directory is published, so what changes
  // while that runs waits in the buffer instead of going unseen.
  directory = CreateFileW(dir.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  const DWORD openError = HandlePresent(directory) ? 0 : GetLastError();
  change = EventCreate(false);
  const bool reading = !openError && change && Read();
  if (manager->FindDir(dir, nullptr)) {
    PublishFiles(dir);
  } else {
    manager->PublishPath(dir, nullptr);  // not published yet: added and published whole
    ScanFiles(dir, stop, &files);
  }
  if (openError) WriteLog(&g_MainLog, 1, "AutoPub - cannot open - %s (%lu)", Gbk(dir).c_str(), openError);
  if (!reading) return;
  for (;;) {
    HANDLE handles[2] = {stop, change};
    const DWORD woke = WaitForMultipleObjects(2, handles, FALSE, kWatchPollMs);
    if (woke == WAIT_OBJECT_0 + 1) {
      DWORD bytes = 0;
      const BOOL done = GetOverlappedResult(directory, &overlapped, &bytes, FALSE);
      if (!done && GetLastError() == ERROR_IO_INCOMPLETE) continue;
      pending = false;
      if (done) {
        if (bytes == 0)
          Rescan();  // the system had more changes than the buffer holds
        else
          OnChanges(bytes);
      } else if (GetLastError() == ERROR_NOTIFY_ENUM_DIR) {
        Rescan();  // Wine's way of saying the same
      } else {
        WriteLog(&g_MainLog, 1, "AutoPub - watch ended - %s (%lu)", Gbk(dir).c_str(), GetLastError());
        return;
      }
      if (Stopping()) return;
      if (!IsDirectory(dir.c_str())) break;
      if (!Read()) return;
    } else if (woke == WAIT_TIMEOUT) {
      if (!IsDirectory(dir.c_str())) {
        CancelRead();
        break;
      }
    } else {
      CancelRead();  // the stop event, or a wait that failed
      return;
    }
  }
  WriteLog(&g_MainLog, 1, "AutoPub - watched directory gone - %s", Gbk(dir).c_str());
}

unsigned __stdcall CDirWatcher::Run(void* argument) {
  std::unique_ptr<Session> session(static_cast<Session*>(argument));
  // The worker closes the event once the thread has ended, or leaves it open
  // for a thread let go after its stop wait.
  session->stop = session->worker->StopEvent();
  WriteLog(&g_MainLog, 1, "AutoPublish Start, ThreadID=(%lu)", GetCurrentThreadId());
  session->Watch();
  return 0;
}

int CDirWatcher::Start(const std::wstring& dir) {
  CLockGuard hold(lock_);
  return StartLocked(dir);
}

int CDirWatcher::StartLocked(const std::wstring& path) {
  ORCHARD_ASSERT(lock_.HeldByThisThread());
  if (closed_ || path.empty()) return 0;
  const std::wstring dir = WithoutTrailingBackslash(path);
  if (!IsDirectory(dir.c_str())) {
    WriteLog(&g_MainLog, 1, "AutoPub - not a directory - %s", Gbk(dir).c_str());
    return 0;
  }
  dir_ = dir;
  g_SvrConfig.SetAutoDir(dir);
  if (!enabled_) return 1;  // watched from the P2P login on

  auto session = std::make_unique<Session>();
  session->manager = &manager_;
  session->worker = &watch_;
  session->dir = dir;
  if (!watch_.Start(Run, session.get())) return 0;
  session.release();  // the thread's now
  return 1;
}

void CDirWatcher::StopLocked(bool waitToEnd) {
  ORCHARD_ASSERT(lock_.HeldByThisThread());
  // Its scans look at the stop between files, so only a stuck system call
  // keeps it longer; then it is left running and what it uses is kept. The
  // thread owns its session.
  if (waitToEnd)
    watch_.Stop(kStopWaitMs, kStopLaterWaitMs,
                MainLogStopLines("AutoPub - waiting for the watch thread to end",
                                 "AutoPub - the watch thread did not end in time; it is left running"));
  else
    watch_.Stop(kStopWaitMs);
}

int CDirWatcher::SetDir(const std::wstring& path) {
  CLockGuard hold(lock_);
  if (path.empty()) return 0;
  const std::wstring dir = WithoutTrailingBackslash(path);
  const bool same = CompareNoCase(AsU16(dir), AsU16(dir_)) == 0;
  if (same && (enabled_ ? WatchingLocked() : !dir_.empty())) return 0;
  StopLocked(false);
  dir_.clear();
  return StartLocked(dir);
}

void CDirWatcher::Stop() {
  CLockGuard hold(lock_);
  StopLocked(false);
  dir_.clear();
}

void CDirWatcher::Enable(bool loaderStarts) {
  CLockGuard hold(lock_);
  if (enabled_ || closed_) return;
  enabled_ = true;
  const std::wstring named = dir_;
  dir_.clear();
  if (!named.empty() && !loaderStarts) StartLocked(named);
}

void CDirWatcher::UnInit() {
  CLockGuard hold(lock_);
  WriteLog(&g_MainLog, 1, "UnInit - DirWatcher");
  closed_ = true;
  // Waited for to its end: the publish manager it calls goes next.
  StopLocked(true);
  dir_.clear();
}

bool CDirWatcher::WatchingLocked() const {
  ORCHARD_ASSERT(lock_.HeldByThisThread());
  return watch_.Running() && !watch_.Ended();
}

bool CDirWatcher::Watching() const {
  CLockGuard hold(lock_);
  return WatchingLocked();
}

std::wstring CDirWatcher::Dir() const {
  CLockGuard hold(lock_);
  return dir_;
}

CDirWatcher& DirWatcher() {
  static CDirWatcher watcher(PublishManager());
  return watcher;
}

void ConnectDirWatcher() {
  PublishManager().SetLoaderDone([] {
    const std::wstring dir = g_SvrConfig.AutoDir();
    if (!dir.empty()) DirWatcher().SetDir(dir);
  });
  SetAutoDirHandler([](const std::wstring& dir) {
    if (dir.empty())
      DirWatcher().Stop();
    else
      DirWatcher().SetDir(dir);
  });
}
