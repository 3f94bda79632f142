// Record ids and path fields of the directory and file records.
#include "server/publish/codec/publish_records.h"

#include <cstring>

#include "foundation/codec/md5.h"

void PathRecordId(const char16_t* path, size_t units, uint8_t id[16]) {
  // UTF-16LE: on the little-endian machines this runs on, the units' bytes as they lie.
  uint8_t buf[2 * 512];
  MD5Context c;
  MD5Init(&c);
  size_t done = 0;
  while (done < units) {
    size_t n = units - done < 512 ? units - done : 512;
    for (size_t i = 0; i < n; ++i) {
      buf[2 * i] = static_cast<uint8_t>(path[done + i]);
      buf[2 * i + 1] = static_cast<uint8_t>(path[done + i] >> 8);
    }
    MD5Update(&c, buf, 2 * n);
    done += n;
  }
  MD5Final(&c, id);
}

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
