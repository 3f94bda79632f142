// Path fields of the directory and file records.
#include "server/publish/codec/publish_records.h"

#include <cstring>


bool SetRecordPath(char16_t (&field)[kRecordPathUnits], const char16_t* path, size_t units) {
  if (path == nullptr || units >= kRecordPathUnits) return false;
  std::memset(field, 0, sizeof field);
  std::memcpy(field, path, units * sizeof(char16_t));
  return true;
}

size_t RecordPathLength(const char16_t (&field)[kRecordPathUnits]) {
  size_t n = 0;
  while (n < kRecordPathUnits && field[n] != 0) ++n;
  return n;
}

bool IsZeroId(const uint8_t id[16]) {
  for (int i = 0; i < 16; ++i)
    if (id[i]) return false;
  return true;
}
