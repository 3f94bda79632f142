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

// "http://%s:%d/%s" with one of the host's IPv4 addresses chosen at random,
// the port and the path; the address part stays empty when the host does
// not resolve (the connection then fails). Empty without a host or a path.
std::string MakeServerUrl(const P2sServer& server, const std::string& path);
