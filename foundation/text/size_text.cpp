// Size and speed texts. Platform-free.
#include "foundation/text/size_text.h"

#include <cinttypes>
#include <cstdio>

std::u16string SizeUnitText(uint64_t size) {
  char buf[64];
  if (size == 0) {
    snprintf(buf, sizeof buf, "0 K");
  } else {
    static const char kUnits[] = {'K', 'M', 'G'};
    double exact = static_cast<double>(size);
    uint64_t whole = size;
    size_t unit = 0;
    for (;; ++unit) {
      exact /= 1024.0;
      whole /= 1024;
      if (whole < 1000 || unit == 2) break;
    }
    if (whole < 10) {
      snprintf(buf, sizeof buf, "%.1f %c", exact, kUnits[unit]);
    } else {
      snprintf(buf, sizeof buf, "%" PRIu64 " %c", whole, kUnits[unit]);
    }
  }
  std::u16string out;
  for (const char* c = buf; *c != '\0'; ++c) out.push_back(static_cast<char16_t>(*c));
  return out;
}

std::string FormatFileSize(int64_t size) {
  char buf[64];
  if (size >= 1048576000) {
    snprintf(buf, sizeof buf, "%.2f GB", static_cast<double>(size) / 1073741824.0);
  } else if (size >= 1024000) {
    snprintf(buf, sizeof buf, "%3.2f MB", static_cast<double>(size) / 1048576.0);
  } else if (size >= 1000) {
    snprintf(buf, sizeof buf, "%3.2f KB", static_cast<double>(size) / 1024.0);
  } else {
    snprintf(buf, sizeof buf, "%" PRId64 " B", size);
  }
  return buf;
}

std::string FormatSpeedText(int64_t bytesPerSecond) { return FormatFileSize(bytesPerSecond) + "/S"; }
