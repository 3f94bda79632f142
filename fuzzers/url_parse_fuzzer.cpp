// Fuzz target: the URL parser of the link functions, on any text. A parsed
// URL has a path that starts with "/", a port in range, and a directory and
// file name that together give the path up to its query.
#include <cstdint>
#include <string>

#include "foundation/text/url_parse.h"
#include "fuzzers/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const uint32_t scheme = GetUrlScheme(text);
  FUZZ_CHECK(scheme <= kUrlSchemeShareLink);
  UrlParts p;
  if (!ParseUrl(text, &p)) {
    FUZZ_CHECK(p.host.empty() && p.path.empty() && p.port == 0 && p.userName.empty());
    return 0;
  }
  std::string slashes = text;
  for (char& c : slashes) c = c == '\\' ? '/' : c;
  FUZZ_CHECK(slashes.find("://") != std::string::npos);
  FUZZ_CHECK(!p.path.empty() && p.path[0] == '/');
  FUZZ_CHECK(p.port <= 65535 && (p.port != 0 || p.scheme == kUrlSchemeOther));
  FUZZ_CHECK(p.host.find('/') == std::string::npos);
  FUZZ_CHECK(p.directory + p.fileName == p.path.substr(0, p.path.find('?')));
  FUZZ_CHECK(p.fileName.find('/') == std::string::npos);
  if (p.scheme != kUrlSchemeOther) FUZZ_CHECK(GetUrlScheme(slashes) == p.scheme);
  return 0;
}
