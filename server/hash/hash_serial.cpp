// Hash-record store: file access around the record codec. Every failure is
// silent (0); the caller logs and falls back to hashing.
#include "server/hash/hash_serial.h"

#include <windows.h>

#include <cstring>

#include "foundation/text/hex_text.h"
#include "foundation/util/file_ops.h"
#include "foundation/util/path_ops.h"
#include "server/hash/codec/file_ids.h"
#include "server/hash/codec/hash_record.h"
#include "server/hash/codec/piece_hash.h"
#include "server/hash/codec/piece_size.h"
#include "server/hash/file_source.h"

namespace {
CHashSerial* g_instance = nullptr;

bool ReadWhole(const std::wstring& path, uint64_t size, std::vector<uint8_t>* out) {
  CFileByteSource f;
  if (!f.Open(path.c_str())) return false;
  out->resize(static_cast<size_t>(size));
  return f.ReadAt(0, out->data(), out->size()) == out->size();
}
}  // namespace

CHashSerial* CHashSerial::GetInstance() {
  if (g_instance == nullptr) g_instance = new CHashSerial();
  return g_instance;
}

void CHashSerial::FreeInstance() {
  delete g_instance;
  g_instance = nullptr;
}

CHashSerial::CHashSerial() : readBuffer_(0x400000) {}

void CHashSerial::SetDataDir(const std::wstring& dir) { dataDir_ = dir; }

std::wstring CHashSerial::RecordPath(const uint8_t sid[16]) const {
  const std::string narrow = HexText(sid, 16);
  const std::wstring hex(narrow.begin(), narrow.end());
  std::wstring p = dataDir_;
  if (!p.empty() && p.back() != L'\\') p += L'\\';
  return p + L"HashSerial\\" + hex.substr(0, 3) + L"\\" + hex;
}

int CHashSerial::ReadRecord(const std::wstring& path, uint64_t size, HashRecordContents* out, bool* sizeMatched) {
  *sizeMatched = false;
  uint64_t recordSize = 0;
  if (!QueryFileSize64(path.c_str(), &recordSize) || !HashRecordFileSizeOk(recordSize)) return 0;
  std::vector<uint8_t> rec;
  if (!ReadWhole(path, recordSize, &rec)) return 0;
  const HashRecordCheck check = DecodeHashRecord(rec.data(), rec.size(), size, out);
  *sizeMatched = check == HashRecordCheck::kBadPieceCount || check == HashRecordCheck::kOk;
  return check == HashRecordCheck::kOk ? 1 : 0;
}

int CHashSerial::Load(const wchar_t* path, uint64_t size, uint8_t sid[16], uint8_t fid[16],
                      std::vector<uint8_t>* digests) {
  if (path == nullptr || sid == nullptr || fid == nullptr || digests == nullptr) return 0;
  const uint64_t n = GetPieceCount(size);
  if (n == 0) return 0;
  uint8_t three[48];
  {
    CFileByteSource file;
    if (!file.Open(path)) return 0;
    if (!ComputeSampleId(file, size, readBuffer_, sid, three)) return 0;
  }
  const std::wstring recordPath = RecordPath(sid);
  HashRecordContents rec;
  bool sizeMatched = false;
  const int ok = ReadRecord(recordPath, size, &rec, &sizeMatched);
  // Only files above 64 MiB keep their records; smaller ones hash quickly enough.
  if (sizeMatched && size <= kHashRecordKeepAbove) {
    DeleteFileW(recordPath.c_str());
    return 0;
  }
  if (!ok) return 0;
  std::memcpy(fid, rec.fid, 16);
  uint8_t check[16];
  FileIdFromDigests(rec.digests.data(), n, check);
  if (std::memcmp(check, rec.fid, 16) != 0) return 0;
  const uint64_t index[3] = {0, n / 2, n - 1};
  for (int i = 0; i < 3; ++i) {
    if (std::memcmp(rec.digests.data() + index[i] * 16, three + 16 * i, 16) != 0) return 0;
  }
  *digests = std::move(rec.digests);
  return 1;
}

int CHashSerial::LoadDigests(const uint8_t sid[16], const uint8_t fid[16], uint64_t size,
                             std::vector<uint8_t>* digests) {
  if (sid == nullptr || fid == nullptr || digests == nullptr) return 0;
  const std::wstring recordPath = RecordPath(sid);
  if (GetFileAttributesW(recordPath.c_str()) == INVALID_FILE_ATTRIBUTES) return 0;
  HashRecordContents rec;
  bool sizeMatched = false;
  if (!ReadRecord(recordPath, size, &rec, &sizeMatched)) return 0;
  if (std::memcmp(rec.fid, fid, 16) != 0) return 0;
  uint8_t check[16];
  FileIdFromDigests(rec.digests.data(), GetPieceCount(size), check);
  if (std::memcmp(check, fid, 16) != 0) return 0;
  *digests = std::move(rec.digests);
  return 1;
}

int CHashSerial::Save(uint64_t size, const uint8_t sid[16], const uint8_t fid[16],
                      const std::vector<uint8_t>& digests) {
  if (sid == nullptr || fid == nullptr) return 0;
  const std::vector<uint8_t> rec = EncodeHashRecord(size, fid, digests.data(), digests.size());
  if (rec.empty()) return 0;
  const std::wstring recordPath = RecordPath(sid);
  const std::wstring sub = recordPath.substr(0, recordPath.rfind(L'\\'));
  if (!IsDirectory(sub.c_str()) && !CreateDirectoryTree(sub.c_str())) return 0;
  // Written whole beside the old record, then put in its place in one rename:
  // a kill or a full disk at any moment leaves the old record or the new one.
  return ReplaceFileWhole(recordPath.c_str(), rec.data(), rec.size()) ? 1 : 0;
}

int CHashSerial::SaveFromDigests(const wchar_t* /*path*/, uint64_t size, const uint8_t fid[16],
                                 const std::vector<uint8_t>* digests) {
  if (fid == nullptr || digests == nullptr) return 0;
  const uint64_t n = GetPieceCount(size);
  if (n == 0 || digests->size() != 16 * n) return 0;
  uint8_t sid[16];
  SampleIdFromDigests(digests->data(), n, sid);
  return Save(size, sid, fid, *digests);
}
