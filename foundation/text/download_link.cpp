// Normalisation of download links. Platform-free.
#include "foundation/text/download_link.h"

#include <cstdio>

#include "foundation/text/ascii_case.h"
#include "foundation/text/base64.h"
#include "foundation/text/percent_encoding.h"
#include "foundation/text/url_parse.h"
#include "foundation/text/utf8_text.h"

namespace {

constexpr size_t kWrappedLinkMax = 16 * 1024;  // decoded thunder: and qqdl: links
constexpr size_t kQedpxpMax = 2084;            // decoded qedpxp:// payload
constexpr size_t kQedpxpPrefix = 7;            // decoded characters before the link
constexpr char kQedpxpMarker[] = "[QEDPXP]";

void Trim(std::string& t) {
  const char* kBlank = " \t\r\n";
  const size_t first = t.find_first_not_of(kBlank);
  if (first == std::string::npos) {
    t.clear();
    return;
  }
  t.erase(t.find_last_not_of(kBlank) + 1);
  t.erase(0, first);
}

void ReplaceAll(std::string& t, std::string_view from, std::string_view to) {
  for (size_t at = t.find(from); at != std::string::npos; at = t.find(from, at + to.size())) {
    t.replace(at, from.size(), to);
  }
}

// "thunder:" and "qqdl:" carry the link in Base64 after the scheme and any
// slashes. Thunder wraps it as "AA" + link + "ZZ", in UTF-8 or not.
bool UnwrapBase64Link(std::string& t, size_t schemeLength, bool thunder, const LinkTextEnv& env) {
  size_t start = schemeLength;
  while (start < t.size() && (t[start] == '/' || t[start] == '\\')) ++start;
  std::string decoded;
  if (!Base64DecodeText(std::string_view(t).substr(start), kWrappedLinkMax, &decoded)) return false;
  if (thunder) {
    Utf8ToCodePageInPlace(decoded, kWrappedLinkMax, env.oem);
    if (decoded.size() < 2) return false;
    decoded.erase(0, 2);
    if (decoded.size() > 10 && decoded.compare(decoded.size() - 2, 2, "ZZ") == 0) {
      decoded.resize(decoded.size() - 2);
    }
  }
  t = std::move(decoded);
  return true;
}

bool UnwrapQedpxp(std::string& t) {
  constexpr size_t kScheme = 9;  // "qedpxp://"
  const std::string_view payload = std::string_view(t).substr(kScheme, t.find('&', kScheme) - kScheme);
  std::string decoded;
  if (!Base64DecodeText(payload, kQedpxpMax, &decoded) || decoded.size() < kQedpxpPrefix) {
    return false;
  }
  const size_t marker = decoded.find(kQedpxpMarker, kQedpxpPrefix);
  if (marker == std::string::npos) return false;
  t = decoded.substr(kQedpxpPrefix, marker - kQedpxpPrefix);
  return true;
}

std::string RebuildUrl(const UrlParts& p, const LinkTextEnv& env) {
  std::string out = p.scheme == kUrlSchemeHttp ? "http://" : "ftp://";
  if (!p.userName.empty()) out += p.userName + ":" + p.password + "@";
  out += p.host;
  const uint32_t defaultPort = p.scheme == kUrlSchemeHttp ? 80 : 21;
  if (p.port != defaultPort) {
    char port[16];
    snprintf(port, sizeof port, ":%u", static_cast<unsigned>(p.port));
    out += port;
  }
  out += PercentEncode(p.path, env.oem);
  if (out == "http:///") out = "http://";
  return out;
}

}  // namespace

bool DecodeDownloadLink(std::string& text, const LinkTextEnv& env) {
  std::string t = text;
  text.clear();
  if (t.find("://") == std::string::npos) t.insert(0, "qedpxp://");

  if (StartsWithNoCase(t, "thunder:")) {
    if (!UnwrapBase64Link(t, 8, true, env)) return false;
  } else if (StartsWithNoCase(t, "qqdl:")) {
    if (!UnwrapBase64Link(t, 5, false, env)) return false;
  }

  Trim(t);
  ReplaceAll(t, " ", "%20");
  ReplaceAll(t, "\\", "/");
  // Each round leaves a shorter text, so nested wrappers end.
  while (StartsWithNoCase(t, "qedpxp://")) {
    if (!UnwrapQedpxp(t)) return false;
    Trim(t);
  }
  if (t.empty()) return false;

  const uint32_t scheme = GetUrlScheme(t);
  if (scheme == kUrlSchemeShareLink) {
    const size_t end = t.find("|/");
    if (end != std::string::npos) t.resize(end + 2);
    for (char& c : t) {
      if (c == ' ') c = '+';
    }
  } else if (scheme == kUrlSchemeHttp || scheme == kUrlSchemeFtp) {
    UrlParts parts;
    if (!ParseUrl(t, &parts)) return false;
    if (parts.scheme == kUrlSchemeOther) {
      t = PercentEncode(t, env.oem);  // "HTTP://" is not rebuilt
    } else {
      t = RebuildUrl(parts, env);
    }
  } else {
    t = PercentEncode(t, env.oem);
  }
  text = std::move(t);
  return true;
}
