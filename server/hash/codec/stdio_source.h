// A file opened with the C runtime as a source of bytes for the id
// computations: for the command-line tools, which run in both builds.
#pragma once
#include <cstdio>

#include "server/hash/codec/file_ids.h"

class CStdioByteSource : public IByteSource {
 public:
  CStdioByteSource() = default;
  ~CStdioByteSource() override { Close(); }
  CStdioByteSource(const CStdioByteSource&) = delete;
  CStdioByteSource& operator=(const CStdioByteSource&) = delete;

  // Opens for unbuffered reading and measures the file; false when it cannot be had.
  bool Open(const char* path);
  void Close();
  uint64_t Size() const { return size_; }
  size_t ReadAt(uint64_t offset, void* buffer, size_t n) override;

 private:
  bool Seek(uint64_t offset);

  FILE* file_ = nullptr;
  uint64_t size_ = 0;
  uint64_t position_ = 0;
};
