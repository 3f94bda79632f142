// Little-endian request fields and length-checked reply reads.
#include "ui/client/codec/control_codec.h"

#include <algorithm>
#include <cstring>

RequestBuilder& RequestBuilder::U16(uint16_t v) {
  bytes_.push_back(static_cast<uint8_t>(v));
  bytes_.push_back(static_cast<uint8_t>(v >> 8));
  return *this;
}

RequestBuilder& RequestBuilder::U32(uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return *this;
}

RequestBuilder& RequestBuilder::U64(uint64_t v) {
  for (int i = 0; i < 8; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return *this;
}

RequestBuilder& RequestBuilder::Text(std::u16string_view text, size_t fieldBytes, size_t maxUnits) {
  size_t start = bytes_.size();
  bytes_.resize(start + fieldBytes, 0);
  size_t units = std::min({text.size(), maxUnits, fieldBytes / 2});
  for (size_t i = 0; i < units; ++i) {
    bytes_[start + 2 * i] = static_cast<uint8_t>(text[i]);
    bytes_[start + 2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  return *this;
}

std::vector<uint8_t> BuildFtpSettingRequest(uint32_t hostType, std::u16string_view host, uint16_t port) {
  return RequestBuilder(ControlCommand::SetFtpSetting).U32(hostType).Name(host).U16(port).Bytes();
}

std::vector<uint8_t> BuildExportRequest(const ExportParams& p) {
  RequestBuilder b(ControlCommand::ExportURL);
  b.U32(p.linkKind).U32(p.naming).U32(p.sort).U64(p.rangeStart).U64(p.rangeEnd);
  b.Text(p.keyword, kPathFieldBytes, kExportPathUnits);
  b.Text(p.path, kPathFieldBytes, kExportPathUnits);
  return b.Bytes();
}

uint16_t ReplyReader::U16(size_t offset) const {
  if (!Has(offset, 2)) return 0;
  return static_cast<uint16_t>(data_[offset] | (data_[offset + 1] << 8));
}

uint32_t ReplyReader::U32(size_t offset) const {
  if (!Has(offset, 4)) return 0;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | data_[offset + i];
  return v;
}

bool ReplyReader::Copy(size_t offset, void* out, size_t n) const {
  if (!Has(offset, n)) {
    std::memset(out, 0, n);
    return false;
  }
  if (n != 0) std::memcpy(out, data_ + offset, n);
  return true;
}

std::u16string ReplyReader::Text(size_t offset, size_t maxUnits) const {
  std::u16string text;
  if (!Has(offset, maxUnits * 2)) return text;
  for (size_t i = 0; i < maxUnits; ++i) {
    char16_t unit = static_cast<char16_t>(data_[offset + 2 * i] | (data_[offset + 2 * i + 1] << 8));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

size_t ReplyReader::WholeRecords(size_t offset, size_t recordSize) const {
  if (recordSize == 0 || offset > size_) return 0;
  return (size_ - offset) / recordSize;
}

std::u16string FixedText(const char16_t* units, size_t maxUnits) {
  size_t n = 0;
  while (n < maxUnits && units[n] != 0) ++n;
  return std::u16string(units, n);
}

size_t PackedTextLength(const void* field, size_t maxUnits) {
  size_t n = 0;
  while (n < maxUnits && PackedUnit(field, n) != 0) ++n;
  return n;
}

std::u16string PackedText(const void* field, size_t maxUnits) {
  std::u16string text(PackedTextLength(field, maxUnits), u'\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = PackedUnit(field, i);
  return text;
}

void ReadFtpAccount(const ReplyReader& reply, FtpAccountReply& out) {
  out.user = reply.Text(2, kNameUnits);
  out.password = reply.Text(130, kNameUnits);
  out.promised = reply.U32(258);
  out.dirs.clear();
  size_t n = std::min<size_t>(out.promised, reply.WholeRecords(262, sizeof(FtpShareDirEntry)));
  out.dirs.resize(n);
  for (size_t i = 0; i < n; ++i) reply.Copy(262 + i * sizeof(FtpShareDirEntry), &out.dirs[i], sizeof(FtpShareDirEntry));
}

bool ReadExportText(const ReplyReader& reply, std::u16string& out) {
  uint32_t count = reply.U32(2);
  if (count == 0) return false;
  size_t n = std::min<size_t>(count, reply.WholeRecords(6, 2));
  out.assign(n, u'\0');
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<char16_t>(reply.U16(6 + 2 * i));
  return true;
}
