// Path fields of the directory and file records.
#include "server/publish/codec/publish_records.h"

#include <cstring>


bool SetRecordPath(void* field, const char16_t* path, size_t units) {
  if (field == nullptr || path == nullptr || units >= kRecordPathUnits) return false;
  std::memset(field, 0, kRecordPathUnits * sizeof(char16_t));
  std::memcpy(field, path, units * sizeof(char16_t));
  return true;
}

size_t RecordPathLength(const void* field) {
  const auto* bytes = static_cast<const uint8_t*>(field);
  size_t n = 0;
  while (n < kRecordPathUnits && (bytes[2 * n] != 0 || bytes[2 * n + 1] != 0)) ++n;
  return n;
}

std::u16string RecordPathText(const void* field) {
  std::u16string text(RecordPathLength(field), u'\0');
  if (!text.empty()) std::memcpy(text.data(), field, text.size() * sizeof(char16_t));
  return text;
}

void ReadStoredId(const void* blob, int bytes, uint8_t id[16]) {
  std::memset(id, 0, 16);
  if (blob != nullptr && bytes > 0) std::memcpy(id, blob, bytes < 16 ? bytes : 16);
}

bool IsZeroId(const uint8_t id[16]) {
  for (int i = 0; i < 16; ++i)
    if (id[i]) return false;
  return true;
}
