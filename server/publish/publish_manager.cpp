// The publish manager: directory list, scans, cancel and listing; the
// start-up loader is in startup_loader.cpp.
#include "server/publish/publish_manager.h"

#include <cstring>

#include "foundation/log/server_logs.h"
#include "foundation/util/code_pages.h"
#include "foundation/text/hex_text.h"
#include "foundation/util/path_ops.h"
#include "foundation/util/wide_text.h"
#include "foundation/util/file_ops.h"
#include "server/db/published_db.h"
#include "server/publish/file_record.h"

namespace {
const char16_t* U16(const std::wstring& s) { return reinterpret_cast<const char16_t*>(s.c_str()); }
std::wstring PathOf(const void* field) { return ToWide(RecordPathText(field)); }

bool EqualNoCase(const wchar_t* a, const wchar_t* b, size_t n) {
  return n == 0 || CompareStringOrdinal(a, static_cast<int>(n), b, static_cast<int>(n), TRUE) == CSTR_EQUAL;
}

// true when dir covers path: equal, or a prefix that ends at a path separator.
bool Covers(const std::wstring& dir, const std::wstring& path) {
  if (dir.empty() || path.size() < dir.size() || !EqualNoCase(dir.c_str(), path.c_str(), dir.size())) return false;
  return path.size() == dir.size() || dir.back() == L'\\' || path[dir.size()] == L'\\';
}


// Search pattern of a scan and the directory its entries lie in.
void Pattern(const std::wstring& path, std::wstring* pattern, std::wstring* base) {
  if (path.find(L"\\*") != std::wstring::npos) {
    *pattern = path;
    *base = path.substr(0, path.rfind(L'\\'));
  } else {
    *base = path;
    if (!base->empty() && base->back() == L'\\') base->pop_back();
    *pattern = *base + L"\\*";
  }
}

bool IsDirectoryPath(const std::wstring& p) { return !p.empty() && IsDirectory(p.c_str()); }

void LogPathTooLong(const char* where, const std::wstring& path) {
  WriteLog(&g_MainLog, 3, "%s - path too long - %s", where, Utf16ToGbk(path).c_str());
}
}  // namespace

CPublishManager& PublishManager() {
  static CPublishManager manager;
  return manager;
}

bool IsFileRecorded(CPublishItem* item) { return QueryFile(item); }

CPublishManager::CPublishManager() = default;

CPublishManager::~CPublishManager() {
  // The loader is stopped by UnInit at shutdown; a process that ends without
  // it leaves the handles to the system.
}

bool CPublishManager::FindDir(const std::wstring& path, CPublishDir* dir) const {
  if (path.empty()) return false;
  CLockGuard lock(dirsLock_);
  for (const CPublishDir& d : dirs_) {
    if (Covers(PathOf(d.path), path)) {
      if (dir) *dir = d;
      return true;
    }
  }
  return false;
}

bool CPublishManager::OverlapsPublished(const std::wstring& path) const {
  if (path.empty()) return false;
  CLockGuard lock(dirsLock_);
  for (const CPublishDir& d : dirs_) {
    const std::wstring p = PathOf(d.path);
    if (Covers(p, path) || Covers(path, p)) return true;
  }
  return false;
}

std::vector<CPublishDir> CPublishManager::Dirs() const {
  CLockGuard lock(dirsLock_);
  return dirs_;
}

bool CPublishManager::BuildRecord(const std::wstring& path, const CPublishDir* dir, CPublishItem* item) const {
  if (!FillFileRecord(item, dir, path)) return false;
  item->state = kPublishNone;
  return true;
}

AddDirResult CPublishManager::AddDirEx(const std::wstring& path, int pubAll) {
  if (path.empty()) return AddDirResult::kBadPath;
  CPublishDir dir;
  std::memset(&dir, 0, sizeof dir);
  if (!SetRecordPath(dir.path, U16(path), path.size())) {
    LogPathTooLong("AddDir", path);
    return AddDirResult::kBadPath;
  }
  MakePathRecordId(path, dir.dirId);
  dir.pubAll = pubAll ? 1 : 0;
  {
    // Checked and appended under one lock, so two adds cannot both pass the check.
    CLockGuard lock(dirsLock_);
    for (const CPublishDir& d : dirs_) {
      const std::wstring p = PathOf(d.path);
      if (Covers(p, path) || Covers(path, p)) {
        WriteLog(&g_MainLog, 1, "AddDir - overlaps published %s", Utf16ToGbk(p).c_str());
        return AddDirResult::kOverlaps;
      }
    }
    // Kept only once it is stored, so that what is listed is what a restart loads.
    if (!SaveDir(dir, path.c_str(), dir.pubAll)) {
      WriteLog(&g_MainLog, 3, "AddDir - SaveDir failed - %s", Utf16ToGbk(path).c_str());
      return AddDirResult::kNotStored;
    }
    dirs_.push_back(dir);
  }
  if (dir.pubAll) PublishPath(path, &dir);
  if (ftp_) ftp_->AddShare(path);
  return AddDirResult::kAdded;
}

void CPublishManager::RemoveDir(const std::wstring& path) {
  if (path.empty()) return;
  CPublishDir dir;
  bool found = false;
  {
    CLockGuard lock(dirsLock_);
    for (const CPublishDir& d : dirs_) {
      const std::wstring p = PathOf(d.path);
      if (p.size() == path.size() && EqualNoCase(p.c_str(), path.c_str(), p.size())) {
        dir = d;
        found = true;
        break;
      }
    }
  }
  if (!found) return;
  const std::wstring dirPath = PathOf(dir.path);
  if (ftp_) ftp_->RemoveShare(dirPath);
  ::RemoveDir(dirPath.c_str());
  CancelFile(dirPath, &dir);
  DropTable(DirTableName(dir.dirId).c_str());
  CLockGuard lock(dirsLock_);
  for (auto it = dirs_.begin(); it != dirs_.end(); ++it) {
    if (std::memcmp(it->dirId, dir.dirId, 16) == 0) {
      dirs_.erase(it);
      break;
    }
  }
}

void CPublishManager::PublishPath(const std::wstring& path, const CPublishDir* dir) {
  if (path.empty()) return;
  // A path that is not there would otherwise become a directory of its own below.
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    WriteLog(&g_MainLog, 1, "PublishPath - No exist - %s", Utf16ToGbk(path).c_str());
    return;
  }
  CPublishDir covering;
  if (dir == nullptr) {
    if (!FindDir(path, &covering)) {
      // A directory outside every published one becomes one; a file cannot:
      // it would be listed, shared and stored as a directory.
      if (IsDirectoryPath(path))
        AddDir(path, 1);
      else
        WriteLog(&g_MainLog, 1, "PublishPath - not in a published directory - %s", Utf16ToGbk(path).c_str());
      return;
    }
    dir = &covering;
  }
  if (IsDirectoryPath(path)) {
    ScanDir(path, kScanPublish, dir);
    return;
  }
  CPublishItem item;
  if (!BuildRecord(path, dir, &item)) {
    LogPathTooLong("PublishPath", path);
    return;
  }
  const int64_t size = item.fileSize, lmt = item.lastModTime;
  if (Stopping()) return;
  if (IsFileRecorded(&item) && item.fileSize == size && item.lastModTime == lmt) return;  // unchanged
  if (size > 0 && queue_) queue_->AddTask(*dir, path);
}

void CPublishManager::ScanDir(const std::wstring& path, int action, const CPublishDir* dir) {
  if (path.empty()) return;
  std::wstring pattern, base;
  Pattern(path, &pattern, &base);
  WIN32_FIND_DATAW fd;
  if (Stopping()) return;
  HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    if (Stopping()) break;  // a stop does not wait for a large directory
    if (IsDotEntry(fd) || (fd.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN)) continue;
    const std::wstring full = base + L"\\" + fd.cFileName;
    // Junctions and links may lead out of the published tree or round in a circle.
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      WriteLog(&g_MainLog, 1, "ScanDir - skip reparse point - %s", Utf16ToGbk(full).c_str());
      continue;
    }
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ScanDir(full, action, dir);
      continue;
    }
    if (FileSizeOf(fd) == 0 || !IsPublishableFile(full)) continue;
    if (full.size() >= kRecordPathUnits) {
      LogPathTooLong("ScanDir", full);
      continue;
    }
    if (action == kScanPublish) PublishPath(full, dir);
    else if (action == kScanCancel) CancelFile(full, dir);
    else if (action == kScanQueueUnstored) QueueIfUnstored(full, dir);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
}

void CPublishManager::QueueIfUnstored(const std::wstring& path, const CPublishDir* dir) {
  CPublishItem item;
  if (dir == nullptr || queue_ == nullptr || !BuildRecord(path, dir, &item) || item.fileSize <= 0) return;
  if (IsFileRecorded(&item)) return;  // stored: shared by the loader, or changed since and left to the user
  queue_->AddTask(*dir, path);
}

void CPublishManager::CancelFile(const std::wstring& path, const CPublishDir* dir) {
  if (path.empty()) return;
  WriteLog(&g_MainLog, 1, "cancel published file %s", Utf16ToGbk(path).c_str());
  CPublishDir covering;
  if (dir == nullptr && FindDir(path, &covering)) dir = &covering;
  if (IsDirectoryPath(path)) {
    ScanDir(path, kScanCancel, dir);
    return;
  }
  CPublishItem item;
  if (!BuildRecord(path, dir, &item)) {
    LogPathTooLong("CancelFile", path);
    return;
  }
  if (queue_) queue_->CancelTask(BytesToHex(item.id));
  if (dir == nullptr || !QueryFile(&item)) return;
  if (core_ && core_->IsLoggedIn()) {
    WriteLog(&g_MainLog, 1, "delete from p2p");
    core_->DeleteShare(item.fid);
  }
  WriteLog(&g_MainLog, 1, "delete from database");
  RemoveFile(DirTableName(dir->dirId).c_str(), path.c_str());
}

int CPublishManager::ListDir(const std::wstring& path, std::vector<CPublishItem>* list, bool unpublishedOnly) {
  if (path.empty() || list == nullptr) return 0;
  std::wstring pattern, base;
  Pattern(path, &pattern, &base);
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return 0;
  CPublishDir dir;
  if (!FindDir(base, &dir)) {
    FindClose(h);
    return 0;
  }
  do {
    if (Stopping()) break;
    if (IsDotEntry(fd)) continue;
    const std::wstring full = base + L"\\" + fd.cFileName;
    if (full.size() >= kRecordPathUnits) {
      LogPathTooLong("ListDir", full);
      continue;
    }
    CPublishItem item;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (unpublishedOnly) {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) ListDir(full, list, true);
        continue;
      }
      BuildRecord(full, &dir, &item);
      item.attributes |= FILE_ATTRIBUTE_DIRECTORY;
      list->push_back(item);
      continue;
    }
    if (FileSizeOf(fd) == 0 || !IsPublishableFile(full)) continue;
    BuildRecord(full, &dir, &item);
    if (IsFileRecorded(&item)) {
      item.state = kPublishDone;
      if (!unpublishedOnly) list->push_back(item);
      continue;
    }
    CPublishItem queued;
    if (queue_ && queue_->FindTask(BytesToHex(item.id), &queued)) list->push_back(queued);
    else list->push_back(item);
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return 1;
}

void CPublishManager::BeginStop() {
  stopping_ = true;
  loader_.RequestStop();
}

void CPublishManager::UnInit() {
  WriteLog(&g_MainLog, 1, "UnInit - Database");
  BeginStop();
  StopLoader();
  if (queue_) queue_->Stop();
  CLockGuard lock(dirsLock_);
  dirs_.clear();
}
