// The upload core's log: "log/<base>.log" under the application directory,
// rotated to dated names, lines "P2P[file:line:thread]" + text, or standard
// output in console mode.
#pragma once
#include <cstdint>
#include <string>

namespace p2p {

// Opens file or console output (out_mode 0 is console) and rotates an old file.
void log_open(int log_count, int out_mode);
void log_close();
bool log_file_is_open();
void log_set_threshold(int threshold);
int log_threshold();
void log_set_base_name(const std::string& base);
std::string log_base_name();

void log_write(int level, const char* file, int line, const char* format, ...)
    __attribute__((format(gnu_printf, 4, 5)));
// The same with a 16-byte hash as 32 hex digits and a blank before the text.
void log_write_hash(int level, const uint8_t* hash, const char* file, int line, const char* format, ...)
    __attribute__((format(gnu_printf, 5, 6)));

// Bytes after which the current file is rotated (tests lower it).
void log_set_rotate_bytes(uint64_t bytes);

}  // namespace p2p

#define P2P_LOG(level, ...) ::p2p::log_write((level), __FILE__, __LINE__, __VA_ARGS__)
#define P2P_LOG_HASH(level, hash, ...) ::p2p::log_write_hash((level), (hash), __FILE__, __LINE__, __VA_ARGS__)
