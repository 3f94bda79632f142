// Host lookup, local addresses, adapter information and Winsock start.
#include "foundation/util/net_address.h"

#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

uint32_t ResolveHostAddress(const char* name) {
  if (name == nullptr || name[0] == '\0') return 0;
  in_addr dotted;
  if (inet_pton(AF_INET, name, &dotted) == 1) return dotted.s_addr;
  const hostent* host = gethostbyname(name);
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4) return 0;
  int count = 0;
  while (host->h_addr_list[count] != nullptr) ++count;
  if (count == 0) return 0;
  uint32_t address;
  memcpy(&address, host->h_addr_list[(GetTickCount() / 1000) % static_cast<DWORD>(count)], 4);
  return address;
}

int GetLocalHostAddresses(std::vector<std::string>* addresses) {
  addresses->clear();
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0) {
    printf("WSAStartup failed\n");
    return 255;
  }
  int result = 0;
  char name[256];
  const hostent* host = nullptr;
  if (gethostname(name, sizeof name) != 0) {
    printf("gethostname failed (%d)\n", WSAGetLastError());
    result = 1;
  } else if ((host = gethostbyname(name)) == nullptr) {
    printf("gethostbyname %s failed (%d)\n", name, WSAGetLastError());
    result = 1;
  } else {
    printf("host name: %s\n", name);
    for (int i = 0; host->h_addr_list[i] != nullptr; ++i) {
      const auto* a = reinterpret_cast<const uint8_t*>(host->h_addr_list[i]);
      char text[32];
      snprintf(text, sizeof text, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
      printf("address %d: %s\n", i, text);
      addresses->push_back(text);
    }
  }
  WSACleanup();
  return result;
}

bool GetMachineDescription(AdapterDescription* d) {
  *d = AdapterDescription{};
  ULONG size = 0;
  if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return false;
  std::vector<uint8_t> buffer(size);
  auto* info = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
  if (GetAdaptersInfo(info, &size) != NO_ERROR) return false;
  d->address = info->IpAddressList.IpAddress.String;
  d->gateway = info->GatewayList.IpAddress.String;
  d->hardwareLength = info->AddressLength < sizeof d->hardware ? info->AddressLength : sizeof d->hardware;
  memcpy(d->hardware, info->Address, d->hardwareLength);
  char windows[MAX_PATH];
  const UINT n = GetWindowsDirectoryA(windows, MAX_PATH);
  if (n >= 3 && n < MAX_PATH) {
    const char root[4] = {windows[0], ':', '\\', '\0'};
    DWORD serial = 0;
    if (GetVolumeInformationA(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) d->volumeSerial = serial;
  }
  return true;
}

int StartWinsock() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data);
}
