// The text of one entry of the user interface's log: a line break, the local
// time in square brackets, a blank and the text, at most 1024 bytes. Platform-free.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

constexpr size_t kLogEntryMaxBytes = 1024;

struct LogTime {
  int year, month, day, hour, minute, second, millisecond;
};

std::string FormatLogEntry(const LogTime& time, std::string_view text);
