// The upload core's rotating log.
#include "p2pcore/p2pbase/inc/p2plog.h"

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "p2pcore/codec/log_rotation.h"

#include "foundation/check/orchard_assert.h"
#include "foundation/sync/locks.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/p2pbase/inc/winutil.h"

namespace p2p {
namespace {

struct log_state {
  CLock lock;
  HANDLE file = INVALID_HANDLE_VALUE;
  bool to_file = false;
  bool to_console = false;
  int log_count = 5;
  uint64_t written = 0;
  uint64_t rotate_bytes = 0xC800000;  // 200 MiB
  std::atomic<int> threshold{2};  // read by every thread that logs, without the lock
  std::string base = "p2pbase";
  log_state() {}
};

log_state& state() {
  static log_state s;
  return s;
}


std::wstring log_dir() { return app_dir() + L"log\\"; }
std::wstring current_name(const log_state& s) { return log_dir() + ansi_to_wide(s.base) + L".log"; }

// The dated copies of the log in its folder, whoever rotated them.
std::vector<std::wstring> dated_logs(const log_state& s) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((log_dir() + ansi_to_wide(s.base) + L"_*.log").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(entry.cFileName);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return names;
}

// Moves the current file to its dated name and drops the oldest beyond
// LogCount: every start rotates the last one's file, so the folder, not this
// process's own rotations, is what is counted.
void rotate_current(log_state& s) {
  ORCHARD_ASSERT(s.lock.HeldByThisThread());
  std::wstring current = current_name(s);
  if (!file_exists(current)) return;
  SYSTEMTIME t;
  GetLocalTime(&t);
  wchar_t stamp[32];
  swprintf(stamp, 32, L"_%04d%02d%02d%02d%02d%02d.log", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
  std::wstring dated = log_dir() + ansi_to_wide(s.base) + stamp;
  // Two rotations in one second would reuse the name: keep the newer file.
  DeleteFileW(dated.c_str());
  if (move_file(current, dated) != 0) return;
  for (const std::wstring& name : rotated_logs_to_delete(dated_logs(s), ansi_to_wide(s.base), s.log_count))
    DeleteFileW((log_dir() + name).c_str());
}

void open_current(log_state& s) {
  rotate_current(s);
  s.file = CreateFileW(current_name(s).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  s.written = 0;
  if (s.file == INVALID_HANDLE_VALUE) {
    s.to_file = false;
    return;
  }
  SetFilePointer(s.file, 0, nullptr, FILE_END);
}

void emit(int level, const std::string& text) {
  log_state& s = state();
  if (level < s.threshold) return;
  std::string line = "\r\n[" + now_text() + "] " + text;
  if (line.size() > 8064) line.resize(8064);
  CLockGuard h(s.lock);
  if (s.to_console) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    return;
  }
  if (!s.to_file || s.file == INVALID_HANDLE_VALUE) return;
  DWORD done = 0;
  WriteFile(s.file, line.data(), DWORD(line.size()), &done, nullptr);
  s.written += done;
  if (s.written > s.rotate_bytes) {
    CloseHandle(s.file);
    s.file = INVALID_HANDLE_VALUE;
    open_current(s);
  }
}

std::string prefix(const char* file, int line) {
  const char* base = file;
  for (const char* p = file; *p; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  char head[300];
  std::snprintf(head, sizeof head, "P2P[%s:%d:%lu]", base, line, static_cast<unsigned long>(GetCurrentThreadId()));
  return head;
}

std::string format_text(const char* format, va_list args) {
  char body[8064];
  std::vsnprintf(body, sizeof body, format, args);
  return body;
}

}  // namespace

void log_open(int log_count, int out_mode) {
  log_state& s = state();
  CLockGuard h(s.lock);
  if (s.file != INVALID_HANDLE_VALUE) {
    CloseHandle(s.file);
    s.file = INVALID_HANDLE_VALUE;
  }
  s.log_count = log_count;
  s.to_console = out_mode == 0;
  s.to_file = !s.to_console;
  if (!s.to_file) return;
  make_dirs(log_dir());
  open_current(s);
}

void log_close() {
  log_state& s = state();
  CLockGuard h(s.lock);
  if (s.file != INVALID_HANDLE_VALUE) {
    FlushFileBuffers(s.file);
    CloseHandle(s.file);
    s.file = INVALID_HANDLE_VALUE;
  }
  s.to_file = s.to_console = false;
  std::fflush(stdout);
}

bool log_file_is_open() {
  CLockGuard h(state().lock);
  return state().file != INVALID_HANDLE_VALUE;
}

void log_set_threshold(int threshold) { state().threshold = threshold; }
int log_threshold() { return state().threshold; }

void log_set_base_name(const std::string& base) {
  CLockGuard h(state().lock);
  state().base = base;
}

std::string log_base_name() {
  CLockGuard h(state().lock);
  return state().base;
}

void log_set_rotate_bytes(uint64_t bytes) {
  CLockGuard h(state().lock);
  state().rotate_bytes = bytes;
}

void log_write(int level, const char* file, int line, const char* format, ...) {
  if (level < state().threshold) return;
  va_list args;
  va_start(args, format);
  std::string text = prefix(file, line) + format_text(format, args);
  va_end(args);
  emit(level, text);
}

void log_write_hash(int level, const uint8_t* hash, const char* file, int line, const char* format, ...) {
  if (level < state().threshold) return;
  va_list args;
  va_start(args, format);
  std::string text = hash_hex(hash) + " " + prefix(file, line) + format_text(format, args);
  va_end(args);
  emit(level, text);
}

}  // namespace p2p
