// Request bodies of the control commands and bounded reads of their replies.
// A reply is untrusted bytes: every read checks the length it has, and a
// count is believed only as far as the reply's bytes reach. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ui/client/codec/control_records.h"

constexpr uint16_t kStatusOk = static_cast<uint16_t>(ControlStatus::Ok);
constexpr size_t kPathFieldBytes = 520;
constexpr size_t kNameFieldBytes = 128;
constexpr size_t kPathSendUnits = 259;  // most commands: 259 units and a zero
constexpr size_t kExportPathUnits = 260;  // command 49's two text fields
constexpr size_t kNameSendUnits = 63;
constexpr size_t kPortErrorUnits = 32;

// Appends little-endian fields to a request body.
class RequestBuilder {
 public:
  explicit RequestBuilder(ControlCommand code) { U16(static_cast<uint16_t>(code)); }
  RequestBuilder& U16(uint16_t v);
  RequestBuilder& U32(uint32_t v);
  RequestBuilder& U64(uint64_t v);
  // A zero-filled field of `fieldBytes` with at most `maxUnits` units of `text`.
  RequestBuilder& Text(std::u16string_view text, size_t fieldBytes, size_t maxUnits);
  RequestBuilder& Path(std::u16string_view text) { return Text(text, kPathFieldBytes, kPathSendUnits); }
  RequestBuilder& Name(std::u16string_view text) { return Text(text, kNameFieldBytes, kNameSendUnits); }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Command 68: u32 host type, NAME host, u16 port.
std::vector<uint8_t> BuildFtpSettingRequest(uint32_t hostType, std::u16string_view host, uint16_t port);

struct ExportParams {
  uint32_t linkKind = 0;
  uint32_t naming = 0;
  uint32_t sort = 0;
  uint64_t rangeStart = 0;
  uint64_t rangeEnd = 0;
  std::u16string_view keyword;  // empty: none
  std::u16string_view path;
};
std::vector<uint8_t> BuildExportRequest(const ExportParams& params);

// A read-only view of a reply body.
class ReplyReader {
 public:
  ReplyReader(const uint8_t* data, size_t size) : data_(data), size_(data != nullptr ? size : 0) {}
  size_t Size() const { return size_; }
  // The first u16, or 0 when the body is shorter.
  uint16_t Status() const { return U16(0); }
  // Fields read as 0 (or zeros) unless the reply holds them whole.
  uint16_t U16(size_t offset) const;
  uint32_t U32(size_t offset) const;
  bool Has(size_t offset, size_t n) const { return offset <= size_ && n <= size_ - offset; }
  // Copies n bytes from offset into out; zero-fills out when they are not all there.
  bool Copy(size_t offset, void* out, size_t n) const;
  // A UTF-16 text of at most maxUnits units from offset, up to its first zero;
  // empty when the field is not whole in the reply.
  std::u16string Text(size_t offset, size_t maxUnits) const;
  // How many whole records of recordSize fit from offset on.
  size_t WholeRecords(size_t offset, size_t recordSize) const;

 private:
  const uint8_t* data_;
  size_t size_;
};

// A list reply: u32 count at 2, then the records. `promised` gets the
// reply's count; the records appended are only those the reply holds whole.
template <class Record>
size_t ReadRecordList(const ReplyReader& reply, std::vector<Record>& out, uint32_t* promised = nullptr) {
  uint32_t count = reply.U32(2);
  if (promised != nullptr) *promised = count;
  size_t n = reply.WholeRecords(6, sizeof(Record));
  if (count < n) n = count;
  out.reserve(out.size() + n);
  for (size_t i = 0; i < n; ++i) {
    Record record;
    reply.Copy(6 + i * sizeof(Record), &record, sizeof(Record));
    out.push_back(record);
  }
  return n;
}

// A text held in a fixed array, up to its first zero.
std::u16string FixedText(const char16_t* units, size_t maxUnits);
// A UTF-16LE text field of a byte-packed record, at any alignment: at most
// maxUnits units, up to its first zero, so an unterminated text ends with its field.
std::u16string PackedText(const void* field, size_t maxUnits);
// Its length in units (up to the first zero, at most maxUnits).
size_t PackedTextLength(const void* field, size_t maxUnits);
// The unit at `index` of such a field.
inline char16_t PackedUnit(const void* field, size_t index) {
  const auto* bytes = static_cast<const uint8_t*>(field) + 2 * index;
  return static_cast<char16_t>(bytes[0] | (bytes[1] << 8));
}

// Reply of command 65.
struct FtpAccountReply {
  std::u16string user;
  std::u16string password;
  uint32_t promised = 0;
  std::vector<FtpShareDirEntry> dirs;
};
void ReadFtpAccount(const ReplyReader& reply, FtpAccountReply& out);

// Reply of command 49: the exported text, at most what the reply holds.
// Returns false when the count is 0 (the caller's text is kept).
bool ReadExportText(const ReplyReader& reply, std::u16string& out);
