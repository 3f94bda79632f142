// Parsing of the system's share links: "vxhd://size|id|name", and
// "qepxp://" links that carry one. Platform-free.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/text/code_page.h"

struct ShareLinkFields {
  std::string id;     // 32 characters
  uint64_t size = 0;  // never 0 in a parsed link
  std::string name;   // narrow, safe as a file name: no control character or zero
};

// False, fields cleared, for anything but a link with a decimal size other
// than 0, an id of 32 characters and a name field.
bool ParseShareLink(std::string_view link, ShareLinkFields* fields, const LinkTextEnv& env);

// Locales whose users read traditional Chinese.
bool IsTraditionalChineseLocale(uint32_t localeId);
