// Record ids of paths and the table names of published directories.
// Platform-free.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// MD5 of the path's UTF-16 code units (little-endian), without a terminator.
void MakePathRecordId(std::u16string_view path, uint8_t id[16]);
// "_" followed by the 32 digits of the path's record id.
std::string MakeDirTableName(std::u16string_view path);
