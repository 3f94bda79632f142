// A small host program for the session tests: drives Seedlift.dll through its
// exports as OrchardSvc does, one command per line on standard input, one
// answer per line on standard output.
//   app <dir>            set_p2p_app_path (before init)
//   init <udp port>      p2p_initialize_network, p2p_initialize, set_p2p_node_type(5)
//   start                p2p_initialize and set_p2p_node_type(5) without a UDP port
//   net <udp port>       p2p_initialize_network (again)
//   id                   get_p2p_id: "id <result> <user id> <public ip> <public port> <lan port> <nat class>"
//   share <fid hex> <path>  p2p_add_share with the file's size
//   limit <KB/s>         set_p2p_upload_speed_max
//   stat                 "stat cpu_s=<user + kernel seconds> peak_mib=<peak working set>" of this process
//   uninit               p2p_uninitialize
//   quit
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "p2pcore/seedlift_api.h"
#include "tests/p2p/driver_text.h"

int main() {
  setvbuf(stdout, nullptr, _IONBF, 0);
  char line[2048];
  while (fgets(line, sizeof line, stdin)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::string word = text.substr(0, text.find(' '));
    std::string rest = text.size() > word.size() ? text.substr(word.size() + 1) : "";
    if (word == "app") {
      set_p2p_app_path(widen(rest).c_str());
      printf("ok app\n");
    } else if (word == "init") {
      int port = atoi(rest.c_str());
      int net = p2p_initialize_network(static_cast<uint16_t>(port));
      int init = p2p_initialize();
      set_p2p_node_type(5);
      printf("ok init %d %d\n", net, init);
    } else if (word == "start") {
      int init = p2p_initialize();
      set_p2p_node_type(5);
      printf("ok start %d\n", init);
    } else if (word == "net") {
      printf("ok net %d\n", p2p_initialize_network(static_cast<uint16_t>(atoi(rest.c_str()))));
    } else if (word == "id") {
      uint64_t machine = 0, user = 0;
      int nat_class = 0, nat_detail = 0, public_port = 0, lan_port = 0;
      uint32_t public_ip = 0, lan_ip = 0;
      int r = get_p2p_id(&machine, &user, &nat_class, &nat_detail, &public_ip, &public_port, &lan_ip, &lan_port);
      const uint8_t* b = reinterpret_cast<const uint8_t*>(&public_ip);
      printf("id %d %llu %u.%u.%u.%u %d %d %d\n", r, static_cast<unsigned long long>(user), b[0], b[1], b[2], b[3],
             public_port, lan_port, nat_class);
    } else if (word == "share") {
      std::string fid_hex = rest.substr(0, rest.find(' '));
      std::string path = rest.size() > 33 ? rest.substr(33) : "";
      uint8_t fid[16];
      WIN32_FILE_ATTRIBUTE_DATA attributes = {};
      std::wstring wpath = widen(path);
      if (!parse_fid(fid_hex, fid) || !GetFileAttributesExW(wpath.c_str(), GetFileExInfoStandard, &attributes)) {
        printf("share error\n");
        continue;
      }
      uint64_t size = (static_cast<uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
      printf("share %d\n", p2p_add_share(wpath.c_str(), size, fid));
    } else if (word == "limit") {
      set_p2p_upload_speed_max(atoi(rest.c_str()));
      printf("ok limit\n");
    } else if (word == "stat") {
      FILETIME created, ended, kernel, user;
      GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
      auto seconds = [](const FILETIME& t) {
        return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
      };
      PROCESS_MEMORY_COUNTERS memory = {};
      memory.cb = sizeof memory;
      GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
      printf("stat cpu_s=%.3f peak_mib=%.1f\n", seconds(kernel) + seconds(user),
             double(memory.PeakWorkingSetSize) / 1048576.0);
    } else if (word == "uninit") {
      p2p_uninitialize();
      printf("ok uninit\n");
    } else if (word == "quit") {
      printf("ok quit\n");
      return 0;
    } else {
      printf("unknown %s\n", word.c_str());
    }
  }
  return 0;
}
