// CalcFileHash: the publish thread reads, a pool of workers digests. The
// checks and log lines of each block stay on the reading thread, so a cancel
// or a changed file is seen at the same block as with one thread.
#include "server/hash/calc_hash.h"

#include "foundation/log/server_logs.h"

namespace {
class FileBlockReader : public IBlockReader {
 public:
  FileBlockReader(HANDLE file, uint64_t size, HANDLE stop) : file_(file), size_(size), stop_(stop) {}

  bool ReadBlock(uint64_t offset, uint8_t* buffer, size_t want) override {
    (void)want;  // always a whole block is asked of the file; a grown file's extra bytes are not hashed
    LARGE_INTEGER now;
    if (!GetFileSizeEx(file_, &now) || uint64_t(now.QuadPart) != size_) {
      WriteLog(&g_MainLog, 1, "FileChanged, nCalcSize=%lld\n", (long long)offset);
      return false;
    }
    if (stop_ && WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0) {
      WriteLog(&g_MainLog, 1, "StopEvent, nCalcSize=%lld\n", (long long)offset);
      return false;
    }
    DWORD got = 0;
    if (!ReadFile(file_, buffer, DWORD(kHashReadBlock), &got, nullptr)) got = 0;
    if (got < kHashReadBlock && offset + got != size_) {
      WriteLog(&g_MainLog, 1, "Read error, nToRead=%d, nRead=%d\r\n", int(kHashReadBlock), int(got));
      return false;
    }
    return true;
  }

 private:
  HANDLE file_;
  uint64_t size_;
  HANDLE stop_;
};
}  // namespace

int CalcFileHash(const wchar_t* path, uint64_t size, DigestHolder* fid, DigestHolder* sid, DigestHolder* cid,
                 std::vector<uint8_t>* pieces, bool fullHash, HANDLE stop, const HashPassOptions& options) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_RANDOM_ACCESS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  const DWORD started = GetTickCount();
  FileBlockReader reader(file, size, stop);
  HashPassResult result;
  const bool ok = RunHashPass(size, fullHash, reader, options, &result);
  CloseHandle(file);
  const double seconds = double(DWORD(GetTickCount() - started)) / 1000.0;
  const double mib = double(size >> 20);
  WriteLog(&g_MainLog, 1, "PUBTASK - Do Calc Final, Size=%lld M, TimeUsed=%0.1f Second, Speed=%0.1f M/s\r\n",
           (long long)(size >> 20), seconds, seconds > 0 ? mib / seconds : 0.0);
  if (!ok) return 0;
  if (fullHash) {
    if (fid) *fid = result.fid;
    if (sid) *sid = result.sid;
    if (pieces) *pieces = std::move(result.pieceDigests);
  }
  if (cid) *cid = result.cid;
  return 1;
}
