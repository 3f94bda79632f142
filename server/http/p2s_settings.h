// The address of the lookup and p2s command server: [Serv] Host and Port of
// "P2SCfg.ini" in the program's directory, over a client's built-in
// defaults; and the request URL, made with one of the host's addresses.
#pragma once
#include <cstdint>
#include <string>

struct P2sServer {
  std::string host;
  uint16_t port = 80;
};

// The built-in host names of the two servers (deployment values that never
// resolve: a machine without "P2SCfg.ini" sends no request anywhere).
extern const char kBuiltInLookupHost[];
extern const char kBuiltInP2sHost[];

// The settings file over the defaults: an absent or empty Host keeps the
// built-in one; an absent, 0 or out-of-range Port gives 80.
P2sServer LoadP2sServer(const char* builtInHost);
P2sServer LoadP2sServer(const char* builtInHost, const std::wstring& settingsPath);

// "http://%s:%d/%s" with the host, the port and the path; empty without a
// host or a path. The host name is looked up by the exchange, within its
// deadline (ServerAddress).
std::string MakeServerUrl(const P2sServer& server, const std::string& path);

// One of the IPv4 addresses of host, chosen at random (an in_addr value);
// 0 when it has none, when none came within waitMs or when cancel is
// signalled first. A name is looked up once for the whole program, on a
// thread of its own, and each lookup logged ("P2S - look up host %s"); a
// name without an address is looked up again after kHostRetryMs at the
// earliest, and a name under ".invalid" never.
uint32_t ServerAddress(const std::string& host, uint32_t waitMs, void* cancel);
constexpr uint32_t kHostRetryMs = 60000;
