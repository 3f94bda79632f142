// Exact, case-insensitive site matching: an address that only begins another
// site's address is a different server.
#include "ui/client_settings/codec/site_list.h"

#include "foundation/text/ascii_case.h"


int FindSite(const std::vector<Site>& sites, std::u16string_view address) {
  if (address.empty()) return -1;
  for (size_t i = 0; i < sites.size(); ++i) {
    if (sites[i].address.size() == address.size() && CompareNoCase(sites[i].address, address) == 0) return static_cast<int>(i);
  }
  return -1;
}

uint16_t ParsePort(std::u16string_view text) {
  if (text.empty() || text.size() > 5) return 0;
  uint32_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return 0;
    value = value * 10 + static_cast<uint32_t>(c - u'0');
  }
  return value >= 1 && value <= 65535 ? static_cast<uint16_t>(value) : 0;
}
