// Windows part of the upload core's utility layer: application directory,
// exact ANSI path conversion, files, asynchronous reads with a shared file
// handle, times, thread names.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace p2p {

// The library's module and its own directory, stored at load.
void set_library_module(HMODULE module);
HMODULE library_module();

// The application directory (library directory or set_p2p_app_path), else
// the program's directory; always ending in "\\".
std::wstring app_dir();

// UTF-16 to the ANSI code page with no best-fit mapping: false when any
// character has no exact ANSI form (the name would reach another file).
bool to_ansi_exact(const wchar_t* text, std::string* out);
std::wstring ansi_to_wide(const std::string& text);
// A UTF-8 text (our sources) in the GBK code page, for log lines.
std::string gbk(const char* utf8);

bool file_stat(const std::wstring& path, uint64_t* size, FILETIME* last_write);
uint64_t file_size(const std::wstring& path);
bool file_exists(const std::wstring& path);
// One read of n bytes (all of the file for n = -1) at offset; bytes read, 0 on failure.
uint32_t read_file(const std::wstring& path, uint64_t offset, void* buffer, int64_t n);
// Whole file into out; false when it cannot be read whole.
bool read_whole_file(const std::wstring& path, std::vector<uint8_t>* out);
std::string read_text_file(const std::wstring& path);
size_t read_lines(const std::wstring& path, std::vector<std::string>* lines);
bool delete_file(const std::wstring& path);
int move_file(const std::wstring& from, const std::wstring& to);
bool make_dirs(const std::wstring& path);
std::wstring join_path(const std::wstring& dir, const std::wstring& name);
void ensure_backslash(std::wstring& path);
std::string program_dir_ansi();
std::wstring program_dir();
std::string program_path_ansi();
std::string command_line();
bool module_version(uint16_t out[4]);

std::string time_text(const FILETIME& t);
std::string now_text();

void set_thread_name(const char* name);
void winsock_start();

// A file handle shared by a share and the reads in flight on it: it closes
// when the last holder lets go, so no read ever uses a closed handle.
class shared_file {
 public:
  // CreateFileA for upload reads (read, sharing read/write/delete, overlapped).
  static shared_file* open_for_upload(const char* ansi_path);
  HANDLE handle() const { return handle_; }
  void acquire();
  void release();
  // Cancels the reads in flight on this handle, from whatever thread issued them.
  void cancel_reads();
  static long open_count();

 private:
  explicit shared_file(HANDLE h) : handle_(h) {}
  ~shared_file();
  HANDLE handle_;
  std::atomic<long> refs_{1};  // the scheduler and the workers hold references
};

// Completion of an upload read: data, requested length, bytes read, system
// error (0 success), shared flag, two user words. Data is valid only inside.
using read_completion = void (*)(const uint8_t* data, uint32_t requested, uint32_t bytes_read, uint32_t error,
                                 int shared, uintptr_t user1, uintptr_t user2);

// ReadFileEx of length bytes at offset into the caller's buffer, which stays
// the caller's; holds a reference on the file until the completion ran. When
// the read cannot start, the completion runs at once with the error and the
// result is false. The completion runs in an alertable wait of the calling thread.
bool read_async_into(shared_file* file, uint8_t* buffer, uint32_t length, uint64_t offset, read_completion done,
                     uintptr_t user1, uintptr_t user2);
// Reads the calling thread started whose completions have not run: a thread
// that ends before they ran would lose them.
long reads_in_flight_here();

}  // namespace p2p
