// Loading the limit and allow lists; readers of the limit list share a lock
// so that a reload waits for them.
#include "p2pcore/ke/ip_list_files.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "foundation/text/address_text.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/p2pbase/inc/winutil.h"

namespace p2p {

namespace {
struct limit_list_state {
  SRWLOCK lock = SRWLOCK_INIT;
  limit_ip_list list;
  bool loaded = false;
} g_limit;
}  // namespace

bool limit_ip_load() {
  AcquireSRWLockExclusive(&g_limit.lock);
  g_limit.loaded = false;
  FILE* f = std::fopen("./ipdata/iplist.dat", "rb");
  if (!f) {
    std::printf("inputfile\n");
    ReleaseSRWLockExclusive(&g_limit.lock);
    return false;
  }
  std::string text;
  char piece[0x4000];
  size_t n;
  while ((n = std::fread(piece, 1, sizeof piece, f)) > 0) text.append(piece, n);
  std::fclose(f);
  size_t count = g_limit.list.load(text);
  for (const ip_range& r : g_limit.list.ranges())
    std::printf("[from:%s] [to:%s]\n", Ipv4Text(htonl(r.first)).c_str(), Ipv4Text(htonl(r.last)).c_str());
  std::printf("total ip count [%d]\n", int(count));
  std::fflush(stdout);
  g_limit.loaded = true;
  ReleaseSRWLockExclusive(&g_limit.lock);
  return true;
}

bool limit_ip_check(const char* dotted) {
  AcquireSRWLockShared(&g_limit.lock);
  bool pass = true;
  uint32_t host = 0;
  if (g_limit.loaded) pass = dotted && parse_ipv4(dotted, &host) && g_limit.list.holds(host);
  ReleaseSRWLockShared(&g_limit.lock);
  return pass;
}

std::vector<ip_range> allow_list_load() {
  std::vector<std::string> lines;
  read_lines(join_path(app_dir(), L"ipallow.csv"), &lines);
  return parse_allow_list(lines);
}

}  // namespace p2p
