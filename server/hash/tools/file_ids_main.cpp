// Test aid: prints the four content ids of a file, so that they can be checked
// against an independent implementation. Usage: orchard_file_ids FILE
#include <cstdio>

#include "foundation/text/hex_text.h"
#include "server/hash/codec/file_ids.h"
#include "server/hash/codec/stdio_source.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: orchard_file_ids FILE\n");
    return 2;
  }
  CStdioByteSource source;
  if (!source.Open(argv[1])) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  FileIds ids;
  if (!ComputeFileIds(source, source.Size(), &ids)) {
    std::fprintf(stderr, "cannot hash %s\n", argv[1]);
    return 1;
  }
  const DigestHolder* rows[] = {&ids.fid, &ids.sid, &ids.cid, &ids.qid};
  const char* names[] = {"fid", "sid", "cid", "qid"};
  for (int i = 0; i < 4; ++i) std::printf("%s=%s\n", names[i], HexText(rows[i]->digest, rows[i]->length).c_str());
  return 0;
}
