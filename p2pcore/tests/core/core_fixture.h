// Helpers for the tests of the library's inner parts: scratch files, fids.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

namespace core_test {

struct scratch {
  scratch();
  ~scratch();
  std::string dir;  // ANSI, ends in "\\"
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const;
};

std::vector<uint8_t> fid(uint8_t n);
std::vector<uint8_t> pattern(size_t n);
std::string read_file(const std::string& path);
// Runs alertable waits until done becomes true or about two seconds passed.
void wait_alertable(const volatile bool& done);

}  // namespace core_test
