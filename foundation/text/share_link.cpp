// Parsing of share links. Platform-free.
#include "foundation/text/share_link.h"

#include "foundation/text/ascii_case.h"
#include "foundation/text/base64.h"
#include "foundation/text/percent_encoding.h"
#include "foundation/text/token_list.h"
#include "foundation/text/utf8_text.h"

namespace {

constexpr size_t kShareIdLength = 32;
constexpr size_t kDecodedLinkMax = 4096;
constexpr size_t kNameMax = 4096;

bool ReadSize(std::string_view text, uint64_t* size) {
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (v > (UINT64_MAX - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *size = v;
  return true;
}

bool HasNonAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<uint8_t>(c) >= 0x80) return true;
  }
  return false;
}

// The fields of a link after its scheme. A "qepxp://" link holds them as
// they are, or the Base64 of a "vxhd://" link.
bool LinkBody(std::string_view link, std::string* body) {
  if (StartsWithNoCase(link, "vxhd://")) {
    body->assign(link.substr(7));
    return true;
  }
  if (!StartsWithNoCase(link, "qepxp://")) return false;
  const std::string_view payload = link.substr(8);
  if (payload.find('|') != std::string_view::npos) {
    body->assign(payload);
    return true;
  }
  std::string decoded;
  if (!Base64DecodeText(payload, kDecodedLinkMax, &decoded) || !StartsWithNoCase(decoded, "vxhd://")) {
    return false;
  }
  body->assign(decoded.substr(7));
  return true;
}

template <class Text>
void ReplaceUnsafe(Text& name) {
  Text out;
  for (auto c : name) {
    switch (c) {
      case '\r': case '\n':
        break;
      case '"': case '\\': case '/': case '*': case ':': case '>': case '<': case '?': case '|':
        out.push_back('_');
        break;
      default:
        // No file name holds a control character; a zero would also cut the
        // name short wherever it is taken as a C string.
        out.push_back(static_cast<uint32_t>(c) < 0x20 ? '_' : c);
    }
  }
  name = std::move(out);
}

// Works on characters, so that the trail byte of a double-byte character
// is never taken for a "\" or a "|".
void MakeSafeFileName(std::string& name, const NarrowCodePage& ansi) {
  if (HasNonAscii(name) && ansi.toUtf16 != nullptr && ansi.fromUtf16 != nullptr) {
    std::u16string wide = ansi.toUtf16(name);
    if (!wide.empty()) {
      ReplaceUnsafe(wide);
      std::string back = wide.empty() ? std::string() : ansi.fromUtf16(wide);
      if (!back.empty() || wide.empty()) {
        name = std::move(back);
        return;
      }
    }
  }
  ReplaceUnsafe(name);
}

}  // namespace

bool IsTraditionalChineseLocale(uint32_t localeId) {
  return localeId == 1028 || localeId == 3076 || localeId == 4100 || localeId == 5124;
}

bool ParseShareLink(std::string_view link, ShareLinkFields* fields, const LinkTextEnv& env) {
  *fields = ShareLinkFields{};
  std::string body;
  if (!LinkBody(link, &body)) return false;
  const CTokenList parts(body, "|");
  if (parts.Count() < 3) return false;
  ShareLinkFields f;
  if (!ReadSize(parts.At(0), &f.size) || f.size == 0) return false;
  f.id = parts.At(1);
  if (f.id.size() != kShareIdLength) return false;

  std::string name = parts.At(2);
  const bool sentAsUtf8 = HasNonAscii(name) && IsValidUtf8(name);
  if (sentAsUtf8) Utf8ToCodePageInPlace(name, kNameMax, env.oem);
  bool highEscape = false;
  name = PercentDecode(name, &highEscape);
  bool escapedUtf8 = false;
  if (highEscape && IsValidUtf8(name) && env.ansi.fromUtf16 != nullptr) {
    std::string ansi = env.ansi.fromUtf16(Utf8ToUtf16(name));
    if (!ansi.empty()) {
      name = std::move(ansi);
      escapedUtf8 = true;
    }
  }
  // Only characters that came as ANSI (GBK) bytes are simplified Chinese.
  if (!sentAsUtf8 && !escapedUtf8 && HasNonAscii(name) && IsTraditionalChineseLocale(env.userLocale) &&
      env.toTraditional != nullptr) {
    name = env.toTraditional(name);
  }
  MakeSafeFileName(name, env.ansi);
  f.name = std::move(name);
  *fields = std::move(f);
  return true;
}
