// The p2s file-information and URL records.
#include "server/http/codec/p2s_records.h"

#include "foundation/codec/md5.h"
#include "foundation/text/ascii_case.h"
#include "foundation/text/hex_text.h"

namespace p2s {

namespace {
void BindUnknown(std::vector<serial::UnknownField>* unknown, serial::FieldList* list) {
  for (serial::UnknownField& field : *unknown) list->SetField(field.Name(), &field);
}
}  // namespace

void URL::BindFields(serial::FieldList* list) {
  BindUnknown(&unknown, list);
  list->Bind("U", &u);
  list->Bind("I", &i);
  list->Bind("R", &r);
  list->Bind("L", &l);
  list->Bind("N", &n);
  list->Bind("J", &j);
  list->Bind("K", &k);
  list->Bind("S", &s);
  list->Bind("B", &b);
}

serial::Bytes BytesOfHex(const std::string& hex) {
  serial::Bytes out(hex.size() / 2, 0);
  for (size_t k = 0; k < out.size(); ++k) {
    const int hi = HexDigitValue(hex[2 * k]), lo = HexDigitValue(hex[2 * k + 1]);
    out[k] = uint8_t(hi < 0 || lo < 0 ? 0 : hi * 16 + lo);
  }
  return out;
}

URL MakeLinkEntry(const std::string& link) {
  URL entry;
  entry.i = link;
  entry.s = 200;
  entry.b = 0;
  const std::string upper = ToUpperString(link);
  entry.u.resize(16);
  MD5Digest(upper.data(), upper.size(), entry.u.data());
  return entry;
}

void FileInfo::BindFields(serial::FieldList* list) {
  BindUnknown(&unknown, list);
  if (hasFid) list->Bind("F", &fid);
  if (hasSize) list->Bind("Z", &size);
  if (hasThird) list->Bind("T", &third);
  if (hasPieces) list->Bind("H", &pieces);
  if (hasUrls) list->SetField("C", std::unique_ptr<serial::BaseField>(new serial::FieldVector<URL>(&urls)));
}

void FileInfo::Set(const std::string& fidHex, const serial::Bytes& digests, uint64_t fileSize, uint64_t thirdValue) {
  if (!fidHex.empty()) {
    fid = BytesOfHex(fidHex);
    hasFid = true;
  }
  if (fileSize) size = fileSize, hasSize = true;
  if (thirdValue) third = thirdValue, hasThird = true;
  if (!digests.empty()) pieces = digests, hasPieces = true;
}

void FileInfo::AddUrl(const URL& entry) {
  hasUrls = true;
  for (URL& known : urls) {
    if (known.u == entry.u || known.i == entry.i) {
      known = entry;
      return;
    }
  }
  urls.push_back(entry);
}

size_t DecodeFileInfo(FileInfo* info, const uint8_t* in, size_t length) {
  FileInfo decoded = *info;
  decoded.hasFid = decoded.hasSize = decoded.hasThird = decoded.hasPieces = decoded.hasUrls = true;
  serial::FieldList list;
  decoded.BindFields(&list);
  if (list.Decode(in, length) != length || length == 0) return 0;
  list.KeepUnknown(&decoded.unknown);
  decoded.hasFid = info->hasFid || list.WasDecoded("F");
  decoded.hasSize = info->hasSize || list.WasDecoded("Z");
  decoded.hasThird = info->hasThird || list.WasDecoded("T");
  decoded.hasPieces = info->hasPieces || list.WasDecoded("H");
  decoded.hasUrls = info->hasUrls || list.WasDecoded("C");
  *info = std::move(decoded);
  return length;
}

}  // namespace p2s
