// "P2SCfg.ini" and the request URL of the lookup and p2s clients.
#include "server/http/p2s_settings.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <random>

#include "foundation/util/code_pages.h"
#include "foundation/util/path_ops.h"
#include "server/config/ini_file.h"

const char kBuiltInLookupHost[] = "maps.orchard.invalid";
const char kBuiltInP2sHost[] = "p2s.orchard.invalid";

P2sServer LoadP2sServer(const char* builtInHost) { return LoadP2sServer(builtInHost, ModulePathOf(L"P2SCfg.ini")); }

P2sServer LoadP2sServer(const char* builtInHost, const std::wstring& settingsPath) {
  P2sServer server;
  server.host = builtInHost ? builtInHost : "";
  CIniFile ini;
  ini.SetPath(settingsPath);
  const std::wstring host = ini.GetText(L"Serv", L"Host", L"");
  if (!host.empty()) server.host = WideToNarrow(host, CP_ACP);
  const int port = ini.GetInt(L"Serv", L"Port", 0);
  server.port = port > 0 && port <= 65535 ? uint16_t(port) : 80;
  return server;
}

std::string MakeServerUrl(const P2sServer& server, const std::string& path) {
  if (server.host.empty() || path.empty()) return std::string();
  std::string address;
  in_addr dotted;
  if (inet_pton(AF_INET, server.host.c_str(), &dotted) == 1) {
    address = server.host;
  } else if (const hostent* host = gethostbyname(server.host.c_str());
             host && host->h_addrtype == AF_INET && host->h_length == 4) {
    size_t count = 0;
    while (host->h_addr_list[count]) ++count;
    if (count) {
      thread_local std::minstd_rand pick(GetTickCount() ^ GetCurrentThreadId());
      in_addr chosen;
      memcpy(&chosen, host->h_addr_list[pick() % count], 4);
      char text[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &chosen, text, sizeof text);
      address = text;
    }
  }
  return "http://" + address + ":" + std::to_string(server.port) + "/" + path;
}
