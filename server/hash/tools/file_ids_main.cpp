// Test aid: prints the four content ids of a file, so that they can be checked
// against an independent implementation.
// Usage: orchard_file_ids [--workers N | --sequential] FILE
//   --workers N    digest the pieces on N workers (default: one per core but the reader's)
//   --sequential   the one-thread pass instead of the pool
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/text/hex_text.h"
#include "server/hash/codec/file_ids.h"
#include "server/hash/codec/stdio_source.h"

int main(int argc, char** argv) {
  HashPassOptions options;
  bool sequential = false;
  int i = 1;
  for (; i + 1 < argc; ++i) {
    if (!std::strcmp(argv[i], "--sequential")) {
      sequential = true;
    } else if (!std::strcmp(argv[i], "--workers") && i + 2 < argc) {
      options.workers = unsigned(std::strtoul(argv[++i], nullptr, 10));
    } else {
      break;
    }
  }
  if (i + 1 != argc) {
    std::fprintf(stderr, "usage: orchard_file_ids [--workers N | --sequential] FILE\n");
    return 2;
  }
  CStdioByteSource source;
  if (!source.Open(argv[i])) {
    std::fprintf(stderr, "cannot open %s\n", argv[i]);
    return 1;
  }
  FileIds ids;
  const bool ok = sequential ? ComputeFileIdsSequential(source, source.Size(), &ids)
                             : ComputeFileIds(source, source.Size(), &ids, options);
  if (!ok) {
    std::fprintf(stderr, "cannot hash %s\n", argv[i]);
    return 1;
  }
  const DigestHolder* rows[] = {&ids.fid, &ids.sid, &ids.cid, &ids.qid};
  const char* names[] = {"fid", "sid", "cid", "qid"};
  for (int r = 0; r < 4; ++r) std::printf("%s=%s\n", names[r], HexText(rows[r]->digest, rows[r]->length).c_str());
  return 0;
}
