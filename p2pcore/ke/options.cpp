// Library-wide option state.
#include "p2pcore/ke/options.h"

#include <winsock2.h>
#include <windows.h>

#include "foundation/sync/locks.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/winutil.h"

namespace p2p {

// A deployment value (the registration server of the P2P network), to be set
// for each deployment or through ServHost; the reserved name never resolves.
const char kDefaultServerHost[] = "cp.orchard-p2p.invalid";

namespace {
struct text_options {
  CLock lock;
  wchar_t app_dir[kAppDirUnits + 1] = {};
  std::wstring ini_name = L"P2PCfg.ini";
  char server_host[kServerHostChars + 1] = {};
  text_options() {
    lstrcpynA(server_host, kDefaultServerHost, int(sizeof server_host));
  }
};
text_options& texts() {
  static text_options t;
  return t;
}
}  // namespace

option_flags& options() {
  static option_flags o;
  return o;
}

p2p_settings& settings() {
  static p2p_settings s;
  return s;
}

void options_set_app_dir(const wchar_t* dir) {
  if (!dir) return;
  CLockGuard h(texts().lock);
  lstrcpynW(texts().app_dir, dir, int(kAppDirUnits + 1));
}

std::wstring options_app_dir() {
  CLockGuard h(texts().lock);
  return texts().app_dir;
}

void options_set_ini_name(const wchar_t* name) {
  if (!name) return;
  std::wstring bounded(name, wcsnlen(name, kAppDirUnits));
  std::string ansi;
  if (!to_ansi_exact(bounded.c_str(), &ansi)) ansi = "p2pbase";
  {
    CLockGuard h(texts().lock);
    texts().ini_name = bounded;
  }
  log_set_base_name(ansi + ".log");
}

std::wstring options_ini_name() {
  CLockGuard h(texts().lock);
  return texts().ini_name;
}

void options_set_server_host(const char* host) {
  if (!host) return;
  CLockGuard h(texts().lock);
  lstrcpynA(texts().server_host, host, int(sizeof texts().server_host));
}

std::string options_server_host() {
  CLockGuard h(texts().lock);
  return texts().server_host;
}

}  // namespace p2p
