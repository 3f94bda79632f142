// Host lookup, the machine's own addresses and adapter, and Winsock start.
#pragma once
#include <winsock2.h>

#include <cstdint>
#include <string>
#include <vector>

// An in_addr value (network order): a dotted address directly, else one of
// the name's addresses, picked by the second of the tick count; 0 when none.
uint32_t ResolveHostAddress(const char* name);

// Every address of this host as dotted text. 255 when Winsock does not
// start, 1 when the name or its lookup fails, else 0.
int GetLocalHostAddresses(std::vector<std::string>* addresses);

struct AdapterDescription {
  std::string address;
  std::string gateway;
  uint8_t hardware[8] = {};
  uint32_t hardwareLength = 0;
  uint32_t volumeSerial = 0;  // of the system drive's root
};
// The first adapter and the system volume: the machine description.
bool GetMachineDescription(AdapterDescription* description);

// WSAStartup version 2.2: its result.
int StartWinsock();
