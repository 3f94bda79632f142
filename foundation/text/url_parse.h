// URL scheme codes and the URL parser of the link functions. Platform-free.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

enum : uint32_t {
  kUrlSchemeOther = 0,
  kUrlSchemeHttp = 1,      // "http://"
  kUrlSchemeFtp = 2,       // "ftp://"
  kUrlSchemeMms = 3,       // "mms://", "mmst://"
  kUrlSchemeRtsp = 4,      // "rtsp://"
  kUrlSchemeShareLink = 5, // "qepxp://", "vxhd://"
};

// The code of the text up to and including the first "://", case-blind.
uint32_t GetUrlScheme(std::string_view text);

struct UrlParts {
  uint32_t scheme = kUrlSchemeOther;  // only http and ftp are told apart
  std::string host;
  uint32_t port = 0;
  std::string path;       // from the first "/" after the host
  std::string directory;  // path without a query, up to and including its last "/"
  std::string fileName;   // after that last "/"
  std::string userName;
  std::string password;
};

// False, with every field cleared, when the text has no "://" or names a
// port outside 1..65535. Credentials count only before the first "/" after
// the scheme; "\" is read as "/".
bool ParseUrl(std::string_view text, UrlParts* parts);
