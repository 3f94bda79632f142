// CSimpleFile over CreateFileW, ReadFile and WriteFile.
#include "foundation/util/simple_file.h"

bool CSimpleFile::OpenWrite(const wchar_t* path, bool append, bool writeThrough, bool mark) {
  Close();
  handle_ = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL | (writeThrough ? FILE_FLAG_WRITE_THROUGH : 0), nullptr);
  if (!IsOpen()) {
    handle_ = nullptr;
    return false;
  }
  LARGE_INTEGER size{};
  if (mark && GetFileSizeEx(handle_, &size) && size.QuadPart == 0) {
    static const uint8_t kMark[2] = {0xFF, 0xFE};
    Write(kMark, sizeof kMark);
  }
  if (append) {
    LARGE_INTEGER zero{};
    SetFilePointerEx(handle_, zero, nullptr, FILE_END);
  }
  return true;
}

bool CSimpleFile::OpenRead(const wchar_t* path) {
  Close();
  handle_ = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_RANDOM_ACCESS, nullptr);
  if (!IsOpen()) {
    handle_ = nullptr;
    return false;
  }
  return true;
}

bool CSimpleFile::Seek(uint64_t offset) {
  if (!IsOpen() || offset > static_cast<uint64_t>(INT64_MAX)) return false;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN) != 0;
}

uint32_t CSimpleFile::Read(void* buffer, uint32_t count) {
  DWORD got = 0;
  if (!IsOpen() || !ReadFile(handle_, buffer, count, &got, nullptr)) return 0;
  return got;
}

uint32_t CSimpleFile::Write(const void* buffer, uint32_t count) {
  DWORD put = 0;
  if (!IsOpen() || !WriteFile(handle_, buffer, count, &put, nullptr) || put != count) return 0;
  return count;
}

bool CSimpleFile::Flush() { return IsOpen() && FlushFileBuffers(handle_) != 0; }

void CSimpleFile::Close() {
  if (IsOpen()) CloseHandle(handle_);
  handle_ = nullptr;
}
