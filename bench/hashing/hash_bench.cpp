// Hashing throughput of the whole-file id computation (fid, SID, cid and qid
// together) over one file, as the publish task computes them: one pass in
// 256 KiB blocks feeding both piece hashers. Prints seconds and MB/s on one line.
// Usage: orchard_hash_bench FILE
#include <chrono>
#include <cstdio>

#include "server/hash/codec/file_ids.h"

namespace {
class StdioSource : public IByteSource {
 public:
  explicit StdioSource(FILE* f) : f_(f) {}
  size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
    // Reads come in order; seek only when they do not.
    if (offset != pos_) {
#ifdef _WIN32
      if (_fseeki64(f_, static_cast<long long>(offset), SEEK_SET) != 0) return 0;
#else
      if (fseeko(f_, static_cast<off_t>(offset), SEEK_SET) != 0) return 0;
#endif
    }
    size_t got = fread(buffer, 1, n, f_);
    pos_ = offset + got;
    return got;
  }

 private:
  FILE* f_;
  uint64_t pos_ = 0;
};
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: orchard_hash_bench FILE\n");
    return 2;
  }
  FILE* f = std::fopen(argv[1], "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  setvbuf(f, nullptr, _IONBF, 0);
#ifdef _WIN32
  _fseeki64(f, 0, SEEK_END);
  const uint64_t size = static_cast<uint64_t>(_ftelli64(f));
  _fseeki64(f, 0, SEEK_SET);
#else
  fseeko(f, 0, SEEK_END);
  const uint64_t size = static_cast<uint64_t>(ftello(f));
  fseeko(f, 0, SEEK_SET);
#endif
  StdioSource source(f);
  FileIds ids;
  const auto t0 = std::chrono::steady_clock::now();
  const bool ok = ComputeFileIds(source, size, &ids);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::fclose(f);
  if (!ok) {
    std::fprintf(stderr, "hashing failed\n");
    return 1;
  }
  std::printf("ids %.3f s %.1f MB/s fid=", secs, size / secs / 1e6);
  for (uint32_t i = 0; i < ids.fid.length; ++i) std::printf("%02X", ids.fid.digest[i]);
  std::printf("\n");
  return 0;
}
