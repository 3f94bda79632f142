// IPv4 address texts and classes. Addresses are the four bytes as they lie
// in memory (network order, as in in_addr). Platform-free.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

std::string Ipv4Text(const uint8_t address[4]);
std::string Ipv4Text(const uint8_t address[4], uint16_t port);
// The same, from an in_addr value as it lies in memory.
std::string Ipv4Text(uint32_t inAddr);

// False for an empty text, "0.0.0.0" and "127.0.0.1".
bool IsUsableAddressText(std::string_view text);

enum : int {
  kAddressUnusable = 0,  // 255.x.x.x and link-local 169.254.x.x
  kAddressPrivate = 1,   // 10.x, 127.x, 172.16.x-172.31.x, 192.168.x
  kAddressPublic = 2,
};
int AddressClass(const uint8_t address[4]);
