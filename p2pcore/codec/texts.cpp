// Text and number formatting of the upload core.
#include "p2pcore/codec/texts.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace p2p {

void hash_to_hex(const uint8_t hash[16], char out[33]) {
  const std::string text = HexText(hash, 16);
  std::memcpy(out, text.c_str(), 33);
}

std::string hash_hex(const uint8_t hash[16]) { return HexText(hash, 16); }

std::string size_text(int64_t bytes) {
  char inner[64] = "";
  if (bytes >= 1048576000LL || bytes > 0xFFFFFFFFLL)
    std::snprintf(inner, sizeof inner, "%.2f G", double(bytes) / 1073741824.0);
  else if (bytes > 1023999)
    std::snprintf(inner, sizeof inner, "%.1f M", double(bytes) / 1048576.0);
  else if (bytes >= 1024)
    std::snprintf(inner, sizeof inner, "%.1f K", double(bytes) / 1024.0);
  char out[80];
  std::snprintf(out, sizeof out, "%7s", inner);
  return out;
}

std::string group_digits(int64_t value) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%" PRId64, value);
  const char* p = digits;
  std::string text;
  if (*p == '-') text += *p++;
  const size_t n = std::strlen(p);
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) text += ',';
    text += p[i];
  }
  return text;
}

std::string clock_text(const clock_fields& t) {
  char out[64];
  std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d:%03d", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond);
  return out;
}

bool parse_ipv4(const std::string& text, uint32_t* host_order) {
  uint32_t value = 0;
  size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    size_t begin = pos;
    uint32_t octet = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - begin < 3) {
      octet = octet * 10 + uint32_t(text[pos] - '0');
      ++pos;
    }
    if (pos == begin || octet > 255) return false;
    value = (value << 8) | octet;
  }
  if (pos != text.size()) return false;
  if (host_order) *host_order = value;
  return true;
}

size_t remove_cr(std::string& text) {
  size_t before = text.size();
  std::string out;
  out.reserve(before);
  for (char c : text)
    if (c != '\r') out += c;
  text.swap(out);
  return before - text.size();
}

size_t to_backslashes(std::u16string& text) {
  size_t count = 0;
  for (char16_t& c : text)
    if (c == u'/') { c = u'\\'; ++count; }
  return count;
}

int wide_compare(const char16_t* a, const char16_t* b) {
  for (;; ++a, ++b) {
    if (*a != *b) return *a < *b ? -255 : 1;
    if (*a == 0) return 0;
  }
}

std::vector<std::string> text_splitter::split() const {
  std::vector<std::string> fields;
  if (separator_.empty()) {
    if (!(drop_empty_ && text_.empty())) fields.push_back(text_);
    return fields;
  }
  size_t start = 0;
  for (;;) {
    size_t at = text_.find(separator_, start);
    std::string field = text_.substr(start, at == std::string::npos ? std::string::npos : at - start);
    if (!(drop_empty_ && field.empty())) fields.push_back(field);
    if (at == std::string::npos) break;
    start = at + separator_.size();
  }
  return fields;
}

}  // namespace p2p
