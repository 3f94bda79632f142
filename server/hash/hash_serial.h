// CHashSerial: the store of hash records under "HashSerial" in the data
// directory, one file per hashed file named by its SID, so that a file seen
// again needs only three piece reads instead of a full MD5 pass.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "server/hash/codec/hash_record.h"

class CHashSerial {
 public:
  static CHashSerial* GetInstance();
  static void FreeInstance();

  // The data directory the records lie under (its "HashSerial" folder).
  void SetDataDir(const std::wstring& dir);
  const std::wstring& DataDir() const { return dataDir_; }
  // dataDir\HashSerial\<first 3 hex digits of the SID>\<32 hex digits>.
  std::wstring RecordPath(const uint8_t sid[16]) const;

  // Computes the file's SID (written out even when no record is found) and
  // loads its record; 1 when a valid record for this very file was found.
  int Load(const wchar_t* path, uint64_t size, uint8_t sid[16], uint8_t fid[16], std::vector<uint8_t>* digests);
  // 1 when the record named by the SID matches fid and size; reads no media file.
  int LoadDigests(const uint8_t sid[16], const uint8_t fid[16], uint64_t size, std::vector<uint8_t>* digests);
  // 1 when the record was written whole and put in place of the old one;
  // otherwise the old record, if any, is left as it was.
  int Save(uint64_t size, const uint8_t sid[16], const uint8_t fid[16], const std::vector<uint8_t>& digests);
  // Derives the SID from the digests, then saves; 0 when the fid or digests are
  // missing or the digests are not exactly one per piece of size.
  int SaveFromDigests(const wchar_t* path, uint64_t size, const uint8_t fid[16], const std::vector<uint8_t>* digests);

 private:
  CHashSerial();
  // Reads and checks the record at path; the check reached and what was read.
  int ReadRecord(const std::wstring& path, uint64_t size, HashRecordContents* out, bool* sizeMatched);

  std::vector<uint8_t> readBuffer_;
  std::wstring dataDir_;
};
