// The publish thread of CPublishTask: the task map, the checks, hashing,
// statistics, link lines, sharing and the stored row.
#include "server/publish/publish_task.h"

#include <shlwapi.h>

#include <cstring>
#include <ctime>

#include "foundation/check/orchard_assert.h"
#include "foundation/log/server_logs.h"
#include "foundation/text/hex_text.h"
#include "foundation/util/code_pages.h"
#include "foundation/util/file_ops.h"
#include "foundation/util/module_info.h"
#include "foundation/util/path_ops.h"
#include "foundation/util/wide_text.h"
#include "platform/tallyhub/tallyhub.h"
#include "server/db/published_db.h"
#include "server/hash/calc_hash.h"
#include "server/hash/codec/file_ids.h"
#include "server/hash/codec/piece_size.h"
#include "server/hash/hash_serial.h"
#include "server/hash/quick_hash.h"
#include "server/links/codec/link_log.h"
#include "server/links/links.h"
#include "server/publish/file_record.h"

namespace {
CPublishTask* g_task = nullptr;
CLock g_instanceLock;

std::string Gbk(const wchar_t* text) { return Utf16ToGbk(text ? std::wstring_view(text) : std::wstring_view()); }
std::wstring PathOf(const CPublishItem& item) { return ToWide(RecordPathText(item.fileName)); }
constexpr DWORD kLookupTimeoutMs = 3000;
}  // namespace

CPublishTask* CPublishTask::GetInstance() {
  CLockGuard guard(g_instanceLock);
  if (!g_task) g_task = new CPublishTask();
  return g_task;
}

void CPublishTask::FreeInstance() {
  CLockGuard guard(g_instanceLock);
  // A thread left running after its stop wait still uses the object: it is
  // let go with the process instead of freed under that thread.
  if (g_task && !g_task->threadLeft_) delete g_task;
  g_task = nullptr;
}

uint32_t PublishQueueLength() {
  CLockGuard guard(g_instanceLock);
  return g_task ? uint32_t(g_task->TaskCount()) : 0;
}

CPublishTask::CPublishTask() { reporter_.SetLogPath(ModulePathOf(L"p2s_speedup.dat")); }

CPublishTask::~CPublishTask() {
  Stop();
  tasks_.clear();
}

size_t CPublishTask::TaskCount() {
  CLockGuard guard(taskLock_);
  return tasks_.size();
}

void CPublishTask::Start() {
  if (Stopping() || publisher_.Running()) return;
  if (!publisher_.Start(PublishThread, this)) WriteLog(&g_MainLog, 3, "PUBTASK - publish thread not started");
}

void CPublishTask::AddTask(const CPublishDir& dir, const std::wstring& path) {
  if (Stopping()) return;
  auto entry = std::make_unique<TaskEntry>();
  if (!FillFileRecord(&entry->item, &dir, path)) {
    WriteLog(&g_MainLog, 1, "PUBTASK - Error - %s path too long", Gbk(path.c_str()).c_str());
    return;
  }
  const std::string key = HexText(entry->item.id, 16);
  CLockGuard guard(taskLock_);
  auto it = tasks_.find(key);
  if (it == tasks_.end()) {
    entry->item.state = kPublishWaiting;
    tasks_.emplace(key, std::move(entry));
    WriteLog(&g_MainLog, 1, "PUBTASK - ADDTask %s", Gbk(path.c_str()).c_str());
    return;
  }
  TaskEntry& queued = *it->second;
  const CPublishItem& fresh = entry->item;
  const bool changed = queued.item.fileSize != fresh.fileSize || queued.item.lastModTime != fresh.lastModTime;
  if (queued.item.state == kPublishCancelled || queued.item.state == kPublishDone || changed) {
    // Queued anew after a cancel, a publish or a change: the file as it is now,
    // and whatever the running attempt finds no longer counts.
    queued.item = fresh;
    queued.item.state = kPublishWaiting;
    ++queued.generation;
    queued.failures = 0;
    queued.setAside = false;
    WriteLog(&g_MainLog, 1, "PUBTASK - ADDTask %s", Gbk(path.c_str()).c_str());
  } else if (queued.setAside) {
    queued.setAside = false;  // asked again: try it now
  }
}

void CPublishTask::CancelTask(const std::string& idHex) {
  if (idHex.empty()) return;
  CLockGuard guard(taskLock_);
  auto it = tasks_.find(idHex);
  if (it != tasks_.end()) it->second->item.state = kPublishCancelled;
}

bool CPublishTask::FindTask(const std::string& idHex, CPublishItem* item) {
  CLockGuard guard(taskLock_);
  auto it = tasks_.find(idHex);
  if (it == tasks_.end()) return false;
  if (item) *item = it->second->item;
  return true;
}

void CPublishTask::Stop() {
  // Nothing is queued after the stop.
  stopping_ = true;
  // Left running, a thread keeps what it uses: the singleton is not freed.
  const ThreadStopLog log = MainLogStopLines("PUBTASK - waiting for the publish thread to end",
                                             "PUBTASK - a thread did not end in time; it is left running");
  if (!publisher_.Stop(3000, kStopLaterWaitMs, log)) threadLeft_ = true;
  if (!reporter_.StopReport()) threadLeft_ = true;
}

unsigned __stdcall CPublishTask::PublishThread(void* self) {
  WriteLog(&g_MainLog, 1, "PublishTask Start, ThreadID=(%lu)", GetCurrentThreadId());
  auto* task = static_cast<CPublishTask*>(self);
  // Its own copy: the event stays open for a thread let go after its stop wait.
  task->PublishLoop(task->publisher_.StopEvent());
  return 0;
}

void CPublishTask::PublishLoop(HANDLE stop) {
  WriteLog(&g_MainLog, 1, "PublishTask running");
  while (!Stopping()) {
    TaskCopy task;
    if (NextTask(&task) && DoTask(task, stop)) reporter_.AddReport(task.item);
    WaitForSingleObject(stop, 100);
  }
}

bool CPublishTask::NextTask(TaskCopy* task) {
  CLockGuard guard(taskLock_);
  const DWORD now = GetTickCount();
  for (auto it = tasks_.begin(); it != tasks_.end();) {
    if (Stopping()) return false;
    TaskEntry& e = *it->second;
    if (e.item.state == kPublishDone || e.item.state == kPublishCancelled) {
      it = tasks_.erase(it);
      continue;
    }
    // A file set aside after a failure waits its turn; the others go on.
    if (e.setAside && int32_t(now - e.retryAt) < 0) {
      ++it;
      continue;
    }
    e.setAside = false;
    task->key = it->first;
    task->generation = e.generation;
    task->item = e.item;
    return true;
  }
  return false;
}

CPublishTask::TaskEntry* CPublishTask::CurrentEntry(const TaskCopy& task) {
  ORCHARD_ASSERT(taskLock_.HeldByThisThread());
  auto it = tasks_.find(task.key);
  if (it == tasks_.end() || it->second->generation != task.generation) return nullptr;
  return it->second.get();
}

bool CPublishTask::IsCancelled(const TaskCopy& task) {
  CLockGuard guard(taskLock_);
  TaskEntry* e = CurrentEntry(task);
  return !e || e->item.state == kPublishCancelled;
}

void CPublishTask::SetState(const TaskCopy& task, uint8_t state) {
  CLockGuard guard(taskLock_);
  TaskEntry* e = CurrentEntry(task);
  if (e && e->item.state != kPublishCancelled) e->item.state = state;
}

void CPublishTask::SetAside(const TaskCopy& task, uint8_t state) {
  CLockGuard guard(taskLock_);
  TaskEntry* e = CurrentEntry(task);
  if (!e) return;
  if (state && e->item.state != kPublishCancelled) e->item.state = state;
  const uint32_t shift = e->failures < 6 ? e->failures : 6;
  const DWORD wait = retryBaseMs_ << shift;
  e->retryAt = GetTickCount() + (wait < kMaxRetryMs ? wait : kMaxRetryMs);
  e->setAside = true;
  ++e->failures;
}

int CPublishTask::DoTask(TaskCopy& task, HANDLE stop) {
  CPublishItem& item = task.item;
  const std::wstring path = PathOf(item);
  const std::string narrow = Gbk(path.c_str());
  WriteLog(&g_MainLog, 1, "Do Publish Task - %s", narrow.c_str());
  if (item.state == kPublishCancelled || path.empty()) return 0;

  uint64_t size = 0;
  if (!PathFileExistsW(path.c_str())) {
    WriteLog(&g_MainLog, 1, "PUBTASK - Error - %s文件不存在", narrow.c_str());
    SetAside(task, 0);
    return 0;
  }
  GetFileInfo(path.c_str(), &size, nullptr);
  if (size == 0) {
    WriteLog(&g_MainLog, 1, "PUBTASK - Error - %s大小为0", narrow.c_str());
    SetAside(task, 0);
    return 0;
  }
  if (size != uint64_t(item.fileSize)) {
    WriteLog(&g_MainLog, 1, "PUBTASK - Error - %s大小变化(原：%llu，现：%llu)", narrow.c_str(),
             (unsigned long long)item.fileSize, (unsigned long long)size);
    SetAside(task, 0);
    return 0;
  }

  WriteLog(&g_MainLog, 1, "PUBTASK - DoTask - %s:%llu", narrow.c_str(), (unsigned long long)size);
  SetState(task, kPublishRunning);
  DigestHolder fid, sid, cid, qid;
  std::vector<uint8_t> pieces;
  bool fullHash = true;
  bool needHash = true;

  if (!CHashSerial::GetInstance()->Load(path.c_str(), size, sid.digest, fid.digest, &pieces)) {
    WriteLog(&g_MainLog, 1, "%s Load HashInfo fail!\n", narrow.c_str());
  } else {
    WriteLog(&g_MainLog, 1, "%s Load HashInfo success!\n", narrow.c_str());
    fid.length = 16;
    sid.length = 16;
    fullHash = false;
    const std::string fidHex = HexText(fid.digest, 16);
    LookupReply reply;
    ILookupClient& lookup = lookup_ ? *lookup_ : UnreachableLookupClient();
    const int error = lookup.Query(fidHex, stop, kLookupTimeoutMs, &reply);
    if (Stopping() || error != kHttpOk) {
      WriteLog(&g_MainLog, 1, "MapsSearch %s Fail, error=%d\n", fidHex.c_str(), error);
    } else if (reply.status != 0 && (reply.status < 200 || reply.status > 299)) {
      // The service answered that it does not know the file (404, or another refusal).
      WriteLog(&g_MainLog, 1, "MapsSearch %s found nothing, status=%d, error=%d\n", fidHex.c_str(), reply.status,
               error);
    } else {
      WriteLog(&g_MainLog, 1, "MapsSearch %s success, QID=%s, CID=%s, SIZE=%lld, error=%d\n", fidHex.c_str(),
               reply.qid.c_str(), reply.cid.c_str(), (long long)reply.size, error);
      if (reply.cid.size() == 40 && reply.qid.size() == 40) {
        needHash = false;  // the stored ids stand; the file is not read
      } else {
        WriteLog(&g_MainLog, 1, "%s error hash length, cid_len=%d, qid_len=%d\n", narrow.c_str(),
                 int(reply.cid.size()), int(reply.qid.size()));
      }
    }
  }

  if (needHash) {
    // Hashing: a failure leaves the file "not published", set aside for a retry.
    uint64_t hashSize = 0;
    GetFileInfo(path.c_str(), &hashSize, nullptr);
    if (hashSize != size ||
        !CalcHash(path.c_str(), hashSize, &fid, &sid, &cid, &pieces, fullHash, stop)) {
      WriteLog(&g_MainLog, 3, "Calclate file hash fail!");
      SetAside(task, kPublishNone);
      return 0;
    }
    CHashSerial::GetInstance()->Save(size, sid.digest, fid.digest, pieces);
    CalcQuickHash(path.c_str(), size, &qid);

    CTallyhub stats("OD_MAPS", GetModuleVersionText(nullptr).c_str(), "01", nullptr);
    stats.StatAdd(1538, uint64_t(size));
    stats.StatAdd(1539, fid.digest);
    const std::string cidHex = HexText(cid.digest, 20), qidHex = HexText(qid.digest, 20);
    stats.StatAdd(1540, cidHex.data(), 40);
    stats.StatAdd(1541, qidHex.data(), 40);
  }  // the reporter sends as it goes

  if (IsCancelled(task)) return 0;
  WriteLog(&g_MainLog, 1, "Do add share");
  std::memcpy(item.fid, fid.digest, 16);
  std::memcpy(item.sid, sid.digest, 16);

  const int result = core_ ? core_->AddShare(path.c_str(), size, item.fid) : P2P_SHARE_UNREADABLE;
  WriteLog(&g_MainLog, 1, "PUBTASK - AddShare - %s:%d", narrow.c_str(), result);
  if (!IsShared(result)) {
    SetAside(task, kPublishNone);
    return 0;
  }
  // A file is published once its row is stored: only then is it listed as
  // published, reported and given its link lines.
  enum class Outcome { kStored, kNotStored, kCancelled } outcome = Outcome::kCancelled;
  int dbError = 0;
  {
    // Cancel wins: a cancel that came while the share was made removes it;
    // one that comes after this finds the stored row and removes both.
    CLockGuard guard(taskLock_);
    TaskEntry* e = CurrentEntry(task);
    if (e && e->item.state != kPublishCancelled) {
      uint64_t nowSize = 0;
      FILETIME written{};
      if (GetFileInfo(path.c_str(), &nowSize, &written)) {
        item.fileSize = int64_t(nowSize);
        item.lastModTime = int64_t(FileTimeValue(written));
      }
      item.state = kPublishDone;
      item.pubTime = int64_t(GetLocalFileTime());
      if (SaveFile(item)) {
        e->item = item;
        outcome = Outcome::kStored;
      } else {
        dbError = LastDatabaseError();
        outcome = Outcome::kNotStored;
      }
    }
  }
  switch (outcome) {
    case Outcome::kStored:
      WriteLinkLines(item, path);
      return 1;
    case Outcome::kNotStored:
      // Shared only while its row is stored: the share this attempt made is
      // taken back, and the file is tried again after the failing-file wait.
      WriteLog(&g_MainLog, 3, "PUBTASK - SaveFile failed, SQLite error %d, retried later - %s", dbError,
               narrow.c_str());
      if (result == P2P_SHARE_ADDED && core_) core_->DeleteShare(item.fid);
      SetAside(task, kPublishNone);
      return 0;
    case Outcome::kCancelled:
      break;
  }
  WriteLog(&g_MainLog, 1, "PUBTASK - Cancelled while sharing - %s", narrow.c_str());
  if (core_) core_->DeleteShare(item.fid);
  return 0;
}

void CPublishTask::WriteLinkLines(const CPublishItem& item, const std::wstring& path) {
  wchar_t dir[MAX_PATH] = {};
  lstrcpynW(dir, path.c_str(), MAX_PATH);
  PathRemoveFileSpecW(dir);
  const int32_t now = int32_t(time(nullptr));
  const std::string dirText = Gbk(dir);
  // Both lines in one write: the pair reaches the file whole or not at all.
  const std::string lines[2] = {FormatLinkLogText(now, dirText, Gbk(MakeVxhdLink(&item, false).c_str())),
                                FormatLinkLogText(now, dirText, Gbk(MakeFtpLink(path.c_str()).c_str()))};
  if (!WriteLogEntries(&g_LinkLog, kLinkLogLevel, lines, 2))
    WriteLog(&g_MainLog, 3, "PUBTASK - link lines not written - %s", Gbk(path.c_str()).c_str());
  g_LinkLog.Flush();
}

int CPublishTask::CalcHash(const wchar_t* path, uint64_t size, DigestHolder* fid, DigestHolder* sid,
                           DigestHolder* cid, std::vector<uint8_t>* pieces, bool fullHash, HANDLE stop) {
  return CalcFileHash(path, size, fid, sid, cid, pieces, fullHash, stop);
}
