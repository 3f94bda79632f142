// A Windows file as a source of bytes for the id computations: positional
// reads on one handle opened for shared, random-access reading.
#pragma once
#include <windows.h>

#include <cstdint>

#include "server/hash/codec/file_ids.h"

class CFileByteSource : public IByteSource {
 public:
  CFileByteSource() = default;
  ~CFileByteSource() override { Close(); }
  CFileByteSource(const CFileByteSource&) = delete;
  CFileByteSource& operator=(const CFileByteSource&) = delete;

  bool Open(const wchar_t* path);
  void Close();
  bool IsOpen() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  // Current size of the open file; false when it cannot be had.
  bool Size(uint64_t* size) const;
  size_t ReadAt(uint64_t offset, void* buffer, size_t n) override;

 private:
  HANDLE handle_ = nullptr;
};

// 64-bit size of a file by its attributes; false when it is missing.
bool QueryFileSize64(const wchar_t* path, uint64_t* size);
