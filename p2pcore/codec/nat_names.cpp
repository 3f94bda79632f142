// NAT names and the peer description line.
#include "p2pcore/codec/nat_names.h"

#include <cstdio>

#include "foundation/text/address_text.h"
#include "p2pcore/codec/texts.h"

namespace p2p {

bool nat_is_public(uint8_t nat_type) { return nat_type >= 16 && nat_type <= 31; }

const char* nat_type_name(uint8_t nat_type) {
  static const char* const kPublic[] = {"Public(Unknown)", "Public(FullCone)", "Public(Restricted)",
                                        "Public(PortRestricted)", "Public(Symmetric)"};
  static const char* const kInner[] = {"Inner(Unknown)", "Inner(FullCone)", "Inner(Restricted)",
                                       "Inner(PortRestricted)", "Inner(Symmetric)"};
  const unsigned kind = nat_type & 0x0F;
  const unsigned at = kind >= 1 && kind <= 4 ? kind : 0;
  return nat_is_public(nat_type) ? kPublic[at] : kInner[at];
}

std::string describe_peer(uint64_t user_id, uint8_t nat_type, uint32_t ip, uint16_t port) {
  char text[128];
  std::snprintf(text, sizeof text, "[peer: %lld, %s, ip: %-15s:%5d]", static_cast<long long>(user_id),
                nat_type_name(nat_type), Ipv4Text(ip).c_str(), int(port));
  return text;
}

}  // namespace p2p
