// Test files for the id computations: a scratch folder that goes with the
// test, and files whose every piece and read block differs from the others,
// written whole when small and sparse when large.
#pragma once
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "server/hash/codec/file_hash_pass.h"
#include "server/hash/codec/piece_size.h"

class HashTestDir {
 public:
  explicit HashTestDir(const std::string& name) {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / ("orchard_" + name + "_" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~HashTestDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  HashTestDir(const HashTestDir&) = delete;
  HashTestDir& operator=(const HashTestDir&) = delete;
  std::string File(const char* name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

namespace hash_test_files {
inline bool SeekTo(std::FILE* f, uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(f, static_cast<long long>(offset), SEEK_SET) == 0;
#else
  return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}
}  // namespace hash_test_files

// Up to 16 MiB the file is random throughout. Above, it is sparse: eight
// random bytes at the start of every piece of either kind and of every read
// block, and at the very end, so that a piece or block digested in the wrong
// place or order changes the ids, while the file costs little disk.
inline bool WriteMarkedFile(const std::string& path, uint64_t size, uint32_t seed) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::mt19937_64 rng(seed);
  bool ok = true;
  if (size <= (uint64_t(16) << 20)) {
    std::vector<uint64_t> words(size_t(size / 8 + 1));
    for (auto& w : words) w = rng();
    ok = std::fwrite(words.data(), 1, size_t(size), f) == size_t(size);
  } else {
    uint64_t spacing = GetMd5PieceSize(size);
    if (GetSha1PieceSize(size) < spacing) spacing = GetSha1PieceSize(size);
    if (kHashReadBlock < spacing) spacing = kHashReadBlock;
    for (uint64_t at = 0; ok && at + 8 <= size; at += spacing) {
      const uint64_t mark = rng();
      ok = hash_test_files::SeekTo(f, at) && std::fwrite(&mark, 1, 8, f) == 8;
    }
    const uint64_t last = rng();
    ok = ok && hash_test_files::SeekTo(f, size - 8) && std::fwrite(&last, 1, 8, f) == 8;
  }
  return std::fclose(f) == 0 && ok;
}
