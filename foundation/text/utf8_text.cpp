// UTF-8 checks and conversions. Platform-free.
#include "foundation/text/utf8_text.h"

#include <cstdint>

namespace {

// Decodes one sequence at text[i]; returns its length, 0 when ill-formed.
size_t DecodeOne(std::string_view text, size_t i, uint32_t* cp) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t b0 = byte(i);
  if (b0 < 0x80) {
    *cp = b0;
    return 1;
  }
  size_t len;
  uint32_t value, min;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2; value = b0 & 0x1F; min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3; value = b0 & 0x0F; min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4; value = b0 & 0x07; min = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - i < len) return 0;
  for (size_t k = 1; k < len; ++k) {
    const uint8_t b = byte(i + k);
    if ((b & 0xC0) != 0x80) return 0;
    value = (value << 6) | (b & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *cp = value;
  return len;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  uint32_t cp;
  for (size_t i = 0; i < text.size();) {
    const size_t n = DecodeOne(text, i, &cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t cp;
    size_t n = DecodeOne(text, i, &cp);
    if (n == 0) {
      cp = 0xFFFD;
      n = 1;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += n;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

bool Utf8ToCodePageInPlace(std::string& text, size_t capacity, const NarrowCodePage& codePage) {
  if (!IsValidUtf8(text)) return false;
  bool ascii = true;
  for (char c : text) ascii = ascii && static_cast<uint8_t>(c) < 0x80;
  std::string converted;
  if (ascii) {
    converted = text;  // every code page keeps ASCII as it is
  } else {
    if (codePage.fromUtf16 == nullptr) return false;
    converted = codePage.fromUtf16(Utf8ToUtf16(text));
    if (converted.empty()) return false;
  }
  if (capacity == 0) return false;
  if (converted.size() > capacity - 1) converted.resize(capacity - 1);
  text = std::move(converted);
  return true;
}
