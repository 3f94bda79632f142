// IPv4 address texts and classes. Platform-free.
#include "foundation/text/address_text.h"

#include <cstdio>
#include <cstring>

std::string Ipv4Text(const uint8_t a[4]) {
  char buf[32];
  snprintf(buf, sizeof buf, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
  return buf;
}

std::string Ipv4Text(const uint8_t a[4], uint16_t port) {
  char buf[32];
  snprintf(buf, sizeof buf, "%u.%u.%u.%u:%u", a[0], a[1], a[2], a[3], static_cast<unsigned>(port));
  return buf;
}

std::string Ipv4Text(uint32_t inAddr) {
  uint8_t a[4];
  memcpy(a, &inAddr, sizeof a);
  return Ipv4Text(a);
}

bool IsUsableAddressText(std::string_view text) {
  return !text.empty() && text != "0.0.0.0" && text != "127.0.0.1";
}

int AddressClass(const uint8_t a[4]) {
  if (a[0] == 255 || (a[0] == 169 && a[1] == 254)) return kAddressUnusable;
  if (a[0] == 10 || a[0] == 127 || (a[0] == 172 && a[1] >= 16 && a[1] <= 31) ||
      (a[0] == 192 && a[1] == 168)) {
    return kAddressPrivate;
  }
  return kAddressPublic;
}
