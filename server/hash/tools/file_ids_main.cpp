// Test aid: prints the four content ids of a file, so that they can be checked
// against an independent implementation. Usage: orchard_file_ids FILE
#include <cstdio>

#include "foundation/text/hex_text.h"
#include "server/hash/codec/file_ids.h"

namespace {
class StdioSource : public IByteSource {
 public:
  explicit StdioSource(FILE* f) : f_(f) {}
  size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
#ifdef _WIN32
    if (_fseeki64(f_, static_cast<long long>(offset), SEEK_SET) != 0) return 0;
#else
    if (fseeko(f_, static_cast<off_t>(offset), SEEK_SET) != 0) return 0;
#endif
    return fread(buffer, 1, n, f_);
  }

 private:
  FILE* f_;
};

void PrintHex(const char* name, const DigestHolder& h) {
  std::printf("%s=%s\n", name, HexText(h.digest, h.length).c_str());
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: orchard_file_ids FILE\n");
    return 2;
  }
  FILE* f = std::fopen(argv[1], "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
#ifdef _WIN32
  _fseeki64(f, 0, SEEK_END);
  uint64_t size = static_cast<uint64_t>(_ftelli64(f));
#else
  fseeko(f, 0, SEEK_END);
  uint64_t size = static_cast<uint64_t>(ftello(f));
#endif
  StdioSource source(f);
  FileIds ids;
  bool ok = ComputeFileIds(source, size, &ids);
  std::fclose(f);
  if (!ok) {
    std::fprintf(stderr, "cannot hash %s\n", argv[1]);
    return 1;
  }
  PrintHex("fid", ids.fid);
  PrintHex("sid", ids.sid);
  PrintHex("cid", ids.cid);
  PrintHex("qid", ids.qid);
  return 0;
}
