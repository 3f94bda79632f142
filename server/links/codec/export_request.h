// The export request of control command 49 and the tests a file must pass to
// be listed. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/control/codec/control_records.h"

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
