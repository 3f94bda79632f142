// CSimpleFile: one file handle with the few operations the server's data
// files need.
#pragma once
#include <windows.h>

#include <cstdint>

class CSimpleFile {
 public:
  CSimpleFile() = default;
  ~CSimpleFile() { Close(); }
  CSimpleFile(const CSimpleFile&) = delete;
  CSimpleFile& operator=(const CSimpleFile&) = delete;

  // Appending opens (or creates) and moves to the end; otherwise the file is
  // created anew. With the mark, an empty file gets the UTF-16 mark FF FE.
  bool OpenWrite(const wchar_t* path, bool append, bool writeThrough, bool mark);
  bool OpenRead(const wchar_t* path);
  // From the beginning of the file.
  bool Seek(uint64_t offset);
  // The bytes read, 0 on failure.
  uint32_t Read(void* buffer, uint32_t count);
  // count when all were written, else 0.
  uint32_t Write(const void* buffer, uint32_t count);
  bool Flush();
  void Close();
  bool IsOpen() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Handle() const { return handle_; }

 private:
  HANDLE handle_ = nullptr;
};
