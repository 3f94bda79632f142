// The file record of a path, for the publish manager's scans and the publish task's queue.
#include "server/publish/file_record.h"

#include <cstring>

#include "foundation/util/file_ops.h"
#include "foundation/util/wide_text.h"

bool FillFileRecord(CPublishItem* item, const CPublishDir* dir, const std::wstring& path) {
  std::memset(item, 0, sizeof *item);
  if (dir != nullptr) std::memcpy(item->dirId, dir->dirId, 16);
  if (!SetRecordPath(item->fileName, AsU16(path).data(), path.size())) return false;
  MakePathRecordId(path, item->id);
  uint64_t size = 0;
  FILETIME written{};
  DWORD attributes = 0;
  if (GetFileInfo(path.c_str(), &size, &written, &attributes)) {
    item->attributes = attributes;
    item->fileSize = int64_t(size);
    item->lastModTime = int64_t(FileTimeValue(written));
  }
  return true;
}
