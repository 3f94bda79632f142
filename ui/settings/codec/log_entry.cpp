// "\r\n[YYYY-MM-DD hh:mm:ss:mmm] text", cut at the entry limit.
#include "ui/settings/codec/log_entry.h"

#include <cstdio>

std::string FormatLogEntry(const LogTime& t, std::string_view text) {
  char stamp[64];
  int n = std::snprintf(stamp, sizeof stamp, "\r\n[%04d-%02d-%02d %02d:%02d:%02d:%03d] ", t.year, t.month, t.day,
                        t.hour, t.minute, t.second, t.millisecond);
  std::string entry(stamp, n > 0 ? static_cast<size_t>(n) : 0);
  entry.append(text);
  if (entry.size() > kLogEntryMaxBytes) entry.resize(kLogEntryMaxBytes);
  return entry;
}
