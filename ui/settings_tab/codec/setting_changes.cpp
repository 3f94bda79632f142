// The settings pages' checks and the commands a save sends.
#include "ui/settings_tab/codec/setting_changes.h"

#include "foundation/text/ascii_case.h"
#include "ui/res/resource.h"

namespace {

constexpr uint16_t kLevels[] = {0, 9, 8};

std::u16string_view Trimmed(std::u16string_view text) {
  auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\x3000'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<uint32_t> ParseBoundedDecimal(std::u16string_view text, uint32_t min, uint32_t max) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - u'0');
  }
  if (value < min || value > max) return std::nullopt;
  return static_cast<uint32_t>(value);
}

bool ParseDottedAddress(std::u16string_view text, uint8_t out[4]) {
  for (int part = 0; part < 4; ++part) {
    size_t dot = part < 3 ? text.find(u'.') : text.size();
    if (dot == std::u16string_view::npos) return false;
    std::optional<uint32_t> value = ParseBoundedDecimal(text.substr(0, dot), 0, 255);
    if (!value || dot > 3) return false;
    out[part] = static_cast<uint8_t>(*value);
    text.remove_prefix(dot < text.size() ? dot + 1 : dot);
  }
  return true;
}

std::optional<std::u16string> BoundTypedFtpPort(std::u16string_view text) {
  if (text.empty()) return std::nullopt;
  if (ParseBoundedDecimal(text, 0, 0) == 0u) return u"1";
  // Any run of digits above 65535, however long, is bounded.
  bool digits = true;
  for (char16_t c : text) digits = digits && c >= u'0' && c <= u'9';
  if (digits && !ParseBoundedDecimal(text, 0, 65535)) return u"65535";
  return std::nullopt;
}

int LogLevelIndex(uint16_t level) {
  for (int i = 1; i < 3; ++i) {
    if (kLevels[i] == level) return i;
  }
  return 0;
}

uint16_t LogLevelOfIndex(int index) { return index >= 0 && index < 3 ? kLevels[index] : 0; }

FtpSavePlan PlanFtpSave(const FtpPageValues& page, const FtpCachedValues& cache) {
  FtpSavePlan plan;
  if (page.byDomain) {
    std::u16string_view domain = Trimmed(page.domain);
    if (domain.empty()) return FtpSavePlan{IDS_DOMAIN_EMPTY};
    // A change of the host type alone is a change too: the server keeps the
    // type for its links.
    plan.sendAddress = cache.hostType != kHostTypeDomain || CompareNoCase(domain, cache.host) != 0;
    plan.hostType = kHostTypeDomain;
    plan.host = std::u16string(domain);
    plan.port = 0;
  } else {
    std::u16string_view address = Trimmed(page.address);
    if (address.empty() || address == u"0.0.0.0") return FtpSavePlan{IDS_ADDRESS_EMPTY};
    std::optional<uint32_t> port = ParseBoundedDecimal(page.port, 1, 65535);
    if (!port) return FtpSavePlan{IDS_PORT_RANGE};
    plan.sendAddress =
        cache.hostType != kHostTypeAddress || CompareNoCase(address, cache.host) != 0 || *port != cache.port;
    plan.hostType = kHostTypeAddress;
    plan.host = std::u16string(address);
    plan.port = static_cast<uint16_t>(*port);
  }
  plan.sendAccount = page.user != cache.user || page.password != cache.password;
  // The server keeps a password this program does not know; an empty edit
  // the user never typed in would send an empty one and wipe it.
  if (plan.sendAccount && page.password.empty() && cache.password.empty() && cache.serverHasPassword &&
      !page.passwordTyped) {
    return FtpSavePlan{IDS_FTP_PASSWORD_NEEDED};
  }
  return plan;
}

P2pSavePlan PlanP2pSave(const P2pPageValues& page, const P2pCachedValues& cache) {
  P2pSavePlan plan;
  if (page.speed.empty()) {
    plan.restoreSpeed = true;
  } else {
    std::optional<uint32_t> speed = ParseBoundedDecimal(page.speed, 0, kMaxUpSpeed);
    if (!speed) return P2pSavePlan{IDS_SPEED_RANGE};
    plan.speed = *speed;
    plan.sendSpeed = *speed != cache.maxUpSpeed;
  }
  std::optional<uint32_t> port = ParseBoundedDecimal(page.port, 1, 65535);
  if (!port) return P2pSavePlan{IDS_PORT_RANGE};
  plan.port = static_cast<uint16_t>(*port);
  plan.sendPort = plan.port != cache.port;
  plan.level = LogLevelOfIndex(page.levelIndex);
  plan.sendLevel = plan.level != cache.logLevel;
  return plan;
}
