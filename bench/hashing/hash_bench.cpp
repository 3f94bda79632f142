// Hashing throughput of the whole-file id computation (fid, SID, cid and qid
// together) over one file, as the publish task computes them: one pass in
// 256 KiB blocks feeding both piece hashers. Prints seconds and MB/s on one line.
// Usage: orchard_hash_bench FILE
#include <chrono>
#include <cstdio>

#include "foundation/text/hex_text.h"
#include "server/hash/codec/file_ids.h"
#include "server/hash/codec/stdio_source.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: orchard_hash_bench FILE\n");
    return 2;
  }
  CStdioByteSource source;
  if (!source.Open(argv[1])) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  FileIds ids;
  const auto t0 = std::chrono::steady_clock::now();
  const bool ok = ComputeFileIds(source, source.Size(), &ids);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (!ok) {
    std::fprintf(stderr, "hashing failed\n");
    return 1;
  }
  std::printf("ids %.3f s %.1f MB/s fid=%s\n", secs, source.Size() / secs / 1e6,
              HexText(ids.fid.digest, ids.fid.length).c_str());
  return 0;
}
