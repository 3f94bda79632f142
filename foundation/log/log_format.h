// Text of a log entry: the local-time texts and the "\r\n[time] message"
// layout shared by every log of the programs. Platform-free.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#if defined(__MINGW32__)
#define ORCHARD_PRINTF(fmt, args) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, args)))
#elif defined(__GNUC__)
#define ORCHARD_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define ORCHARD_PRINTF(fmt, args)
#endif

// The calendar fields of one moment, as the system clock gives them.
struct LogTimeFields {
  int year, month, day, hour, minute, second, millisecond;
};

// Mode 4 the date, 3 the time, 2 the time with milliseconds, anything else
// (the logs use 1) date, time and milliseconds.
std::string FormatTimeText(int mode, const LogTimeFields& t);

// An entry with its prefix holds at most this many bytes; longer messages are cut.
constexpr size_t kLogEntryMax = 1024;

// Builds "\r\n[" time "] " message into area (kLogEntryMax + 1 bytes, zero
// terminated) and returns the entry's length in bytes. A message that does not
// fit is cut at kLogEntryMax bytes; a bad format gives the prefix alone.
size_t FormatLogEntry(char (&area)[kLogEntryMax + 1], const char* timeText, const char* format,
                      va_list args);
// "\r\n[" time "] " message as one entry; empty when it would not fit in
// kLogEntryMax bytes, for logs whose lines must never be cut.
std::string LogEntryText(const std::string& timeText, const std::string& message);
