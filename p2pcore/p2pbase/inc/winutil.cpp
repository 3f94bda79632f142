// Windows part of the upload core's utility layer.
#include "p2pcore/p2pbase/inc/winutil.h"

#include <shlwapi.h>

#include <atomic>
#include <cstring>
#include <new>

#include "p2pcore/codec/texts.h"
#include "p2pcore/ke/options.h"

namespace p2p {

static HMODULE g_module = nullptr;

void set_library_module(HMODULE module) { g_module = module; }
HMODULE library_module() { return g_module; }

std::wstring program_dir() {
  wchar_t path[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  size_t slash = p.find_last_of(L'\\');
  return slash == std::wstring::npos ? L"" : p.substr(0, slash + 1);
}

std::wstring app_dir() {
  std::wstring dir = options_app_dir();
  if (dir.empty()) return program_dir();
  ensure_backslash(dir);
  return dir;
}

bool to_ansi_exact(const wchar_t* text, std::string* out) {
  out->clear();
  if (!text) return false;
  const int wide_len = int(wcslen(text));
  if (wide_len == 0) return true;
  const UINT cp = GetACP();
  const bool utf8 = cp == CP_UTF8;
  BOOL used_default = FALSE;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  int n = WideCharToMultiByte(cp, flags, text, wide_len, nullptr, 0, nullptr, utf8 ? nullptr : &used_default);
  if (n <= 0 || used_default) return false;
  std::string ansi(size_t(n), '\0');
  WideCharToMultiByte(cp, flags, text, wide_len, ansi.data(), n, nullptr, utf8 ? nullptr : &used_default);
  if (used_default) return false;
  // The conversion is exact only when it comes back unchanged.
  if (ansi_to_wide(ansi) != std::wstring(text, size_t(wide_len))) return false;
  *out = std::move(ansi);
  return true;
}

std::wstring ansi_to_wide(const std::string& text) {
  if (text.empty()) return L"";
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
  if (n <= 0) return L"";
  std::wstring wide(size_t(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), n);
  return wide;
}

std::string gbk(const char* utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  if (n <= 0) return utf8;
  std::wstring wide(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), n);
  int m = WideCharToMultiByte(936, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (m <= 0) return utf8;
  std::string out(size_t(m), '\0');
  WideCharToMultiByte(936, 0, wide.c_str(), -1, out.data(), m, nullptr, nullptr);
  out.resize(size_t(m - 1));
  return out;
}

bool file_stat(const std::wstring& path, uint64_t* size, FILETIME* last_write) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if (size) *size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  if (last_write) *last_write = data.ftLastWriteTime;
  return true;
}

uint64_t file_size(const std::wstring& path) {
  uint64_t size = 0;
  return file_stat(path, &size, nullptr) ? size : 0;
}

bool file_exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

uint32_t read_file(const std::wstring& path, uint64_t offset, void* buffer, int64_t n) {
  if (!buffer) return 0;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  if (n < 0) {
    DWORD high = 0;
    DWORD low = GetFileSize(h, &high);
    n = high ? 0xFFFFFFFF : low;
  }
  LONG high_offset = LONG(offset >> 32);
  DWORD got = 0;
  const bool ok = SetFilePointer(h, LONG(offset), &high_offset, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
                  ReadFile(h, buffer, DWORD(std::min<int64_t>(n, 0xFFFFFFFF)), &got, nullptr);
  CloseHandle(h);
  return ok ? got : 0;
}

bool read_whole_file(const std::wstring& path, std::vector<uint8_t>* out) {
  out->clear();
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(h, &size) && size.QuadPart >= 0 && uint64_t(size.QuadPart) < (uint64_t(1) << 31);
  if (ok) {
    out->resize(size_t(size.QuadPart));
    size_t done = 0;
    while (ok && done < out->size()) {
      DWORD got = 0;
      DWORD want = DWORD(std::min<size_t>(out->size() - done, 1 << 20));
      ok = ReadFile(h, out->data() + done, want, &got, nullptr) && got > 0;
      done += got;
    }
  }
  CloseHandle(h);
  if (!ok) out->clear();
  return ok;
}

std::string read_text_file(const std::wstring& path) {
  std::string text;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return text;
  char piece[0x4000];
  DWORD got = 0;
  while (ReadFile(h, piece, sizeof piece, &got, nullptr) && got > 0) text.append(piece, got);
  CloseHandle(h);
  return text;
}

size_t read_lines(const std::wstring& path, std::vector<std::string>* lines) {
  std::string text = read_text_file(path);
  remove_cr(text);
  *lines = text_splitter(text, "\n").split();
  return lines->size();
}

bool delete_file(const std::wstring& path) { return DeleteFileW(path.c_str()) != 0; }

int move_file(const std::wstring& from, const std::wstring& to) {
  return MoveFileW(from.c_str(), to.c_str()) ? 0 : int(GetLastError());
}

bool make_dirs(const std::wstring& input) {
  std::u16string tmp(input.begin(), input.end());
  to_backslashes(tmp);
  std::wstring path(tmp.begin(), tmp.end());
  size_t pos = 0;
  if (path.rfind(L"\\\\", 0) == 0) {  // \\server\share: skip the first four parts
    pos = 2;
    for (int part = 0; part < 2 && pos != std::wstring::npos; ++part) {
      pos = path.find(L'\\', pos);
      if (pos != std::wstring::npos) ++pos;
    }
    if (pos == std::wstring::npos) return true;
  }
  for (;;) {
    size_t next = path.find(L'\\', pos);
    std::wstring part = path.substr(0, next);
    if (!part.empty() && part.back() != L':' && !PathIsDirectoryW(part.c_str()))
      if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    if (next == std::wstring::npos) break;
    pos = next + 1;
  }
  return true;
}

std::wstring join_path(const std::wstring& dir, const std::wstring& name) {
  if (name.find(L':') != std::wstring::npos || name.rfind(L"\\\\", 0) == 0) return name;
  std::wstring out = dir;
  if (!out.empty() && out.back() != L'\\') out += L'\\';
  return out + name;
}

void ensure_backslash(std::wstring& path) {
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  if (path.empty() || path.back() != L'\\') path += L'\\';
}

std::string program_path_ansi() {
  char path[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n);
}

std::string program_dir_ansi() {
  std::string p = program_path_ansi();
  size_t slash = p.find_last_of('\\');
  return slash == std::string::npos ? "" : p.substr(0, slash + 1);
}

std::string command_line() { return GetCommandLineA(); }

bool module_version(uint16_t out[4]) {
  out[0] = out[1] = out[2] = out[3] = 0;
  wchar_t path[MAX_PATH + 1] = {};
  if (!GetModuleFileNameW(g_module, path, MAX_PATH)) return false;
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return false;
  std::vector<uint8_t> data(size);
  if (!GetFileVersionInfoW(path, 0, size, data.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT len = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &len) || !info || len < sizeof *info)
    return false;
  out[0] = HIWORD(info->dwFileVersionMS);
  out[1] = LOWORD(info->dwFileVersionMS);
  out[2] = HIWORD(info->dwFileVersionLS);
  out[3] = LOWORD(info->dwFileVersionLS);
  return true;
}

static std::string system_time_text(const SYSTEMTIME& st) {
  return clock_text({st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds});
}

std::string time_text(const FILETIME& t) {
  FILETIME local;
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&t, &local) || !FileTimeToSystemTime(&local, &st)) return "0000-00-00 00:00:00:000";
  return system_time_text(st);
}

std::string now_text() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return system_time_text(st);
}

static LONG CALLBACK resume_after_thread_name(EXCEPTION_POINTERS* e) {
  return e->ExceptionRecord->ExceptionCode == 0x406D1388 ? EXCEPTION_CONTINUE_EXECUTION : EXCEPTION_CONTINUE_SEARCH;
}

void set_thread_name(const char* name) {
#pragma pack(push, 8)
  struct thread_name_info {
    DWORD type;
    LPCSTR name;
    DWORD thread_id;
    DWORD flags;
  };
#pragma pack(pop)
  thread_name_info info = {0x1000, name, DWORD(-1), 0};
  // A debugger takes the name from the exception; our own handler resumes
  // after it, as this compiler has no __except.
  void* handler = AddVectoredExceptionHandler(1, resume_after_thread_name);
  RaiseException(0x406D1388, 0, sizeof info / sizeof(ULONG_PTR), reinterpret_cast<const ULONG_PTR*>(&info));
  if (handler) RemoveVectoredExceptionHandler(handler);
}

void winsock_start() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
}

static std::atomic<long> g_open_files{0};

shared_file* shared_file::open_for_upload(const char* ansi_path) {
  HANDLE h = CreateFileA(ansi_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE || h == nullptr) return nullptr;
  ++g_open_files;
  return new shared_file(h);
}

shared_file::~shared_file() {
  CloseHandle(handle_);
  --g_open_files;
}

void shared_file::acquire() { ++refs_; }

void shared_file::release() {
  if (--refs_ == 0) delete this;
}

void shared_file::cancel_reads() { CancelIoEx(handle_, nullptr); }

long shared_file::open_count() { return g_open_files; }

namespace {
struct async_read {
  OVERLAPPED overlapped;  // first: the completion gets this address
  shared_file* file;
  uint8_t* buffer;
  uint32_t length;
  read_completion done;
  uintptr_t user1, user2;
};

// Reads started on this thread whose completion has not run yet.
thread_local long t_reads_in_flight = 0;

void finish(async_read* r, DWORD error, DWORD bytes) {
  --t_reads_in_flight;
  r->done(r->buffer, r->length, bytes, error, 0, r->user1, r->user2);
  r->file->release();
  delete r;
}

void CALLBACK read_done(DWORD error, DWORD bytes, OVERLAPPED* overlapped) {
  finish(reinterpret_cast<async_read*>(overlapped), error, bytes);
}
}  // namespace

long reads_in_flight_here() { return t_reads_in_flight; }

bool read_async_into(shared_file* file, uint8_t* buffer, uint32_t length, uint64_t offset, read_completion done,
                     uintptr_t user1, uintptr_t user2) {
  if (!file || !buffer || !done) return false;
  async_read* r = new (std::nothrow) async_read{};
  if (!r) {
    done(buffer, length, 0, ERROR_NOT_ENOUGH_MEMORY, 0, user1, user2);
    return false;
  }
  r->overlapped.Offset = DWORD(offset);
  r->overlapped.OffsetHigh = DWORD(offset >> 32);
  r->file = file;
  r->buffer = buffer;
  r->length = length;
  r->done = done;
  r->user1 = user1;
  r->user2 = user2;
  file->acquire();  // held until the completion ran
  ++t_reads_in_flight;
  if (!ReadFileEx(file->handle(), buffer, length, &r->overlapped, read_done)) {
    finish(r, GetLastError(), 0);
    return false;
  }
  return true;
}

}  // namespace p2p
