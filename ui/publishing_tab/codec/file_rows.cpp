// Rows of the file list from 617-byte file records.
#include "ui/publishing_tab/codec/file_rows.h"

#include <cstring>

#include "foundation/text/hex_text.h"
#include "ui/client/codec/control_codec.h"
#include "ui/peer_lists/codec/column_sort.h"
#include "ui/res/resource.h"

namespace {

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// Two path fields by code units, without copying them out.
int ComparePackedPaths(const void* a, const void* b) {
  const size_t na = PackedTextLength(a, kPathUnits), nb = PackedTextLength(b, kPathUnits);
  const size_t n = na < nb ? na : nb;
  for (size_t i = 0; i < n; ++i) {
    const char16_t ua = PackedUnit(a, i), ub = PackedUnit(b, i);
    if (ua != ub) return static_cast<uint16_t>(ua) < static_cast<uint16_t>(ub) ? -1 : 1;
  }
  return ThreeWay(na, nb);
}

uint64_t Unsigned(int64_t v) { return static_cast<uint64_t>(v); }

}  // namespace

std::u16string RecordPath(const CPublishItem& record) {
  return PackedText(reinterpret_cast<const uint8_t*>(&record) + offsetof(CPublishItem, fileName), kPathUnits);
}

std::u16string DirRecordPath(const CPublishDir& record) {
  return PackedText(reinterpret_cast<const uint8_t*>(&record) + offsetof(CPublishDir, path), kPathUnits);
}

bool IsDirectoryRecord(const CPublishItem& record) { return (record.attributes & 0x10) != 0; }
bool IsPublished(const CPublishItem& record) { return record.state >= kPublishDone; }

unsigned FileStateTextId(uint8_t state) {
  switch (state) {
    case kPublishNone:
      return 0;
    case kPublishChanged:
      return IDS_STATE_CHANGED;
    case kPublishWaiting:
      return IDS_STATE_WAITING;
    case kPublishRunning:
      return IDS_STATE_PUBLISHING;
    default:
      return state >= kPublishDone ? IDS_STATE_PUBLISHED : IDS_STATE_NOT_PUBLISHED;
  }
}

int FileRowImage(const CPublishItem& record) {
  if (record.state >= kPublishDone) return kImagePublished;
  if (record.state == kPublishChanged) return kImageChanged;
  return IsDirectoryRecord(record) ? kImageDirectory : kImageFile;
}

int CompareFileRecords(const CPublishItem& a, const CPublishItem& b, int column, int view) {
  const auto* pa = reinterpret_cast<const uint8_t*>(&a) + offsetof(CPublishItem, fileName);
  const auto* pb = reinterpret_cast<const uint8_t*>(&b) + offsetof(CPublishItem, fileName);
  switch (column) {
    case 1:
      return ThreeWay(Unsigned(a.fileSize), Unsigned(b.fileSize));
    case 2:
      return ThreeWay(Unsigned(a.lastModTime), Unsigned(b.lastModTime));
    case 3:
      return ThreeWay(a.state, b.state);
    case 4:
      if (view == kViewDirectory) return ThreeWay(Unsigned(a.pubTime), Unsigned(b.pubTime));
      return ComparePackedPaths(pa, pb);
    default:
      return ComparePackedPaths(pa, pb);
  }
}

std::u16string DirectoryItemText(std::u16string_view path) {
  std::u16string text = u"[";
  if (!path.empty()) text.push_back(path.front());
  text += u"]";
  text += LastPathComponent(path);
  return text;
}

std::u16string FileP2pLink(const CPublishItem& record) {
  uint8_t fid[16];
  std::memcpy(fid, record.fid, sizeof fid);
  return MakeVxhdLinkText(Unsigned(record.fileSize), fid, RecordPath(record), false);
}

std::u16string FileFtpLink(std::u16string_view path, FtpLinkSettings settings) {
  if (settings.port < 1 || settings.port > 65535) settings.port = 21;
  return MakeFtpLinkText(path, settings);
}

std::u16string FidText(const CPublishItem& record) {
  uint8_t fid[16];
  std::memcpy(fid, record.fid, sizeof fid);
  return Ascii(BytesToHex(fid));
}
