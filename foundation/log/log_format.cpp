// Text of a log entry: the local-time texts and the entry layout. Platform-free.
#include "foundation/log/log_format.h"

#include <cstdio>

std::string FormatTimeText(int mode, const LogTimeFields& t) {
  char text[64];
  switch (mode) {
    case 4:
      std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.year, t.month, t.day);
      break;
    case 3:
      std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
      break;
    case 2:
      std::snprintf(text, sizeof text, "%02d:%02d:%02d:%03d", t.hour, t.minute, t.second, t.millisecond);
      break;
    default:
      std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d:%03d", t.year, t.month, t.day, t.hour,
                    t.minute, t.second, t.millisecond);
      break;
  }
  return text;
}

size_t FormatLogEntry(char (&area)[kLogEntryMax + 1], const char* timeText, const char* format,
                      va_list args) {
  int prefix = std::snprintf(area, sizeof area, "\r\n[%s] ", timeText ? timeText : "");
  if (prefix < 0) {
    area[0] = '\0';
    return 0;
  }
  size_t used = static_cast<size_t>(prefix);
  if (used >= kLogEntryMax) return kLogEntryMax;  // snprintf already cut and terminated it
  if (format) {
    int n = std::vsnprintf(area + used, sizeof area - used, format, args);
    if (n < 0) {
      area[used] = '\0';
      return used;
    }
    used += static_cast<size_t>(n);
    if (used > kLogEntryMax) used = kLogEntryMax;
  }
  return used;
}

std::string LogEntryText(const std::string& timeText, const std::string& message) {
  std::string entry = "\r\n[" + timeText + "] " + message;
  if (entry.size() > kLogEntryMax) return {};
  return entry;
}
