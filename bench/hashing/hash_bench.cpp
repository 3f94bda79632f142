// Hashing throughput of the whole-file id computation (fid, SID, cid and qid
// together) over one file, as the publish task computes them: one reader in
// 256 KiB blocks, the pieces digested on one worker and then on all workers.
// Prints one line per worker count: workers, seconds, MB/s, the processor
// time all threads took (which the machine's other load does not inflate
// much) and the fid; then how many times one thread's speed independent MD5
// streams reach on all workers at once, with nothing shared: the most any
// pass could gain on the machine as it is loaded at that moment.
// Usage: orchard_hash_bench [--workers N] FILE   (N: that count alone)
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "foundation/codec/md5.h"
#include "foundation/text/hex_text.h"
#include "server/hash/codec/file_ids.h"
#include "server/hash/codec/stdio_source.h"

namespace {
double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto secs = [](const FILETIME& t) { return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7; };
  return secs(kernel) + secs(user);
}
// Seconds for `threads` threads each to MD5 128 MiB of its own, from a
// buffer that stays in its core's cache.
double IndependentStreamsSeconds(unsigned threads) {
  const auto t0 = std::chrono::steady_clock::now();
  std::vector<std::thread> pool;
  for (unsigned i = 0; i < threads; ++i) {
    pool.emplace_back([] {
      std::vector<uint8_t> buffer(1 << 20, 0x5A);
      MD5Context ctx;
      MD5Init(&ctx);
      for (int k = 0; k < 128; ++k) MD5Update(&ctx, buffer.data(), buffer.size());
      uint8_t digest[16];
      MD5Final(&ctx, digest);
    });
  }
  for (auto& t : pool) t.join();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
}  // namespace

int main(int argc, char** argv) {
  std::vector<unsigned> counts = {1, ResolveHashWorkers(0)};
  if (argc == 4 && !std::strcmp(argv[1], "--workers")) {
    counts = {ResolveHashWorkers(unsigned(std::strtoul(argv[2], nullptr, 10)))};
  } else if (argc != 2) {
    std::fprintf(stderr, "usage: orchard_hash_bench [--workers N] FILE\n");
    return 2;
  }
  CStdioByteSource source;
  if (!source.Open(argv[argc - 1])) {
    std::fprintf(stderr, "cannot open %s\n", argv[argc - 1]);
    return 1;
  }
  FileIds first;
  for (size_t i = 0; i < counts.size(); ++i) {
    HashPassOptions options;
    options.workers = counts[i];
    FileIds ids;
    const double cpu0 = ProcessCpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = ComputeFileIds(source, source.Size(), &ids, options);
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = ProcessCpuSeconds() - cpu0;
    if (!ok) {
      std::fprintf(stderr, "hashing failed\n");
      return 1;
    }
    if (i == 0) first = ids;
    if (std::memcmp(ids.fid.digest, first.fid.digest, 16) != 0 || std::memcmp(ids.cid.digest, first.cid.digest, 20) != 0) {
      std::fprintf(stderr, "the ids differ between worker counts\n");
      return 1;
    }
    std::printf("workers %u %.3f s %.1f MB/s cpu %.3f s fid=%s\n", counts[i], secs, source.Size() / secs / 1e6, cpu,
                HexText(ids.fid.digest, ids.fid.length).c_str());
  }
  if (counts.size() > 1) {
    const double one = IndependentStreamsSeconds(1), all = IndependentStreamsSeconds(counts.back());
    std::printf("streams %u %.2f times one thread's speed\n", counts.back(), one * counts.back() / all);
  }
  return 0;
}
