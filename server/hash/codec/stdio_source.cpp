// CStdioByteSource: positional reads over stdio with 64-bit offsets. Reads
// that come in order, as the whole-file pass makes them, need no seek.
#include "server/hash/codec/stdio_source.h"

bool CStdioByteSource::Seek(uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(file_, static_cast<long long>(offset), SEEK_SET) == 0;
#else
  return fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool CStdioByteSource::Open(const char* path) {
  Close();
  file_ = std::fopen(path, "rb");
  if (file_ == nullptr) return false;
  setvbuf(file_, nullptr, _IONBF, 0);
#ifdef _WIN32
  const bool ok = _fseeki64(file_, 0, SEEK_END) == 0;
  const long long end = ok ? _ftelli64(file_) : -1;
#else
  const bool ok = fseeko(file_, 0, SEEK_END) == 0;
  const long long end = ok ? static_cast<long long>(ftello(file_)) : -1;
#endif
  if (end < 0 || !Seek(0)) {
    Close();
    return false;
  }
  size_ = static_cast<uint64_t>(end);
  position_ = 0;
  return true;
}

void CStdioByteSource::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  size_ = 0;
}

size_t CStdioByteSource::ReadAt(uint64_t offset, void* buffer, size_t n) {
  if (file_ == nullptr) return 0;
  if (offset != position_ && !Seek(offset)) return 0;
  const size_t got = std::fread(buffer, 1, n, file_);
  position_ = offset + got;
  return got;
}
