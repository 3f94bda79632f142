// Reading the export request and the filters of the exported files.
#include "server/links/codec/export_request.h"

#include <cstring>

#include "foundation/text/line_sort.h"

namespace {
std::u16string FieldText(const char16_t (&field)[260]) {
  size_t n = 0;
  while (n < 260 && field[n] != 0) ++n;
  return std::u16string(field, n);
}
}  // namespace

ExportOptions ParseExportRequest(const uint8_t* bytes, size_t size) {
  ExportRequest request;
  std::memset(&request, 0, sizeof request);
  if (bytes) std::memcpy(&request, bytes, size < sizeof request ? size : sizeof request);
  ExportOptions options;
  options.linkKind = request.linkKind;
  options.parentNaming = request.parentNaming != 0;
  options.sort = request.sort != 0;
  options.rangeStart = request.rangeStart;
  options.rangeEnd = request.rangeEnd;
  options.keyword = FieldText(request.keyword);
  options.path = FieldText(request.path);
  return options;
}

bool TimeRangeActive(const ExportOptions& options) {
  return options.rangeStart != 0 && options.rangeEnd != 0 && options.rangeEnd > options.rangeStart;
}

bool PassesRecordFilter(const ExportOptions& options, uint64_t pubTime, std::u16string_view fileName) {
  if (TimeRangeActive(options)) return pubTime >= options.rangeStart && pubTime <= options.rangeEnd;
  return PassesPathFilter(options, fileName);
}

bool PassesPathFilter(const ExportOptions& options, std::u16string_view path) {
  return options.keyword.empty() || path.find(options.keyword) != std::u16string_view::npos;
}


std::u16string JoinExportLines(std::vector<std::u16string> lines, bool sort) {
  if (sort) SortLinesAfterLastBar(lines);
  std::u16string text;
  for (const std::u16string& line : lines) text += line + u"\r\n";
  return text;
}
