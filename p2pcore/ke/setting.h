// The settings file "P2PCfg.ini" (or the name set_p2p_ini_filename gave) in
// the application directory: read once per start, network facts and the user
// id written back unless in temp mode.
#pragma once
#include <cstdint>
#include <string>

#include "p2pcore/codec/settings_values.h"

namespace p2p {

std::wstring settings_path();
// Fills the record; opens the log when Debug is 8 or more. False for null.
bool settings_read(p2p_settings* s);

struct network_facts {
  std::string interface_name;
  uint8_t mac[6];
  uint32_t lan_ip, wan_ip;  // network order
  int lan_port, wan_port;
  int bw_u, bw_d;
};
void settings_write_network(const network_facts& facts);
void settings_write_user_id(uint64_t user_id);

}  // namespace p2p
