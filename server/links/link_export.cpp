// Collecting the export lines of command 49 and answering it.
#include "server/links/link_export.h"

#include <windows.h>

#include <cstring>

#include "foundation/log/server_logs.h"
#include "foundation/util/code_pages.h"
#include "foundation/util/file_ops.h"
#include "foundation/util/path_ops.h"
#include "foundation/util/wide_text.h"
#include "server/control/control_reply.h"
#include "server/db/published_db.h"
#include "server/links/links.h"
#include "server/publish/publish_manager.h"

namespace {
bool IsDir(const std::wstring& p) {
  const DWORD a = GetFileAttributesW(p.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}
}  // namespace

void ExportDirLinks(const std::wstring& path, const ExportOptions& options, std::vector<std::wstring>* lines) {
  if (path.empty()) return;
  if (!IsDir(path)) {
    ExportFileLinks(path, options, lines);
    return;
  }
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(PathJoin(path, L"*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (IsDotEntry(entry) || (entry.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN)) continue;
    const std::wstring child = PathJoin(path, entry.cFileName);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      // Links and junctions are left alone, as the publish scans do.
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) ExportDirLinks(child, options, lines);
    } else if (FileSizeOf(entry) != 0) {
      ExportFileLinks(child, options, lines);
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
}

void ExportFileLinks(const std::wstring& path, const ExportOptions& options, std::vector<std::wstring>* lines) {
  if (path.empty()) return;
  CPublishDir dir;
  if (!PublishManager().FindDir(path, &dir)) return;
  if (options.linkKind == 0) {
    AddPathLink(path, options, lines);
    return;
  }
  CPublishItem item;
  std::memset(&item, 0, sizeof item);
  if (!SetRecordPath(item.fileName, AsU16(path).data(), path.size())) return;
  std::memcpy(item.dirId, dir.dirId, 16);
  MakePathRecordId(path, item.id);
  if (QueryFile(&item)) AddRecordLink(item, options, lines);
}

void AddPathLink(const std::wstring& path, const ExportOptions& options, std::vector<std::wstring>* lines) {
  if (path.empty() || !IsPublishableFile(path)) return;
  if (!PassesPathFilter(options, AsU16(path))) return;
  lines->push_back(MakeFtpLink(path.c_str()));
}

void AddRecordLink(const CPublishItem& item, const ExportOptions& options, std::vector<std::wstring>* lines) {
  if (!PassesRecordFilter(options, uint64_t(item.pubTime), RecordPathText(item.fileName))) return;
  lines->push_back(MakeVxhdLink(&item, options.parentNaming));
}

void OnExportURL(CStreamReader& request, CByteBuffer* reply) {
  uint8_t bytes[sizeof(ExportRequest)];
  request.ReadBytes(bytes, sizeof bytes);
  const ExportOptions options = ParseExportRequest(bytes, sizeof bytes);
  const std::wstring path = ToWide(options.path);
  WriteLog(&g_MainLog, 1, "CMD - ExportURL - %s", Utf16ToGbk(path).c_str());
  if (path.empty() || !PathExists(path.c_str())) {
    Reply(reply, ControlStatus::NotFound);
    return;
  }
  std::vector<std::wstring> wide;
  ExportDirLinks(path, options, &wide);
  if (wide.empty()) {
    Reply(reply, ControlStatus::Ok);
    return;
  }
  std::vector<std::u16string> lines;
  for (const std::wstring& w : wide) lines.emplace_back(AsU16(w));
  const std::u16string text = JoinExportLines(std::move(lines), options.sort);
  std::vector<uint8_t> payload(4 + text.size() * 2);
  const uint32_t count = uint32_t(text.size());
  std::memcpy(payload.data(), &count, 4);
  std::memcpy(payload.data() + 4, text.data(), text.size() * 2);
  Reply(reply, ControlStatus::Ok, payload.data(), uint32_t(payload.size()));
}
