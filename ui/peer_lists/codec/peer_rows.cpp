// Cells and sort keys of the peer and upload lists.
#include "ui/peer_lists/codec/peer_rows.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>

#include "foundation/text/address_text.h"
#include "foundation/text/hex_text.h"
#include "foundation/text/size_text.h"
#include "ui/peer_lists/codec/column_sort.h"

namespace {

// Offsets in the 456-byte user record.
constexpr size_t kUserId = 4, kUserAddress = 12, kUserPort = 16, kUserNat = 18;
constexpr size_t kVersionAddress = 20, kVersionValue = 24, kVersionText = 28, kVersionTextBytes = 31;
constexpr size_t kUserFid = 60, kUserPath = 76, kUserPathBytes = 260;
constexpr size_t kUserSent = 336, kUserSpeed = 344, kUserTransport = 380;
constexpr size_t kUserReads = 406, kUserCacheHits = 410, kUserDiskBytes = 414, kUserCacheBytes = 418, kUserExtra = 424;

// Offsets in the 304-byte uploading record.
constexpr size_t kUploadFid = 0, kUploadPath = 16, kUploadPathBytes = 255;
constexpr size_t kUploadSize = 272, kUploadHandshakes = 280, kUploadRequests = 284, kUploadSent = 288,
                 kUploadSpeed = 296;

static_assert(kUserPath + kUserPathBytes <= sizeof(UserRecord) && kUserExtra + 4 <= sizeof(UserRecord));
static_assert(kUploadPath + kUploadPathBytes <= sizeof(UploadRecord) && kUploadSpeed + 4 <= sizeof(UploadRecord));

uint64_t Le(const uint8_t* bytes, size_t offset, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | bytes[offset + static_cast<size_t>(i)];
  return v;
}
uint32_t U32(const uint8_t* b, size_t offset) { return static_cast<uint32_t>(Le(b, offset, 4)); }
int32_t I32(const uint8_t* b, size_t offset) { return static_cast<int32_t>(U32(b, offset)); }
uint64_t U64(const uint8_t* b, size_t offset) { return Le(b, offset, 8); }

// A narrow text of at most maxBytes bytes, up to its first zero.
std::string_view FieldText(const uint8_t* b, size_t offset, size_t maxBytes) {
  const char* start = reinterpret_cast<const char*>(b + offset);
  size_t n = 0;
  while (n < maxBytes && start[n] != '\0') ++n;
  return std::string_view(start, n);
}

std::u16string Ascii(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }
std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::u16string Converted(std::string_view text, const NarrowCodePage& ansi) {
  if (text.empty()) return {};
  if (ansi.toUtf16 != nullptr) return ansi.toUtf16(text);
  std::u16string out;
  for (char c : text) out.push_back(static_cast<char16_t>(static_cast<uint8_t>(c)));
  return out;
}

// The part after the last separator, found after conversion: a trail byte of
// a double-byte code page can equal '\'.
std::u16string FileNamePart(std::string_view path, const NarrowCodePage& ansi) {
  std::u16string wide = Converted(path, ansi);
  size_t cut = wide.find_last_of(u"\\/:");
  return cut == std::u16string::npos ? wide : wide.substr(cut + 1);
}

std::u16string Decimal(int64_t value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%" PRId64, value);
  return Ascii(buf);
}

std::u16string FidCell(const uint8_t* b, size_t offset) { return Ascii(BytesToHex(b + offset)); }

// value x 100 / divisor, truncated; NaN when the divisor is 0.
double Ratio(uint32_t value, uint32_t divisor) {
  if (divisor == 0) return std::numeric_limits<double>::quiet_NaN();
  return std::trunc(static_cast<double>(value) * 100.0 / static_cast<double>(divisor));
}

std::u16string RatioCell(uint32_t value, uint32_t divisor) {
  double ratio = Ratio(value, divisor);
  if (std::isnan(ratio)) return {};
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.0f%%", ratio);  // a ratio beyond 32 bits is printed whole
  return Ascii(buf);
}

std::u16string UserAddressText(const uint8_t* b) {
  return Ascii(Ipv4Text(b + kUserAddress, static_cast<uint16_t>(Le(b, kUserPort, 2))));
}

int CompareText(std::string_view a, std::string_view b) {
  int c = ThreeWayBytes(reinterpret_cast<const uint8_t*>(a.data()), reinterpret_cast<const uint8_t*>(b.data()),
                        a.size() < b.size() ? a.size() : b.size());
  return c != 0 ? c : ThreeWay(a.size(), b.size());
}

}  // namespace

std::string UserRecordPath(const UserRecord& record) {
  return std::string(FieldText(record.bytes, kUserPath, kUserPathBytes));
}

std::string UploadRecordPath(const UploadRecord& record) {
  return std::string(FieldText(record.bytes, kUploadPath, kUploadPathBytes));
}

std::u16string UserCellText(const UserRecord& record, int column, const NarrowCodePage& ansi) {
  const uint8_t* b = record.bytes;
  switch (column) {
    case 0: {
      char buf[48];
      std::snprintf(buf, sizeof buf, "%" PRIu64 " : %d", U64(b, kUserId), I32(b, kUserExtra));
      return Ascii(buf);
    }
    case 1:
      return UserAddressText(b);
    case 2:
      return Decimal(b[kUserTransport]);
    case 3:
      return Converted(FieldText(b, kVersionText, kVersionTextBytes), ansi) + u"(" + Ascii(Ipv4Text(b + kVersionAddress)) + u":" +
             Decimal(I32(b, kVersionValue)) + u")";
    case 4:
      return FidCell(b, kUserFid);
    case 5:
      return FileNamePart(FieldText(b, kUserPath, kUserPathBytes), ansi);
    case 6:
      return Ascii(FormatFileSize(U32(b, kUserSpeed)));
    case 7:
      return Ascii(FormatFileSize(static_cast<int64_t>(U64(b, kUserSent))));
    case 8:
      return Decimal(I32(b, kUserReads));
    case 9:
      return Decimal(I32(b, kUserCacheHits));
    case 10:
      return RatioCell(U32(b, kUserCacheHits), U32(b, kUserReads));
    case 11:
      return Decimal(I32(b, kUserDiskBytes));
    case 12:
      return Decimal(I32(b, kUserCacheBytes));
    case 13:
      return RatioCell(U32(b, kUserCacheBytes), U32(b, kUserDiskBytes));
    case 14:
      return Decimal(b[kUserNat]);
    default:
      return {};
  }
}

int CompareUserRecords(const UserRecord& ra, const UserRecord& rb, int column) {
  const uint8_t* a = ra.bytes;
  const uint8_t* b = rb.bytes;
  auto u32 = [&](size_t offset) { return ThreeWay(U32(a, offset), U32(b, offset)); };
  switch (column) {
    case 0:
      return ThreeWay(U64(a, kUserId), U64(b, kUserId));
    case 1:
      return ThreeWayUnits(UserAddressText(a), UserAddressText(b));
    case 2:
      return ThreeWay(a[kUserTransport], b[kUserTransport]);
    case 3:
      return CompareText(FieldText(a, kVersionText, kVersionTextBytes), FieldText(b, kVersionText, kVersionTextBytes));
    case 4:
      return ThreeWayBytes(a + kUserFid, b + kUserFid, 16);
    case 5:
      return CompareText(FieldText(a, kUserPath, kUserPathBytes), FieldText(b, kUserPath, kUserPathBytes));
    case 6:
      return u32(kUserSpeed);
    case 7:
      return ThreeWay(U64(a, kUserSent), U64(b, kUserSent));
    case 8:
      return u32(kUserReads);
    case 9:
      return u32(kUserCacheHits);
    case 10:
      return ThreeWay(Ratio(U32(a, kUserCacheHits), U32(a, kUserReads)), Ratio(U32(b, kUserCacheHits), U32(b, kUserReads)));
    case 11:
      return u32(kUserDiskBytes);
    case 12:
      return u32(kUserCacheBytes);
    case 13:
      return ThreeWay(Ratio(U32(a, kUserCacheBytes), U32(a, kUserDiskBytes)),
                      Ratio(U32(b, kUserCacheBytes), U32(b, kUserDiskBytes)));
    case 14:
      return ThreeWay(a[kUserNat], b[kUserNat]);
    default:
      return 0;
  }
}

std::u16string UploadCellText(const UploadRecord& record, int column, const NarrowCodePage& ansi) {
  const uint8_t* b = record.bytes;
  switch (column) {
    case 0:
      return FidCell(b, kUploadFid);
    case 1:
      return FileNamePart(FieldText(b, kUploadPath, kUploadPathBytes), ansi);
    case 2:
      return Ascii(FormatFileSize(static_cast<int64_t>(U64(b, kUploadSize))));
    case 3:
      return Decimal(I32(b, kUploadHandshakes));
    case 4:
      return Decimal(I32(b, kUploadRequests));
    case 5:
      return Ascii(FormatFileSize(static_cast<int64_t>(U64(b, kUploadSent))));
    case 6:
      return Ascii(FormatFileSize(U32(b, kUploadSpeed)));
    default:
      return {};
  }
}

int CompareUploadRecords(const UploadRecord& ra, const UploadRecord& rb, int column) {
  const uint8_t* a = ra.bytes;
  const uint8_t* b = rb.bytes;
  switch (column) {
    case 0:
      return ThreeWayBytes(a + kUploadFid, b + kUploadFid, 16);
    case 1:
      return CompareText(FieldText(a, kUploadPath, kUploadPathBytes), FieldText(b, kUploadPath, kUploadPathBytes));
    case 2:
      return ThreeWay(static_cast<int64_t>(U64(a, kUploadSize)), static_cast<int64_t>(U64(b, kUploadSize)));
    case 3:
      return ThreeWay(I32(a, kUploadHandshakes), I32(b, kUploadHandshakes));
    case 4:
      return ThreeWay(I32(a, kUploadRequests), I32(b, kUploadRequests));
    case 5:
      return ThreeWay(U64(a, kUploadSent), U64(b, kUploadSent));
    case 6:
      return ThreeWay(U32(a, kUploadSpeed), U32(b, kUploadSpeed));
    default:
      return 0;
  }
}

bool IsUploading(const UploadRecord& record) { return U32(record.bytes, kUploadSpeed) != 0; }

std::u16string FolderOfAnsiPath(std::string_view path, const NarrowCodePage& ansi) {
  std::u16string wide = Converted(path.substr(0, path.find('\0')), ansi);
  size_t cut = wide.find_last_of(u"\\/");
  if (cut == std::u16string::npos) return {};
  // "C:\file" keeps the root's separator: "C:" alone would be the drive's current folder.
  if (cut == 2 && wide[1] == u':') return wide.substr(0, 3);
  if (cut == 0) return wide.substr(0, 1);
  return wide.substr(0, cut);
}
