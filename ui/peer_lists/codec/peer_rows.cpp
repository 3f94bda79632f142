// Cells and sort keys of the peer and upload lists.
#include "ui/peer_lists/codec/peer_rows.h"

#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "foundation/text/address_text.h"
#include "foundation/text/hex_text.h"
#include "foundation/text/size_text.h"
#include "ui/peer_lists/codec/column_sort.h"

// The records are read in place, by their fields: they come little-endian.
static_assert(std::endian::native == std::endian::little);

namespace {

// The version text is the first 31 bytes of its 32-byte field.
constexpr size_t kVersionTextBytes = sizeof(upload_user_info::version_text) - 1;

// A narrow text of at most maxBytes bytes, up to its first zero.
std::string_view FieldText(const char* start, size_t maxBytes) {
  size_t n = 0;
  while (n < maxBytes && start[n] != '\0') ++n;
  return std::string_view(start, n);
}
std::string_view VersionText(const upload_user_info& r) { return FieldText(r.version_text, kVersionTextBytes); }
std::string_view PathText(const upload_user_info& r) { return FieldText(r.path, sizeof r.path); }
std::string_view PathText(const share_file_info& r) { return FieldText(r.path, sizeof r.path); }

// An address field as the four bytes it holds in memory.
std::string AddressText(uint32_t inAddr, const uint16_t* port) {
  uint8_t octets[4];
  std::memcpy(octets, &inAddr, 4);
  return port ? Ipv4Text(octets, *port) : Ipv4Text(octets);
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

std::u16string FidCell(const uint8_t (&fid)[16]) { return Ascii(BytesToHex(fid)); }

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

std::u16string UserAddressText(const upload_user_info& r) {
  const uint16_t port = r.port;
  return Ascii(AddressText(r.ip, &port));
}

int CompareText(std::string_view a, std::string_view b) {
  int c = ThreeWayBytes(reinterpret_cast<const uint8_t*>(a.data()), reinterpret_cast<const uint8_t*>(b.data()),
                        a.size() < b.size() ? a.size() : b.size());
  return c != 0 ? c : ThreeWay(a.size(), b.size());
}

}  // namespace

std::string UserRecordPath(const UserRecord& record) { return std::string(PathText(record)); }

std::string UploadRecordPath(const UploadRecord& record) { return std::string(PathText(record)); }

std::u16string UserCellText(const UserRecord& r, int column, const NarrowCodePage& ansi) {
  switch (column) {
    case 0: {
      char buf[48];
      std::snprintf(buf, sizeof buf, "%" PRIu64 " : %d", uint64_t(r.user_id), int32_t(r.value424));
      return Ascii(buf);
    }
    case 1:
      return UserAddressText(r);
    case 2:
      return Decimal(r.transport_type);
    case 3:
      return Converted(VersionText(r), ansi) + u"(" + Ascii(AddressText(r.version_ip, nullptr)) + u":" +
             Decimal(int32_t(r.version_value)) + u")";
    case 4:
      return FidCell(r.fid);
    case 5:
      return FileNamePart(PathText(r), ansi);
    case 6:
      return Ascii(FormatFileSize(uint32_t(r.rate)));
    case 7:
      return Ascii(FormatFileSize(static_cast<int64_t>(r.uploaded)));
    case 8:
      return Decimal(int32_t(r.block_reads));
    case 9:
      return Decimal(int32_t(r.cache_reads));
    case 10:
      return RatioCell(r.cache_reads, r.block_reads);
    case 11:
      return Decimal(int32_t(r.disk_bytes));
    case 12:  // "缓存读取": the field the core names the bytes the peer requested
      return Decimal(int32_t(r.requested_bytes));
    case 13:
      return RatioCell(r.requested_bytes, r.disk_bytes);
    case 14:
      return Decimal(r.nat_type);
    default:
      return {};
  }
}

int CompareUserRecords(const UserRecord& a, const UserRecord& b, int column) {
  switch (column) {
    case 0:
      return ThreeWay(uint64_t(a.user_id), uint64_t(b.user_id));
    case 1:
      return ThreeWayUnits(UserAddressText(a), UserAddressText(b));
    case 2:
      return ThreeWay(a.transport_type, b.transport_type);
    case 3:
      return CompareText(VersionText(a), VersionText(b));
    case 4:
      return ThreeWayBytes(a.fid, b.fid, sizeof a.fid);
    case 5:
      return CompareText(PathText(a), PathText(b));
    case 6:
      return ThreeWay(uint32_t(a.rate), uint32_t(b.rate));
    case 7:
      return ThreeWay(uint64_t(a.uploaded), uint64_t(b.uploaded));
    case 8:
      return ThreeWay(uint32_t(a.block_reads), uint32_t(b.block_reads));
    case 9:
      return ThreeWay(uint32_t(a.cache_reads), uint32_t(b.cache_reads));
    case 10:
      return ThreeWay(Ratio(a.cache_reads, a.block_reads), Ratio(b.cache_reads, b.block_reads));
    case 11:
      return ThreeWay(uint32_t(a.disk_bytes), uint32_t(b.disk_bytes));
    case 12:
      return ThreeWay(uint32_t(a.requested_bytes), uint32_t(b.requested_bytes));
    case 13:
      return ThreeWay(Ratio(a.requested_bytes, a.disk_bytes), Ratio(b.requested_bytes, b.disk_bytes));
    case 14:
      return ThreeWay(a.nat_type, b.nat_type);
    default:
      return 0;
  }
}

std::u16string UploadCellText(const UploadRecord& r, int column, const NarrowCodePage& ansi) {
  switch (column) {
    case 0:
      return FidCell(r.fid);
    case 1:
      return FileNamePart(PathText(r), ansi);
    case 2:
      return Ascii(FormatFileSize(static_cast<int64_t>(r.size)));
    case 3:
      return Decimal(int32_t(r.handshakes));
    case 4:
      return Decimal(int32_t(r.requests));
    case 5:
      return Ascii(FormatFileSize(static_cast<int64_t>(r.uploaded)));
    case 6:
      return Ascii(FormatFileSize(uint32_t(r.rate)));
    default:
      return {};
  }
}

int CompareUploadRecords(const UploadRecord& a, const UploadRecord& b, int column) {
  switch (column) {
    case 0:
      return ThreeWayBytes(a.fid, b.fid, sizeof a.fid);
    case 1:
      return CompareText(PathText(a), PathText(b));
    case 2:
      return ThreeWay(static_cast<int64_t>(a.size), static_cast<int64_t>(b.size));
    case 3:
      return ThreeWay(int32_t(a.handshakes), int32_t(b.handshakes));
    case 4:
      return ThreeWay(int32_t(a.requests), int32_t(b.requests));
    case 5:
      return ThreeWay(uint64_t(a.uploaded), uint64_t(b.uploaded));
    case 6:
      return ThreeWay(uint32_t(a.rate), uint32_t(b.rate));
    default:
      return 0;
  }
}

bool IsUploading(const UploadRecord& record) { return record.rate != 0; }

std::u16string FolderOfAnsiPath(std::string_view path, const NarrowCodePage& ansi) {
  std::u16string wide = Converted(path.substr(0, path.find('\0')), ansi);
  size_t cut = wide.find_last_of(u"\\/");
  if (cut == std::u16string::npos) return {};
  // "C:\file" keeps the root's separator: "C:" alone would be the drive's current folder.
  if (cut == 2 && wide[1] == u':') return wide.substr(0, 3);
  if (cut == 0) return wide.substr(0, 1);
  return wide.substr(0, cut);
}
