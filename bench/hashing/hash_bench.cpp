// Hashing throughput of the whole-file id computation (fid, SID, cid and qid
// together) over one file, as the publish task computes them: one reader in
// 256 KiB blocks, the pieces digested on one worker and then on all workers.
// Prints one line per worker count: workers, seconds, MB/s and the fid.
// Usage: orchard_hash_bench FILE
#include <chrono>
#include <cstdio>
#include <cstring>

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
  const unsigned counts[2] = {1, ResolveHashWorkers(0)};
  FileIds first;
  for (int i = 0; i < 2; ++i) {
    HashPassOptions options;
    options.workers = counts[i];
    FileIds ids;
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = ComputeFileIds(source, source.Size(), &ids, options);
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!ok) {
      std::fprintf(stderr, "hashing failed\n");
      return 1;
    }
    if (i == 0) first = ids;
    if (std::memcmp(ids.fid.digest, first.fid.digest, 16) != 0 || std::memcmp(ids.cid.digest, first.cid.digest, 20) != 0) {
      std::fprintf(stderr, "the ids differ between worker counts\n");
      return 1;
    }
    std::printf("workers %u %.3f s %.1f MB/s fid=%s\n", counts[i], secs, source.Size() / secs / 1e6,
                HexText(ids.fid.digest, ids.fid.length).c_str());
  }
  return 0;
}
