// "P2SCfg.ini" and the request URL of the lookup and p2s clients.
#include "server/http/p2s_settings.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <random>

#include "foundation/log/server_logs.h"
#include "foundation/util/code_pages.h"
#include "foundation/util/path_ops.h"
#include "server/config/ini_file.h"
#include "server/http/codec/host_lookup.h"

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
  return "http://" + server.host + ":" + std::to_string(server.port) + "/" + path;
}

namespace {
std::vector<uint32_t> LookUpHost(const std::string& name) {
  std::vector<uint32_t> out;
  const hostent* host = gethostbyname(name.c_str());  // on the lookup's own thread: its result is that thread's
  if (!host || host->h_addrtype != AF_INET || host->h_length != 4) return out;
  for (int i = 0; host->h_addr_list[i]; ++i) {
    uint32_t address;
    memcpy(&address, host->h_addr_list[i], 4);
    out.push_back(address);
  }
  return out;
}

HostLookup& ServerHosts() {
  // Never freed: a lookup thread may still be in the system's resolver at exit.
  static HostLookup* hosts = new HostLookup(LookUpHost, kHostRetryMs);
  return *hosts;
}
}  // namespace

uint32_t ServerAddress(const std::string& host, uint32_t waitMs, void* cancel) {
  std::vector<uint32_t> addresses;
  bool started = false;
  const HANDLE event = static_cast<HANDLE>(cancel);
  const HostLookup::Outcome outcome = ServerHosts().Find(
      host, waitMs, [event] { return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }, &addresses,
      &started);
  if (started) WriteLog(&g_MainLog, 1, "P2S - look up host %s", host.c_str());
  if (outcome != HostLookup::kFound) return 0;
  thread_local std::minstd_rand pick(GetTickCount() ^ GetCurrentThreadId());
  return addresses[pick() % addresses.size()];
}
