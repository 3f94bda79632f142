// A small download client for the end-to-end tests: loads Seedlift.dll as a
// client of its download-task exports would, creates tasks with an event
// callback that hands out blocks and a write routine that writes them to a
// file, and answers one command per line of standard input:
//   app <dir>                 set_p2p_app_path (before init)
//   init <udp port>           p2p_initialize_network, p2p_initialize, set_p2p_node_type(5)
//   id                        "id <result> <user id>"
//   task <n> <fid hex> <size> <path>   create_p2p_task and start_p2p_task: "task <n> <result>"
//   delete <n>                delete_p2p_task: "deleted <n> <result> <writes before>"
//   search <n>                search_peer
//   finish <n>                p2p_set_finish with a have-map of what is written
//   drop <n> <user id>        delete_p2p_peer
//   peers <n>                 a line a link, "peer <n> <user id> <state> <percent> <blocks>
//                             <requests> <resends> <unknown> <NAT name>", then "peers <n> <count>"
//   info <n>                  "info <n> <result> <known> <connected> <full> <partial> <server>
//                             <failed> <state> <links>"
//   servers <n>               a line a server, "server <n> <type> <value> <port> <queries> <lists>
//                             <address> <name>", then "servers <n> <count>"
//   status <n>                "status <n> <length>"
//   writes <n>                "writes <n> <blocks written so far>"
//   uninit, quit
// Events arrive on the library's thread and are printed as they come:
//   "event <n> <kind> <user id>", "done <n> <blocks>" when every block is
//   written, "late <n> <offset>" for a write after delete_p2p_task returned.
#include <winsock2.h>
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "p2pcore/seedlift_api.h"
#include "tests/p2p/driver_text.h"

namespace {

std::mutex g_out;

void say(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
void say(const char* format, ...) {
  std::lock_guard<std::mutex> h(g_out);
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  fflush(stdout);
}

// One download: which blocks are written, which are asked of which peer and
// since when, and which peer wrote each block, so that the blocks of a peer
// found lying are fetched again.
struct download {
  uint32_t id = 0;
  void* handle = nullptr;
  HANDLE file = INVALID_HANDLE_VALUE;
  uint64_t size = 0;
  uint32_t blocks = 0;
  std::mutex lock;
  std::vector<uint8_t> written;
  std::vector<uint64_t> writer;   // peer that wrote a block
  std::vector<uint64_t> asked_of; // 0: not asked
  std::vector<DWORD> asked_at;
  std::map<uint64_t, std::vector<std::pair<uint64_t, uint64_t>>> maps;  // peer -> ranges of blocks
  uint32_t done = 0;
  uint32_t writes = 0;
  bool deleted = false;
  bool announced = false;
};

std::map<uint32_t, std::unique_ptr<download>> g_tasks;

bool peer_has(download& d, uint64_t peer, uint32_t block) {
  auto it = d.maps.find(peer);
  if (it == d.maps.end()) return true;  // no map yet: asked as a full source
  for (const auto& r : it->second)
    if (block >= r.first && block < r.second) return true;
  return false;
}

// Blocks asked of a peer that went away, or long ago, are handed out again.
constexpr DWORD kAskAgainMs = 4000;

int pick(download& d, uint64_t peer, uint32_t* out, uint32_t max) {
  const DWORD now = GetTickCount();
  uint32_t n = 0;
  for (uint32_t b = 0; b < d.blocks && n < max; ++b) {
    if (d.written[b]) continue;
    if (d.asked_of[b] && now - d.asked_at[b] < kAskAgainMs) continue;
    if (!peer_has(d, peer, b)) continue;
    d.asked_of[b] = peer;
    d.asked_at[b] = now;
    out[n++] = b;
  }
  return int(n);
}

void forget_peer(download& d, uint64_t peer, bool bad) {
  for (uint32_t b = 0; b < d.blocks; ++b) {
    if (d.asked_of[b] == peer) d.asked_of[b] = 0;
    // What a lying peer wrote is fetched again from the others.
    if (bad && d.written[b] && d.writer[b] == peer) {
      d.written[b] = 0;
      --d.done;
      d.announced = false;
    }
  }
  d.maps.erase(peer);
}

int on_event(void* user, uint32_t task_id, int kind, const p2p_task_peer* peer, void* data, uint32_t size) {
  download& d = *static_cast<download*>(user);
  std::lock_guard<std::mutex> h(d.lock);
  const uint64_t who = peer ? peer->user_id : 0;
  switch (kind) {
    case P2P_TASK_PICK_BLOCKS:
      return pick(d, who, static_cast<uint32_t*>(data), size);
    case P2P_TASK_PEERS_FOUND: {
      const p2p_task_peer_counts* c = static_cast<const p2p_task_peer_counts*>(data);
      say("event %u %d 0 %u %u\n", task_id, kind, c ? c->new_links : 0, c ? c->server_sources : 0);
      return 0;
    }
    case P2P_TASK_HAVE_MAP: {
      const uint8_t* m = static_cast<const uint8_t*>(data);
      if (size < 8) return 0;
      uint32_t unit;
      uint16_t width, count;
      memcpy(&unit, m, 4);
      memcpy(&width, m + 4, 2);
      memcpy(&count, m + 6, 2);
      if (unit == 0 || (width != 2 && width != 4 && width != 8 && width != 16) || 8 + size_t(width) * count > size)
        return 0;
      std::vector<std::pair<uint64_t, uint64_t>> ranges;
      const size_t half = width / 2;
      for (uint16_t i = 0; i < count; ++i) {
        uint64_t s = 0, e = 0;
        memcpy(&s, m + 8 + size_t(i) * width, half);
        memcpy(&e, m + 8 + size_t(i) * width + half, half);
        // Units to blocks: a block is held when its bytes lie in the range.
        const uint64_t end_bytes = e * uint64_t(unit);
        ranges.push_back({(s * uint64_t(unit) + 1023) / 1024, end_bytes >= d.size ? d.blocks : end_bytes / 1024});
      }
      d.maps[who] = ranges;
      say("event %u %d %llu %u\n", task_id, kind, (unsigned long long)who, unsigned(peer ? peer->percent : 0));
      return 0;
    }
    case P2P_TASK_PEER_BAD:
    case P2P_TASK_PEER_REMOVED:
      forget_peer(d, who, kind == P2P_TASK_PEER_BAD);
      say("event %u %d %llu\n", task_id, kind, (unsigned long long)who);
      return 0;
    default:
      return 0;
  }
}

int on_write(void* user, uint32_t task_id, uint64_t offset, const void* data, uint32_t length, uint64_t peer) {
  download& d = *static_cast<download*>(user);
  std::lock_guard<std::mutex> h(d.lock);
  if (d.deleted) {
    say("late %u %llu\n", task_id, (unsigned long long)offset);
    return 0;
  }
  const uint64_t block = offset / 1024;
  if (offset % 1024 || block >= d.blocks) return 0;
  LARGE_INTEGER at;
  at.QuadPart = LONGLONG(offset);
  DWORD wrote = 0;
  if (!SetFilePointerEx(d.file, at, nullptr, FILE_BEGIN) || !WriteFile(d.file, data, length, &wrote, nullptr) ||
      wrote != length)
    return 0;
  ++d.writes;
  if (!d.written[block]) {
    d.written[block] = 1;
    ++d.done;
  }
  d.writer[block] = peer;
  if (d.done == d.blocks && !d.announced) {
    d.announced = true;
    FlushFileBuffers(d.file);
    say("done %u %u\n", task_id, d.blocks);
  }
  return 1;
}

p2p_task_callbacks g_callbacks = {&on_event, &on_write, nullptr};

download* task_of(const std::string& rest) {
  auto it = g_tasks.find(uint32_t(strtoul(rest.c_str(), nullptr, 10)));
  return it == g_tasks.end() ? nullptr : it->second.get();
}

void create_task(const std::string& rest) {
  char fid_hex[64] = {}, path[1024] = {};
  unsigned id = 0;
  unsigned long long size = 0;
  if (sscanf(rest.c_str(), "%u %63s %llu %1023[^\n]", &id, fid_hex, &size, path) != 4) {
    say("task error\n");
    return;
  }
  auto d = std::make_unique<download>();
  d->id = id;
  d->size = size;
  d->blocks = uint32_t((size + 1023) / 1024);
  d->written.assign(d->blocks, 0);
  d->writer.assign(d->blocks, 0);
  d->asked_of.assign(d->blocks, 0);
  d->asked_at.assign(d->blocks, 0);
  d->file = CreateFileW(widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  p2p_task_info info = {};
  info.record_size = sizeof info;
  // The library copies the callbacks at creation; the user word is per task.
  p2p_task_callbacks callbacks = g_callbacks;
  callbacks.user = d.get();
  info.callbacks = uint64_t(uintptr_t(&callbacks));
  info.task_id = id;
  info.file_size = size;
  if (d->file == INVALID_HANDLE_VALUE || !parse_fid(fid_hex, info.hash)) {
    say("task %u error\n", id);
    return;
  }
  int created = create_p2p_task(&d->handle, &info);
  int started = created ? start_p2p_task(d->handle) : 0;
  g_tasks[id] = std::move(d);
  say("task %u %d %d\n", id, created, started);
}

void delete_task(download& d) {
  const int r = delete_p2p_task(d.handle);
  uint32_t writes;
  {
    std::lock_guard<std::mutex> h(d.lock);
    d.deleted = true;
    writes = d.writes;
  }
  say("deleted %u %d %u\n", d.id, r, writes);
}

void finish(download& d) {
  // The written blocks as ranges of 1024-byte units, width 8.
  uint8_t record[1312] = {};
  std::vector<std::pair<uint32_t, uint32_t>> ranges;
  {
    std::lock_guard<std::mutex> h(d.lock);
    for (uint32_t b = 0; b < d.blocks; ++b) {
      if (!d.written[b]) continue;
      if (!ranges.empty() && ranges.back().second == b) ++ranges.back().second;
      else ranges.push_back({b, b + 1});
    }
  }
  if (ranges.size() > 162) ranges.resize(162);
  const uint32_t unit = 1024;
  const uint16_t width = 8, count = uint16_t(ranges.size());
  memcpy(record + 4, &unit, 4);
  memcpy(record + 8, &width, 2);
  memcpy(record + 10, &count, 2);
  for (size_t i = 0; i < ranges.size(); ++i) {
    memcpy(record + 12 + i * 8, &ranges[i].first, 4);
    memcpy(record + 16 + i * 8, &ranges[i].second, 4);
  }
  say("finish %u %d\n", d.id, p2p_set_finish(d.handle, record));
}

void list_peers(download& d) {
  p2p_peer_row rows[64];
  const int n = get_p2phandle_peerinfo(d.handle, rows, 64);
  for (int i = 0; i < n; ++i) {
    const p2p_peer_row& r = rows[i];
    say("peer %u %llu %d %d %u %u %u %u %s\n", d.id, (unsigned long long)r.user_id, int(r.state), int(r.percent),
        unsigned(r.blocks), unsigned(r.requests), unsigned(r.resends), unsigned(r.unknown_blocks), r.nat_name);
  }
  say("peers %u %d\n", d.id, n);
}

void list_servers(download& d) {
  static p2p_server_log rows[4];
  const int n = get_p2phandle_serverlog(d.handle, rows, 4);
  for (int i = 0; i < n; ++i) {
    const p2p_server_log& r = rows[i];
    char address[129] = {}, name[33] = {};
    for (int k = 0; k < 128 && r.address[k]; ++k) address[k] = char(r.address[k]);
    for (int k = 0; k < 32 && r.name[k]; ++k) name[k] = char(r.name[k]);
    say("server %u %u %u %u %u %u %s %s\n", d.id, unsigned(r.type), unsigned(r.value4), unsigned(r.port),
        unsigned(r.queries), unsigned(r.lists), address, name);
  }
  say("servers %u %d\n", d.id, n);
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  char line[4096];
  while (fgets(line, sizeof line, stdin)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const std::string word = text.substr(0, text.find(' '));
    const std::string rest = text.size() > word.size() ? text.substr(word.size() + 1) : "";
    download* d = nullptr;
    if (word == "app") {
      set_p2p_app_path(widen(rest).c_str());
      say("ok app\n");
    } else if (word == "init") {
      const int net = p2p_initialize_network(static_cast<uint16_t>(atoi(rest.c_str())));
      const int init = p2p_initialize();
      set_p2p_node_type(5);
      say("ok init %d %d\n", net, init);
    } else if (word == "id") {
      uint64_t machine = 0, user = 0;
      int nat_class = 0, nat_detail = 0, public_port = 0, lan_port = 0;
      uint32_t public_ip = 0, lan_ip = 0;
      const int r = get_p2p_id(&machine, &user, &nat_class, &nat_detail, &public_ip, &public_port, &lan_ip, &lan_port);
      say("id %d %llu\n", r, static_cast<unsigned long long>(user));
    } else if (word == "task") {
      create_task(rest);
    } else if (word == "uninit") {
      p2p_uninitialize();
      say("ok uninit\n");
    } else if (word == "quit") {
      say("ok quit\n");
      return 0;
    } else if (!(d = task_of(rest))) {
      say("unknown %s\n", text.c_str());
    } else if (word == "delete") {
      delete_task(*d);
    } else if (word == "search") {
      say("search %u %d\n", d->id, search_peer(d->handle));
    } else if (word == "finish") {
      finish(*d);
    } else if (word == "drop") {
      const char* space = strchr(rest.c_str(), ' ');
      say("drop %u %d\n", d->id, delete_p2p_peer(d->handle, space ? strtoull(space + 1, nullptr, 10) : 0));
    } else if (word == "peers") {
      list_peers(*d);
    } else if (word == "info") {
      p2p_handle_info info = {};
      info.size = sizeof info;
      const int r = p2p_get_handle_info(d->handle, &info);
      say("info %u %d %u %u %u %u %u %u %u %u\n", d->id, r, info.known_peers, info.connected_links, info.full_sources,
          info.partial_sources, info.server_sources, info.failed_peers, info.state, info.links);
    } else if (word == "servers") {
      list_servers(*d);
    } else if (word == "writes") {
      std::lock_guard<std::mutex> h(d->lock);
      say("writes %u %u\n", d->id, d->writes);
    } else if (word == "status") {
      char status[512];
      say("status %u %d\n", d->id, get_p2phandle_serverlist(d->handle, status, sizeof status));
    } else {
      say("unknown %s\n", text.c_str());
    }
  }
  return 0;
}
