// Directory and file commands: read the PATH, log, hand over to the publish
// manager and write the status and records.
#include "server/control/dir_commands.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "foundation/codec/stream_reader.h"
#include "foundation/log/server_logs.h"
#include "foundation/util/code_pages.h"
#include "server/control/codec/control_fields.h"
#include "server/control/control_reply.h"
#include "server/publish/publish_manager.h"

namespace {
void (*g_autoDirHandler)(const std::wstring&) = nullptr;

// The PATH field of a request; false when all 260 units are taken, as a path
// that long cannot be stored without cutting it.
bool ReadPath(CStreamReader& request, std::wstring* path) {
  uint8_t bytes[520];
  request.ReadBytes(bytes, sizeof bytes);
  const std::u16string p = ReadPathField(bytes);
  path->assign(p.begin(), p.end());
  return p.size() < kPathUnits;
}

std::string Narrow(const std::wstring& s) { return Utf16ToGbk(s); }

bool IsDirectoryPath(const std::wstring& p) {
  const DWORD a = GetFileAttributesW(p.c_str());
  return !p.empty() && a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring PathOf(const CPublishDir& d) {
  return std::wstring(reinterpret_cast<const wchar_t*>(d.path), RecordPathLength(d.path));
}

// 200, u32 n, then the n records.
template <class Record>
void ReplyList(CByteBuffer* reply, const std::vector<Record>& records) {
  std::vector<uint8_t> payload(4 + records.size() * sizeof(Record));
  const uint32_t n = static_cast<uint32_t>(records.size());
  std::memcpy(payload.data(), &n, 4);
  if (n) std::memcpy(payload.data() + 4, records.data(), records.size() * sizeof(Record));
  Reply(reply, ControlStatus::Ok, payload.data(), static_cast<uint32_t>(payload.size()));
}

void AddDirCommand(CStreamReader& request, CByteBuffer* reply, const char* name, int pubAll) {
  std::wstring path;
  const bool fits = ReadPath(request, &path);
  WriteLog(&g_MainLog, 1, "CMD - %s - %s", name, Narrow(path).c_str());
  if (!fits) {
    WriteLog(&g_MainLog, 1, "Err - AddDir - Path too long");
    Reply(reply, ControlStatus::NotFound);
    return;
  }
  if (!IsDirectoryPath(path)) {
    WriteLog(&g_MainLog, 1, "Err - AddDir - No exist");
    Reply(reply, ControlStatus::NotFound);
    return;
  }
  // A directory inside a published one, or one that holds a published one.
  if (PublishManager().OverlapsPublished(path)) {
    WriteLog(&g_MainLog, 1, "Err - AddDir - Already published");
    Reply(reply, ControlStatus::AlreadyPublished);
    return;
  }
  switch (PublishManager().AddDirEx(path, pubAll)) {
    case AddDirResult::kAdded:
      Reply(reply, ControlStatus::Ok);
      WriteLog(&g_MainLog, 1, "OK - AddDir - %s", Narrow(path).c_str());
      return;
    case AddDirResult::kOverlaps:
      WriteLog(&g_MainLog, 1, "Err - AddDir - Already published");
      Reply(reply, ControlStatus::AlreadyPublished);
      return;
    case AddDirResult::kBadPath:
      Reply(reply, ControlStatus::NotFound);
      return;
    case AddDirResult::kNotStored:
      WriteLog(&g_MainLog, 3, "Err - AddDir - Not stored");
      Reply(reply, static_cast<ControlStatus>(kStatusNotStored));
      return;
  }
}

// Commands 4, 5, 17 and 18 answer nothing in any case.
bool ReadLoggedPath(CStreamReader& request, const char* logText, std::wstring* path) {
  const bool fits = ReadPath(request, path);
  if (logText) WriteLog(&g_MainLog, 1, "CMD - %s - %s", logText, Narrow(*path).c_str());
  if (!fits) WriteLog(&g_MainLog, 1, "Err - Path too long - %s", Narrow(*path).c_str());
  return fits && !path->empty();
}
}  // namespace

void SetAutoDirHandler(void (*handler)(const std::wstring& dir)) { g_autoDirHandler = handler; }

void OnAddDir(CStreamReader& request, CByteBuffer* reply) { AddDirCommand(request, reply, "AddDir", 0); }
void OnPubDir(CStreamReader& request, CByteBuffer* reply) { AddDirCommand(request, reply, "PubDir", 1); }

void OnDelDir(CStreamReader& request, CByteBuffer*) {
  std::wstring path;
  if (ReadLoggedPath(request, "DelDir", &path)) PublishManager().RemoveDir(path);
}

void OnSetAutoDir(CStreamReader& request, CByteBuffer*) {
  std::wstring path;
  if (!ReadLoggedPath(request, nullptr, &path)) {
    if (!path.empty()) return;  // too long: logged, nothing changes
  } else {
    PublishManager().PublishPath(path, nullptr);
  }
  if (g_autoDirHandler) g_autoDirHandler(path);  // an empty path stops the watch
}

void OnPubFile(CStreamReader& request, CByteBuffer*) {
  std::wstring path;
  if (ReadLoggedPath(request, "PubFile", &path)) PublishManager().PublishPath(path, nullptr);
}

void OnCancelPubFile(CStreamReader& request, CByteBuffer*) {
  std::wstring path;
  if (ReadLoggedPath(request, "CancelPubFile", &path)) PublishManager().CancelFile(path, nullptr);
}

void OnDirList(CStreamReader&, CByteBuffer* reply) {
  WriteLog(&g_MainLog, 1, "CMD - DirList");
  const std::vector<CPublishDir> dirs = PublishManager().Dirs();
  for (const CPublishDir& d : dirs) WriteLog(&g_MainLog, 1, "OK - DirList - %s", Narrow(PathOf(d)).c_str());
  ReplyList(reply, dirs);
}

void OnGetFileList(CStreamReader& request, CByteBuffer* reply) {
  std::wstring path;
  const bool fits = ReadPath(request, &path);
  WriteLog(&g_MainLog, 1, "CMD - GetFileList - %s", Narrow(path).c_str());
  if (!fits || !IsDirectoryPath(path)) {
    WriteLog(&g_MainLog, 1, "Err - GetFileList - No exist");
    Reply(reply, ControlStatus::NotFound);
    return;
  }
  std::vector<CPublishItem> files;
  if (!PublishManager().ListDir(path, &files, false)) {
    WriteLog(&g_MainLog, 1, "Err - GetFileList - No children");
    Reply(reply, ControlStatus::Ok);
    return;
  }
  ReplyList(reply, files);
}

void OnAllUnpublished(CStreamReader&, CByteBuffer* reply) {
  WriteLog(&g_MainLog, 1, "CMD - All Unpublished");
  std::vector<CPublishItem> files;
  for (const CPublishDir& d : PublishManager().Dirs()) {
    const std::wstring p = PathOf(d);
    WriteLog(&g_MainLog, 1, "Enumeration Dir %s", Narrow(p).c_str());
    PublishManager().ListDir(p, &files, true);
  }
  ReplyList(reply, files);
}
