// Record ids of paths. Platform-free.
#include "foundation/text/record_id.h"

#include <vector>

#include "foundation/codec/md5.h"
#include "foundation/text/hex_text.h"

void MakePathRecordId(std::u16string_view path, uint8_t id[16]) {
  std::vector<uint8_t> units;
  units.reserve(path.size() * 2);
  for (char16_t c : path) {
    units.push_back(static_cast<uint8_t>(c & 0xFF));
    units.push_back(static_cast<uint8_t>(c >> 8));
  }
  MD5Digest(units.data(), units.size(), id);
}

std::string MakeDirTableName(std::u16string_view path) {
  uint8_t id[16];
  MakePathRecordId(path, id);
  return "_" + BytesToHex(id);
}
