// Positional reads for the id computations. Large reads are split so that
// each ReadFile call asks for less than 4 GiB.
#include "server/hash/file_source.h"

#include "foundation/util/file_ops.h"

bool CFileByteSource::Open(const wchar_t* path) {
  Close();
  if (path == nullptr || path[0] == 0) return false;
  handle_ = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_RANDOM_ACCESS, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) handle_ = nullptr;
  return handle_ != nullptr;
}

void CFileByteSource::Close() {
  if (IsOpen()) CloseHandle(handle_);
  handle_ = nullptr;
}

bool CFileByteSource::Size(uint64_t* size) const {
  LARGE_INTEGER li;
  if (!IsOpen() || !GetFileSizeEx(handle_, &li)) return false;
  *size = static_cast<uint64_t>(li.QuadPart);
  return true;
}

size_t CFileByteSource::ReadAt(uint64_t offset, void* buffer, size_t n) {
  if (!IsOpen()) return 0;
  size_t total = 0;
  uint8_t* p = static_cast<uint8_t*>(buffer);
  while (total < n) {
    const size_t left = n - total;
    const DWORD want = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    OVERLAPPED ov = {};
    const uint64_t at = offset + total;
    ov.Offset = static_cast<DWORD>(at);
    ov.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    if (!ReadFile(handle_, p + total, want, &got, &ov) || got == 0) break;
    total += got;
  }
  return total;
}

bool QueryFileSize64(const wchar_t* path, uint64_t* size) { return path != nullptr && GetFileInfo(path, size, nullptr); }
