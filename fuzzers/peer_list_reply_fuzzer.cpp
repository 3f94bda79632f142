// Fuzz target: the replies the peer and upload lists (commands 97, 98) and
// the server information and status pages (69, 81, 82, 83, 117) show. A list
// reply never yields more records than it holds, the lists' comparisons stay
// antisymmetric, and every cell and page text reads back as the field the
// page shows there, taken from the reply's bytes at the record's offsets:
// numbers as their decimals, addresses as their four octets, sizes as their
// size texts, ids as their hexadecimal digits.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "ui/client/codec/control_codec.h"
#include "ui/settings_tab/codec/server_figures.h"
#include "ui/peer_lists/codec/peer_rows.h"
#include "ui/res/resource.h"

namespace {

uint64_t Le(const uint8_t* b, size_t at, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + size_t(i)];
  return v;
}
uint32_t U32(const uint8_t* b, size_t at) { return uint32_t(Le(b, at, 4)); }
int32_t I32(const uint8_t* b, size_t at) { return int32_t(U32(b, at)); }
uint64_t U64(const uint8_t* b, size_t at) { return Le(b, at, 8); }

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }
std::u16string Dec(int64_t v) { return Ascii(std::to_string(v)); }
std::u16string Dec(uint64_t v) { return Ascii(std::to_string(v)); }
// A count or total the page prints: as a signed or an unsigned decimal.
bool IsDecimalOf(const std::u16string& text, uint64_t v, int bits) {
  const int64_t sign = bits == 64 ? int64_t(v) : int64_t(int32_t(uint32_t(v)));
  return text == Dec(v) || text == Dec(sign);
}
std::u16string Dotted(const uint8_t* b) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return Ascii(buf);
}

// A size text ("%d B" below 1000 bytes, else KB, MB or GB with two decimals)
// names the size to within its rounding.
bool IsSizeTextOf(const std::u16string& text, int64_t size) {
  const std::string t(text.begin(), text.end());
  double number = 0;
  char unit[8] = {};
  if (std::sscanf(t.c_str(), "%lf %7s", &number, unit) != 2) return false;
  const std::string u = unit;
  if (size < 1000) return u == "B" && t == std::to_string(size) + " B";
  const double scale = u == "KB" ? 1024.0 : u == "MB" ? 1048576.0 : u == "GB" ? 1073741824.0 : 0;
  return scale != 0 && std::fabs(number * scale - double(size)) <= 0.0051 * scale + 1e-6 * double(size);
}
bool IsSpeedTextOf(const std::u16string& text, int64_t speed) {
  return text.size() > 2 && text.substr(text.size() - 2) == u"/S" && IsSizeTextOf(text.substr(0, text.size() - 2), speed);
}

std::u16string Hex(const uint8_t* b) {
  static const uint8_t kZero[16] = {};
  if (std::memcmp(b, kZero, 16) == 0) return {};
  std::u16string s;
  for (int i = 0; i < 16; ++i) {
    s.push_back(u"0123456789ABCDEF"[b[i] >> 4]);
    s.push_back(u"0123456789ABCDEF"[b[i] & 15]);
  }
  return s;
}

// A narrow text of a record field as Latin-1, up to its zero or the field's end.
std::u16string Latin1(const uint8_t* b, size_t at, size_t max) {
  std::u16string s;
  for (size_t i = 0; i < max && b[at + i] != 0; ++i) s.push_back(char16_t(b[at + i]));
  return s;
}
// The file-name part of a path: what follows its last separator.
bool IsNamePartOf(const std::u16string& cell, const std::u16string& path) {
  return cell.size() <= path.size() && path.compare(path.size() - cell.size(), cell.size(), cell) == 0 &&
         cell.find_first_of(u"\\/") == std::u16string::npos &&
         (cell.size() == path.size() || path[path.size() - cell.size() - 1] == u'\\' ||
          path[path.size() - cell.size() - 1] == u'/' || path[path.size() - cell.size() - 1] == u':');
}
// "%u%%" of value x 100 / divisor, truncated; empty for a divisor of 0.
bool IsRatioOf(const std::u16string& text, uint32_t value, uint32_t divisor) {
  if (divisor == 0) return text.empty();
  const double ratio = std::trunc(double(value) * 100.0 / double(divisor));
  return text.size() >= 2 && text.back() == u'%' && text.substr(0, text.size() - 1) == Dec(uint64_t(ratio));
}

template <class Record, class Cell, class Compare>
void CheckList(const ReplyReader& reply, int columns, Cell cell, Compare compare) {
  std::vector<Record> records;
  const size_t n = ReadRecordList(reply, records);
  FUZZ_CHECK(n == records.size() && (n == 0 || 6 + n * sizeof(Record) <= reply.Size()));
  const NarrowCodePage latin1{};
  for (const Record& record : records) {
    for (int column = -1; column <= columns; ++column) {
      const std::u16string text = cell(record, column, latin1);
      FUZZ_CHECK(text.size() <= 300);
      FUZZ_CHECK((column >= 0 && column < columns) || text.empty());
    }
  }
  const size_t pairs = std::min<size_t>(records.size(), 10);
  for (int column = 0; column < columns; ++column) {
    for (size_t i = 0; i < pairs; ++i) {
      FUZZ_CHECK(compare(records[i], records[i], column) == 0);
      for (size_t j = i + 1; j < pairs; ++j) {
        FUZZ_CHECK(compare(records[i], records[j], column) == -compare(records[j], records[i], column));
      }
    }
  }
}

// The user list's cells, by the 456-byte record's offsets.
void CheckUserCells(const UserRecord& r) {
  const auto* b = reinterpret_cast<const uint8_t*>(&r);  // by offset, apart from the fields the code reads
  const NarrowCodePage latin1{};
  auto cell = [&](int column) { return UserCellText(r, column, latin1); };
  FUZZ_CHECK(cell(0) == Dec(U64(b, 4)) + u" : " + Dec(int64_t(I32(b, 424))));
  FUZZ_CHECK(cell(1) == Dotted(b + 12) + u":" + Dec(uint64_t(Le(b, 16, 2))));
  FUZZ_CHECK(cell(2) == Dec(uint64_t(b[380])));
  FUZZ_CHECK(cell(3) == Latin1(b, 28, 31) + u"(" + Dotted(b + 20) + u":" + Dec(int64_t(I32(b, 24))) + u")");
  FUZZ_CHECK(cell(4) == Hex(b + 60));
  FUZZ_CHECK(IsNamePartOf(cell(5), Latin1(b, 76, 260)));
  FUZZ_CHECK(IsSizeTextOf(cell(6), U32(b, 344)));
  FUZZ_CHECK(IsSizeTextOf(cell(7), int64_t(U64(b, 336))));
  FUZZ_CHECK(cell(8) == Dec(int64_t(I32(b, 406))) && cell(9) == Dec(int64_t(I32(b, 410))));
  FUZZ_CHECK(IsRatioOf(cell(10), U32(b, 410), U32(b, 406)));
  FUZZ_CHECK(cell(11) == Dec(int64_t(I32(b, 414))) && cell(12) == Dec(int64_t(I32(b, 418))));
  FUZZ_CHECK(IsRatioOf(cell(13), U32(b, 418), U32(b, 414)));
  FUZZ_CHECK(cell(14) == Dec(uint64_t(b[18])));
  const std::string path = UserRecordPath(r);
  FUZZ_CHECK(path.size() <= 260 && std::memcmp(path.data(), b + 76, path.size()) == 0 &&
             (path.size() == 260 || b[76 + path.size()] == 0));
  FUZZ_CHECK(FolderOfAnsiPath(path, NarrowCodePage{}).size() <= path.size());
}

// The upload list's cells, by the 304-byte record's offsets.
void CheckUploadCells(const UploadRecord& r) {
  const auto* b = reinterpret_cast<const uint8_t*>(&r);  // by offset, apart from the fields the code reads
  const NarrowCodePage latin1{};
  auto cell = [&](int column) { return UploadCellText(r, column, latin1); };
  FUZZ_CHECK(cell(0) == Hex(b));
  FUZZ_CHECK(IsNamePartOf(cell(1), Latin1(b, 16, 255)));
  FUZZ_CHECK(IsSizeTextOf(cell(2), int64_t(U64(b, 272))));
  FUZZ_CHECK(cell(3) == Dec(int64_t(I32(b, 280))) && cell(4) == Dec(int64_t(I32(b, 284))));
  FUZZ_CHECK(IsSizeTextOf(cell(5), int64_t(U64(b, 288))));
  FUZZ_CHECK(IsSizeTextOf(cell(6), U32(b, 296)));
  FUZZ_CHECK(IsUploading(r) == (U32(b, 296) != 0));
}

template <class Block>
Block BlockAt(const ReplyReader& reply, size_t offset) {
  Block block{};
  reply.Copy(offset, &block, sizeof block);
  return block;
}

// The bytes a page reads a block from: the reply's, or zeros when it does not hold the block whole.
std::vector<uint8_t> BlockBytes(const std::vector<uint8_t>& body, size_t offset, size_t n) {
  if (body.size() < offset || body.size() - offset < n) return std::vector<uint8_t>(n, 0);
  return std::vector<uint8_t>(body.begin() + long(offset), body.begin() + long(offset + n));
}

const std::u16string& TextOf(const std::vector<FieldText>& fields, int control) {
  static const std::u16string none = u"(no such control)";
  for (const FieldText& f : fields)
    if (f.control == control) return f.text;
  return none;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> body(data, data + size);
  const ReplyReader reply(body.data(), body.size());

  CheckList<UserRecord>(reply, kUserColumns, UserCellText, CompareUserRecords);
  CheckList<UploadRecord>(reply, kUploadColumns, UploadCellText, CompareUploadRecords);
  std::vector<UserRecord> users;
  ReadRecordList(reply, users);
  for (const UserRecord& user : users) CheckUserCells(user);
  std::vector<UploadRecord> uploads;
  ReadRecordList(reply, uploads);
  for (const UploadRecord& upload : uploads) CheckUploadCells(upload);

  // Command 81's block: node id, public address, directories and files.
  std::vector<uint8_t> b = BlockBytes(body, 2, sizeof(ServerInfoBlock));
  const std::vector<FieldText> info = ServerInfoTexts(BlockAt<ServerInfoBlock>(reply, 2));
  FUZZ_CHECK(TextOf(info, IDC_INFO_NODE) == Dec(U64(b.data(), 128)));
  FUZZ_CHECK(TextOf(info, IDC_INFO_ADDRESS) == Dotted(b.data() + 136));
  FUZZ_CHECK(IsDecimalOf(TextOf(info, IDC_INFO_DIRS), U32(b.data(), 140), 32));
  FUZZ_CHECK(IsDecimalOf(TextOf(info, IDC_INFO_FILES), U32(b.data(), 144), 32));

  // Command 83: three memory figures and two disk figures as size texts.
  b = BlockBytes(body, 2, sizeof(PerformanceBlock));
  const std::vector<FieldText> performance = PerformanceTexts(BlockAt<PerformanceBlock>(reply, 2));
  FUZZ_CHECK(IsSizeTextOf(TextOf(performance, IDC_INFO_TOTAL_MEMORY), U32(b.data(), 0)));
  FUZZ_CHECK(IsSizeTextOf(TextOf(performance, IDC_INFO_FREE_MEMORY), U32(b.data(), 4)));
  FUZZ_CHECK(IsSizeTextOf(TextOf(performance, IDC_INFO_FREE_VIRTUAL), U32(b.data(), 8)));
  FUZZ_CHECK(IsSizeTextOf(TextOf(performance, IDC_INFO_DISK_TOTAL), int64_t(U64(b.data(), 12))));
  FUZZ_CHECK(IsSizeTextOf(TextOf(performance, IDC_INFO_DISK_FREE), int64_t(U64(b.data(), 20))));

  // Command 82: 64 units of the operating system, then 64 of the processor.
  b = BlockBytes(body, 2, sizeof(SystemInfoBlock));
  const SystemInfoBlock system = BlockAt<SystemInfoBlock>(reply, 2);
  auto units = [&](size_t at) {
    std::u16string s;
    for (size_t i = 0; i < 64 && (b[at + 2 * i] | b[at + 2 * i + 1]) != 0; ++i)
      s.push_back(char16_t(b[at + 2 * i] | b[at + 2 * i + 1] << 8));
    return s;
  };
  FUZZ_CHECK(SystemOsText(system) == units(0) && SystemCpuText(system) == units(128));

  // Command 69: the FTP server's two totals and its connections.
  b = BlockBytes(body, 2, sizeof(FtpStatistics));
  const std::vector<FieldText> ftp = FtpStatusTexts(BlockAt<FtpStatistics>(reply, 2));
  FUZZ_CHECK(IsDecimalOf(TextOf(ftp, IDC_STATUS_FTP_SENT), U64(b.data(), 0), 64));
  FUZZ_CHECK(IsDecimalOf(TextOf(ftp, IDC_STATUS_FTP_RECEIVED), U64(b.data(), 8), 64));
  FUZZ_CHECK(IsDecimalOf(TextOf(ftp, IDC_STATUS_FTP_CONNECTIONS), U32(b.data(), 16), 32));

  // Command 117: the 24-byte totals, then the 56-byte statistics block.
  const std::vector<uint8_t> t = BlockBytes(body, 2, sizeof(P2pTotals));
  b = BlockBytes(body, 2 + sizeof(P2pTotals), sizeof(P2pStatBlock));
  const std::vector<FieldText> p2p =
      P2pStatusTexts(BlockAt<P2pTotals>(reply, 2), BlockAt<P2pStatBlock>(reply, 2 + sizeof(P2pTotals)));
  FUZZ_CHECK(IsSizeTextOf(TextOf(p2p, IDC_STATUS_P2P_SENT), int64_t(U64(t.data(), 0))));
  FUZZ_CHECK(IsSpeedTextOf(TextOf(p2p, IDC_STATUS_P2P_SPEED), U32(t.data(), 12)));
  FUZZ_CHECK(IsDecimalOf(TextOf(p2p, IDC_STATUS_P2P_REQUESTS), U32(t.data(), 16), 32));
  FUZZ_CHECK(IsDecimalOf(TextOf(p2p, IDC_STATUS_DISK_REQUESTS), U32(b.data(), 0), 32));
  FUZZ_CHECK(IsDecimalOf(TextOf(p2p, IDC_STATUS_DISK_DELAY), U32(b.data(), 4), 32));
  FUZZ_CHECK(IsSpeedTextOf(TextOf(p2p, IDC_STATUS_DISK_SPEED), U32(b.data(), 40)));
  FUZZ_CHECK(IsSizeTextOf(TextOf(p2p, IDC_STATUS_DISK_READ), int64_t(U64(b.data(), 32))));
  FUZZ_CHECK(IsSizeTextOf(TextOf(p2p, IDC_STATUS_CACHE_READ), int64_t(U64(b.data(), 24))));
  FUZZ_CHECK(TextOf(p2p, IDC_STATUS_CACHE_USE) == Dec(int64_t(I32(b.data(), 48))) + u"%");
  FUZZ_CHECK(TextOf(p2p, IDC_STATUS_CACHE_HITS) == Dec(U64(b.data(), 8)));
  FUZZ_CHECK(TextOf(p2p, IDC_STATUS_CACHE_MISSES) == Dec(U64(b.data(), 16)));
  FUZZ_CHECK(TextOf(p2p, IDC_STATUS_HIT_RATE) == Dec(int64_t(I32(b.data(), 44))) + u"%");
  return 0;
}
