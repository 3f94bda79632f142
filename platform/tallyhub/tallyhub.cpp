// Tallyhub stand-in: keeps the statistics added to a reporter and appends
// each report as one line to a file a test can read.
#define TALLYHUB_BUILDING
#include "platform/tallyhub/tallyhub.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct reporter_state {
  std::string head;
  std::string items;
  int count = 0;
};

CRITICAL_SECTION& lock() {
  static CRITICAL_SECTION cs;
  static bool ready = [] {
    InitializeCriticalSection(&cs);
    return true;
  }();
  (void)ready;
  return cs;
}

std::string g_server;  // under lock()

std::string text(const char* t) { return t ? t : ""; }

std::string hex(const void* bytes, uint32_t n) {
  static const char digits[] = "0123456789ABCDEF";
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  std::string out;
  for (uint32_t i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

void append_line(const std::string& line) {
  char path[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableA("TALLYHUB_REPORT_FILE", path, sizeof path);
  if (n == 0 || n >= sizeof path) {
    // Beside the program, not in its current directory: a service's is the system's own.
    n = GetModuleFileNameA(nullptr, path, sizeof path);
    char* slash = n > 0 && n < sizeof path ? strrchr(path, '\\') : nullptr;
    if (slash && size_t(slash - path) + 22 < sizeof path)
      lstrcpyA(slash + 1, "tallyhub_reports.txt");
    else
      lstrcpyA(path, "tallyhub_reports.txt");
  }
  HANDLE h = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD done = 0;
  WriteFile(h, line.data(), DWORD(line.size()), &done, nullptr);
  CloseHandle(h);
}

}  // namespace

CTallyhub::CTallyhub(const char* product, const char* version, const char* kind, const char* category) {
  reporter_state* s = new reporter_state;
  s->head = "product=" + text(product) + " version=" + text(version) + " kind=" + text(kind) +
            " category=" + text(category);
  state_ = s;
}

CTallyhub::~CTallyhub() {
  reporter_state* s = static_cast<reporter_state*>(state_);
  if (s->count > 0) SendReport();
  delete s;
}

void CTallyhub::SetServer(const char* host, unsigned short port) {
  EnterCriticalSection(&lock());
  g_server = text(host) + ":" + std::to_string(port);
  LeaveCriticalSection(&lock());
}

void CTallyhub::StatAdd(uint64_t id, uint64_t value) {
  reporter_state* s = static_cast<reporter_state*>(state_);
  s->items += " " + std::to_string(id) + "=u64:" + std::to_string(value);
  ++s->count;
}

void CTallyhub::StatAdd(uint64_t id, const uint8_t digest[16]) {
  reporter_state* s = static_cast<reporter_state*>(state_);
  s->items += " " + std::to_string(id) + "=md5:" + (digest ? hex(digest, 16) : std::string());
  ++s->count;
}

void CTallyhub::StatAdd(uint64_t id, const void* bytes, uint32_t length) {
  reporter_state* s = static_cast<reporter_state*>(state_);
  s->items += " " + std::to_string(id) + "=bytes:" + (bytes ? hex(bytes, length) : std::string());
  ++s->count;
}

void CTallyhub::SendReport() {
  reporter_state* s = static_cast<reporter_state*>(state_);
  EnterCriticalSection(&lock());
  std::string line = "report " + s->head + " server=" + g_server + s->items + "\n";
  append_line(line);
  LeaveCriticalSection(&lock());
  s->items.clear();
  s->count = 0;
}
