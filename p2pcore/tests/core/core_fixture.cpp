// Helpers for the inner-part tests.
#include "p2pcore/tests/core/core_fixture.h"

#include <fstream>
#include <sstream>

namespace core_test {

scratch::scratch() {
  static int counter = 0;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  dir = std::string(temp) + "seedcore_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter) +
        "\\";
  CreateDirectoryA(dir.c_str(), nullptr);
}

static void remove_tree(const std::string& dir) {
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((dir + "*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::string name = fd.cFileName;
      if (name == "." || name == "..") continue;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) remove_tree(dir + name + "\\");
      else DeleteFileA((dir + name).c_str());
    } while (FindNextFileA(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryA(dir.c_str());
}

scratch::~scratch() { remove_tree(dir); }

std::string scratch::write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  std::string path = dir + name;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

std::vector<uint8_t> fid(uint8_t n) {
  std::vector<uint8_t> f(16);
  for (int i = 0; i < 16; ++i) f[i] = uint8_t(n + i * 29);
  f[15] = uint8_t(n >> 1) ^ 0x5A;
  return f;
}

std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7 + (i >> 8));
  return v;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void wait_alertable(const volatile bool& done) {
  for (int i = 0; i < 200 && !done; ++i) SleepEx(10, TRUE);
}

}  // namespace core_test
