// Names of the NAT type byte and the one-line description of a peer that the
// peer links, the upload side and the export layer write. Platform-free.
#pragma once
#include <cstdint>
#include <string>

namespace p2p {

// "Public(FullCone)" ... "Inner(Unknown)": the low nibble gives the kind (1 to
// 4, else Unknown), 16 to 31 is a public node, anything else an inner one.
const char* nat_type_name(uint8_t nat_type);
bool nat_is_public(uint8_t nat_type);

// "[peer: %I64d, %s, ip: %-15s:%5d]" with the user id, the NAT name, the
// dotted address (first octet in the lowest byte) and the port.
std::string describe_peer(uint64_t user_id, uint8_t nat_type, uint32_t ip, uint16_t port);

}  // namespace p2p
