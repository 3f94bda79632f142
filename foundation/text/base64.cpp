// Base64 encoding and decoding. Platform-free.
#include "foundation/text/base64.h"

#include <cstring>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SextetOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

bool Base64Encode(const void* data, size_t n, char* out, size_t capacity, size_t* written) {
  *written = 0;
  const size_t need = (n / 3 + (n % 3 != 0)) * 4;
  if (n > SIZE_MAX / 2 || capacity < need || (n != 0 && (data == nullptr || out == nullptr))) {
    return false;
  }
  const auto* in = static_cast<const uint8_t*>(data);
  size_t o = 0;
  for (size_t i = 0; i < n; i += 3) {
    const size_t left = n - i;
    const uint32_t v = (uint32_t{in[i]} << 16) | (left > 1 ? uint32_t{in[i + 1]} << 8 : 0) |
                       (left > 2 ? uint32_t{in[i + 2]} : 0);
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = left > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    out[o++] = left > 2 ? kAlphabet[v & 63] : '=';
  }
  *written = o;
  return true;
}

std::string Base64EncodeText(std::string_view text) {
  std::string out((text.size() / 3 + 1) * 4, '\0');
  size_t written = 0;
  Base64Encode(text.data(), text.size(), out.data(), out.size(), &written);
  out.resize(written);
  return out;
}

bool Base64Decode(const char* text, size_t n, uint8_t* out, size_t capacity, size_t* written) {
  *written = 0;
  uint32_t group = 0;
  int count = 0;
  size_t o = 0;
  for (size_t i = 0; i < n && text[i] != '\0'; ++i) {
    const int s = SextetOf(text[i]);
    if (s < 0) continue;
    group = (group << 6) | static_cast<uint32_t>(s);
    if (++count == 4) {
      if (capacity - o < 3) return false;
      out[o++] = static_cast<uint8_t>(group >> 16);
      out[o++] = static_cast<uint8_t>(group >> 8);
      out[o++] = static_cast<uint8_t>(group);
      group = 0;
      count = 0;
    }
  }
  // Two sextets carry one whole byte, three carry two; one carries none.
  const size_t tail = count == 2 ? 1 : count == 3 ? 2 : 0;
  if (capacity - o < tail) return false;
  if (count == 2) {
    out[o++] = static_cast<uint8_t>(group >> 4);
  } else if (count == 3) {
    out[o++] = static_cast<uint8_t>(group >> 10);
    out[o++] = static_cast<uint8_t>(group >> 2);
  }
  *written = o;
  return true;
}

bool Base64DecodeText(std::string_view text, size_t maxBytes, std::string* out) {
  out->assign(maxBytes, '\0');
  size_t written = 0;
  if (!Base64Decode(text.data(), text.size(), reinterpret_cast<uint8_t*>(out->data()), maxBytes,
                    &written)) {
    out->clear();
    return false;
  }
  out->resize(strnlen(out->data(), written));
  return true;
}
