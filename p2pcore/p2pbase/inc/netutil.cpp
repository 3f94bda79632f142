// Adapter choice (GetAdaptersInfo) and the machine id from MAC and volume serial.
#include "p2pcore/p2pbase/inc/netutil.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstring>
#include <vector>

#include "foundation/text/address_text.h"
#include "p2pcore/codec/texts.h"

namespace p2p {

static uint32_t dotted_to_network(const char* text) {
  uint32_t host = 0;
  if (!parse_ipv4(text, &host)) return 0;
  return htonl(host);
}

int choose_adapter(adapter_record* chosen) {
  *chosen = {};
  ULONG size = 0;
  if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return 0;
  std::vector<uint8_t> buffer(size);
  IP_ADAPTER_INFO* list = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
  if (GetAdaptersInfo(list, &size) != NO_ERROR) return 0;
  for (IP_ADAPTER_INFO* a = list; a; a = a->Next) {
    if (a->Type != MIB_IF_TYPE_ETHERNET) continue;
    const char* ip = a->IpAddressList.IpAddress.String;
    const char* gw = a->GatewayList.IpAddress.String;
    if (!IsUsableAddressText(ip) || !IsUsableAddressText(gw)) continue;
    adapter_record r = {};
    r.name = a->AdapterName;
    std::memcpy(r.mac, a->Address, std::min<size_t>(6, a->AddressLength));
    r.ip = dotted_to_network(ip);
    r.gateway = dotted_to_network(gw);
    r.found = true;
    uint8_t octets[4];
    std::memcpy(octets, &r.ip, 4);
    if (AddressClass(octets) == 2) {
      *chosen = r;
      return 0;
    }
    // A virtual-machine adapter (00:50:56) is not taken as the first choice.
    const bool virtual_mac = r.mac[0] == 0x00 && r.mac[1] == 0x50 && r.mac[2] == 0x56;
    if (!chosen->found && !virtual_mac) *chosen = r;
  }
  return 1;
}

void machine_id_init(machine_identity* id) {
  choose_adapter(&id->adapter);
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  char root[4] = {char(system[0] ? system[0] : 'C'), ':', '\\', 0};
  DWORD serial = 0;
  if (!GetVolumeInformationA(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) serial = 0;
  id->volume_serial = serial;
  std::memset(id->pcid, 0, sizeof id->pcid);
  std::memcpy(id->pcid, id->adapter.mac, 6);
  std::memcpy(id->pcid + 6, &serial, 4);
  const uint8_t* m = id->adapter.mac;
  const uint32_t high = uint32_t(m[0]) << 24 | uint32_t(m[1]) << 16 | uint32_t(m[2]) << 8 | m[3];
  const uint32_t low = uint32_t(m[4]) << 24 | uint32_t(m[5]) << 16 | (((serial >> 16) + (serial & 0xFFFF)) & 0xFFFF);
  id->pcid_new = uint64_t(high) << 32 | low;
}

}  // namespace p2p
