// Network-interface choice and the machine id of the upload core.
#pragma once
#include <cstdint>
#include <string>

namespace p2p {

struct adapter_record {
  std::string name;
  uint8_t mac[6];
  uint32_t ip;       // network order
  uint32_t gateway;  // network order
  bool found;
};

// Among Ethernet adapters with a usable address and gateway the first is the
// local address; the first public one replaces it. 0 when a public one was
// found or the list cannot be read, else 1.
int choose_adapter(adapter_record* chosen);

struct machine_identity {
  adapter_record adapter;
  uint32_t volume_serial;
  uint8_t pcid[16];
  uint64_t pcid_new;
};
void machine_id_init(machine_identity* id);

}  // namespace p2p
