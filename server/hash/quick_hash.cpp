// CalcQuickHash: the sampled SHA-1 of a file, refused when the file's size
// moved since it was measured.
#include "server/hash/quick_hash.h"

#include "server/hash/file_source.h"

int CalcQuickHash(const wchar_t* path, uint64_t size, DigestHolder* qid) {
  if (path == nullptr || path[0] == 0 || qid == nullptr || size == 0) return 0;
  uint64_t now = 0;
  if (!QueryFileSize64(path, &now) || now != size) return 0;
  CFileByteSource file;
  if (!file.Open(path)) return 0;
  return ComputeQuickHash(file, size, qid) ? 1 : 0;
}
