// The export request of control command 49 and the tests a file must pass to
// be listed. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#pragma pack(push, 1)
struct ExportRequest {
  uint32_t linkKind;         // non-zero: vxhd links of stored files; 0: FTP links of files on disk
  uint32_t parentNaming;     // non-zero: "<parent>_<name>" in vxhd links
  uint32_t sort;             // non-zero: sort the lines by name
  uint64_t rangeStart;       // PubTime form
  uint64_t rangeEnd;
  char16_t keyword[260];     // empty for none
  char16_t path[260];        // directory or file to export
};
#pragma pack(pop)
static_assert(sizeof(ExportRequest) == 1068);
static_assert(offsetof(ExportRequest, rangeStart) == 12 && offsetof(ExportRequest, rangeEnd) == 20);
static_assert(offsetof(ExportRequest, keyword) == 28 && offsetof(ExportRequest, path) == 548);

// The request's options with its texts taken up to their first zero (or
// all 260 units when a field holds none).
struct ExportOptions {
  uint32_t linkKind = 0;
  bool parentNaming = false;
  bool sort = false;
  uint64_t rangeStart = 0;
  uint64_t rangeEnd = 0;
  std::u16string keyword;
  std::u16string path;
};

// Reads the request from what follows the command code; bytes missing at the
// end read as zeros, as every control request does.
ExportOptions ParseExportRequest(const uint8_t* bytes, size_t size);

// Start and end both set and the end after the start.
bool TimeRangeActive(const ExportOptions& options);
// A stored file is listed when its publish time lies in an active range
// (both ends included; no keyword test then), else when the keyword is empty
// or occurs in its path (case-sensitive).
bool PassesRecordFilter(const ExportOptions& options, uint64_t pubTime, std::u16string_view fileName);
// A file on disk is listed when the keyword is empty or occurs in its path.
bool PassesPathFilter(const ExportOptions& options, std::u16string_view path);

// The reply text of command 49: the lines, sorted by name when asked (stable,
// FTP links keep their order), each followed by "\r\n".
std::u16string JoinExportLines(std::vector<std::u16string> lines, bool sort);
