// URL scheme codes and URL parsing. Platform-free.
#include "foundation/text/url_parse.h"

#include "foundation/text/ascii_case.h"

uint32_t GetUrlScheme(std::string_view text) {
  const size_t sep = text.find("://");
  if (sep == std::string_view::npos) return kUrlSchemeOther;
  const std::string_view scheme = text.substr(0, sep + 3);
  static const struct { const char* text; uint32_t code; } kSchemes[] = {
      {"http://", kUrlSchemeHttp},       {"ftp://", kUrlSchemeFtp},
      {"mms://", kUrlSchemeMms},         {"mmst://", kUrlSchemeMms},
      {"rtsp://", kUrlSchemeRtsp},       {"qepxp://", kUrlSchemeShareLink},
      {"vxhd://", kUrlSchemeShareLink},
  };
  for (const auto& s : kSchemes) {
    if (EqualsNoCase(scheme, s.text)) return s.code;
  }
  return kUrlSchemeOther;
}

namespace {

// 1..65535 in decimal digits only.
bool ReadPort(std::string_view text, uint32_t* port) {
  if (text.empty() || text.size() > 5) return false;
  uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  if (v == 0 || v > 65535) return false;
  *port = v;
  return true;
}

}  // namespace

bool ParseUrl(std::string_view textIn, UrlParts* parts) {
  *parts = UrlParts{};
  std::string text(textIn);
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  const size_t sep = text.find("://");
  if (sep == std::string::npos) return false;
  UrlParts p;
  if (text.compare(0, 7, "http://") == 0) {
    p.scheme = kUrlSchemeHttp;
    p.port = 80;
  } else if (text.compare(0, 6, "ftp://") == 0) {
    p.scheme = kUrlSchemeFtp;
    p.port = 21;
  }
  std::string rest = text.substr(sep + 3);

  // Credentials end at the last "@" of the authority; an "@" in the path is
  // part of the path.
  const size_t authorityEnd = rest.find('/');
  const size_t at = rest.substr(0, authorityEnd).rfind('@');
  if (at != std::string::npos) {
    const std::string credentials = rest.substr(0, at);
    const size_t colon = credentials.find(':');
    p.userName = credentials.substr(0, colon);
    if (colon != std::string::npos) p.password = credentials.substr(colon + 1);
    rest.erase(0, at + 1);
  }

  if (rest.find('/') == std::string::npos) rest.push_back('/');
  const size_t slash = rest.find('/');
  const std::string hostPort = rest.substr(0, slash);
  p.path = rest.substr(slash);
  if (p.path.compare(0, 2, "//") == 0) p.path.erase(0, 1);

  const size_t colon = hostPort.find(':');
  p.host = hostPort.substr(0, colon);
  if (colon != std::string::npos && colon + 1 < hostPort.size() &&
      !ReadPort(std::string_view(hostPort).substr(colon + 1), &p.port)) {
    return false;
  }

  const std::string plain = p.path.substr(0, p.path.find('?'));
  const size_t lastSlash = plain.rfind('/');
  p.directory = plain.substr(0, lastSlash + 1);
  p.fileName = plain.substr(lastSlash + 1);
  *parts = std::move(p);
  return true;
}
