// Change records, watched paths and the watcher's step for each change. Platform-free.
#include "server/watch/codec/dir_changes.h"

#include "foundation/text/ascii_case.h"
#include "foundation/text/path_text.h"

namespace {
uint32_t U32At(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
constexpr size_t kWatchedPathUnits = 260;  // with the terminator
}  // namespace

bool ParseDirChanges(const uint8_t* data, size_t size, std::vector<DirChange>* out) {
  if (data == nullptr || out == nullptr) return false;
  size_t at = 0;
  for (;;) {
    if (size - at < kDirChangeHeadBytes) return false;
    const uint8_t* record = data + at;
    DirChange change;
    change.nextOffset = U32At(record);
    change.action = U32At(record + 4);
    const uint32_t nameBytes = U32At(record + 8);
    if (nameBytes > size - at - kDirChangeHeadBytes) return false;
    const uint8_t* name = record + kDirChangeHeadBytes;
    for (uint32_t i = 0; i + 1 < nameBytes; i += 2) change.name.push_back(char16_t(name[i] | name[i + 1] << 8));
    out->push_back(std::move(change));
    const uint32_t next = out->back().nextOffset;
    if (next == 0) return true;
    // The next record starts past this one's name: records never overlap.
    if (next < kDirChangeHeadBytes + nameBytes || next > size - at) return false;
    at += next;
  }
}

std::u16string WatchedPath(std::u16string_view dir, std::u16string_view name) {
  std::u16string path(dir);
  if (path.empty() || path.back() != u'\\') path.push_back(u'\\');
  path.append(name);
  if (path.size() >= kWatchedPathUnits) return {};
  return path;
}

WatchStep StepForChange(uint32_t action, std::u16string_view path, const ChangedEntry& entry) {
  const bool publishable = IsPublishableFile(path);
  switch (action) {
    case kChangeAdded:
      if (entry.exists && entry.isDirectory) return WatchStep::kPublish;
      return publishable && entry.exists && entry.size > 0 ? WatchStep::kPublish : WatchStep::kLogOnly;
    case kChangeRemoved:
      return publishable ? WatchStep::kCancel : WatchStep::kLogOnly;
    case kChangeModified:
      return publishable && entry.exists && !entry.isDirectory ? WatchStep::kPublish : WatchStep::kLogOnly;
    default:
      return WatchStep::kLogOnly;
  }
}

bool NoCaseLess::operator()(const std::u16string& a, const std::u16string& b) const {
  return CompareNoCase(a, b) < 0;
}

std::vector<std::u16string> VanishedFiles(const WatchedFiles& before, const WatchedFiles& now) {
  std::vector<std::u16string> gone;
  for (const std::u16string& path : before)
    if (now.count(path) == 0) gone.push_back(path);
  return gone;
}

void TrackChange(uint32_t action, const std::u16string& path, const ChangedEntry& entry, WatchedFiles* files) {
  if (!IsPublishableFile(path)) return;
  switch (action) {
    case kChangeRemoved:
    case kChangeRenamedOld:
      files->erase(path);
      break;
    case kChangeAdded:
    case kChangeModified:
    case kChangeRenamedNew:
      if (entry.exists && !entry.isDirectory) files->insert(path);
      break;
    default:
      break;
  }
}
