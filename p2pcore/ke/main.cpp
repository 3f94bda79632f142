// Seedlift.dll entry points: the library's load and its 61 exported
// functions. Each export forwards to a singleton of the library; results go
// into caller-owned memory only.
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <ctime>

#include "foundation/sync/locks.h"
#include "p2pcore/codec/download_records.h"
#include "p2pcore/codec/settings_values.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/io/SimpleUdpServer.h"
#include "p2pcore/ke/ShareResources_new.h"
#include "p2pcore/ke/options.h"
#include "p2pcore/ke/p2phandle.h"
#include "p2pcore/ke/serving_hooks.h"
#include "p2pcore/ke/session.h"
#include "p2pcore/ke/setting.h"
#include "p2pcore/ke/uploaduser.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/winutil.h"
#include "p2pcore/seedlift_api.h"
#include "p2pcore/stat/StatAPI.h"

using namespace p2p;

namespace {

// Start, stop, the session and the UDP servers are changed only under this
// lock, so no export meets a session or socket object that a stop is freeing.
CLock g_library_lock;

std::atomic<long> g_ref_count{0};

int add_share(const wchar_t* path, uint64_t size, const uint8_t* fid, int extra) {
  if (!options().allow_add_share) return P2P_SHARE_ADD_OFF;
  if (!path || !fid || size == 0) return P2P_SHARE_BAD_ARGUMENT;
  std::string ansi;
  // A name without an exact ANSI form would reach another file: refused.
  if (!to_ansi_exact(path, &ansi)) return P2P_SHARE_UNREADABLE;
  return get_shareres_manager()->add_share(ansi.c_str(), size, fid, 0, extra);
}

// The library lock for the task exports. A task's callbacks run on the
// scheduler thread under the task's lock and may call these exports: there
// the library lock is not taken (the session cannot end while its thread
// runs), so that a thread holding it while it waits for the task's lock, or
// for the scheduler thread, never waits on a callback that waits on it.
class task_export_lock {
 public:
  task_export_lock() {
    CP2pSession* session = existing_session();
    locked_ = !(session && session->on_scheduler_thread());
    if (locked_) g_library_lock.Enter();
  }
  ~task_export_lock() {
    if (locked_) g_library_lock.Leave();
  }
  task_export_lock(const task_export_lock&) = delete;
  task_export_lock& operator=(const task_export_lock&) = delete;

 private:
  bool locked_;
};

// Runs fn on a live task handle of the running session; false for any other.
template <typename F>
bool with_task(void* handle, F fn) {
  task_export_lock h;
  CP2pSession* session = existing_session();
  return session && session->tasks().with_handle(handle, fn);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    set_library_module(instance);
    DisableThreadLibraryCalls(instance);
    wchar_t path[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
    wchar_t* slash = wcsrchr(path, L'\\');
    if (n > 0 && slash && slash - path > 1) {
      slash[1] = 0;
      options_set_app_dir(path);
    }
  }
  return TRUE;
}

extern "C" {

int p2p_initialize_network(uint16_t udp_port) {
  if (udp_port == 0) return 0;
  CLockGuard h(g_library_lock);
  CP2pSession* session = get_session();
  session->restart_from_dns();
  P2P_LOG(4, "network init...");
  // The scheduler thread owns the socket: while it runs, it does the rebind.
  if (!session->rebind_udp(udp_port)) {
    P2P_LOG(4, "network init failed");
    return 0;
  }
  session->set_lan_port(udp_port);
  P2P_LOG(4, "network init sucess");
  return 1;
}

int p2p_initialize(void) {
  CLockGuard h(g_library_lock);
  if (++g_ref_count != 1) return 1;
  settings_read(&settings());
  stat_start();
  const int configured = settings().serv_port;
  if (configured != 0) options().server_udp_port = uint16_t(configured);
  options().server_tcp_port = kDefaultServerPort;
  P2P_LOG(4, "P2P init...");
  install_serving_hooks();
  get_session()->start();
  P2P_LOG(4, "P2P init ok\r\n");
  return 1;
}

void p2p_uninitialize(void) {
  CLockGuard h(g_library_lock);
  // Never below 0: a stray stop leaves the library able to start again.
  long count = g_ref_count.load();
  for (;;) {
    if (count <= 0) return;
    if (g_ref_count.compare_exchange_weak(count, count - 1)) break;
  }
  if (count - 1 != 0) return;
  CP2pSession* session = existing_session();
  const bool ran = session && session->running();
  if (session) session->stop();
  for (int i = 0; i < 2; ++i) {
    delete udp_server(i);
    udp_server(i) = nullptr;
  }
  delete_session();
  if (ran) P2P_LOG(4, "p2p_uninitialize ok.\r\n");
  stat_stop();
  log_close();
}

int set_p2p_node_type(int node_type) {
  options().node_type = uint8_t(node_type);
  return node_type & 0xFF;
}

int p2p_add_share(const wchar_t* path, uint64_t size, const uint8_t* fid) { return add_share(path, size, fid, 0); }

int p2p_add_share_ex(const wchar_t* path, uint64_t size, const uint8_t* fid, int extra) {
  return add_share(path, size, fid, extra);
}

void p2p_delete_share_byfid(const uint8_t* fid, int, int flag) {
  if (!fid) return;
  get_shareres_manager()->delete_share_byfid(fid, flag);
}

int p2p_pause_share_byfid(const uint8_t* fid, int, int flag) {
  if (!fid) return 0;
  return get_shareres_manager()->pause_share_byfid(fid, flag) ? 1 : 0;
}

int p2p_get_share_count(void) { return get_shareres_manager()->share_count(); }

int p2p_get_share_filelist(share_file_info* rows, uint32_t max_rows) {
  return get_shareres_manager()->copy_share_filelist(rows, max_rows);
}

int p2p_get_uplist(upload_user_info* rows, int max_rows) {
  return get_upload_user_manager()->copy_uplist(rows, max_rows, uint32_t(time(nullptr)));
}

int p2p_get_statinfo(p2p_stat_totals* totals, p2p_stat_info* info) {
  stat_copy_info(totals, info);
  return 1;
}

int get_p2p_id(uint64_t* machine_id, uint64_t* user_id, int* nat_class, int* nat_detail, uint32_t* public_ip,
               int* public_port, uint32_t* lan_ip, int* lan_port) {
  CLockGuard h(g_library_lock);
  return get_session()->get_id(machine_id, user_id, nat_class, nat_detail, public_ip, public_port, lan_ip, lan_port)
             ? 1
             : 0;
}

void set_p2p_upload_speed_max(int kb_per_second) {
  get_shareres_manager()->set_upload_speed_limit(uint64_t(int64_t(kb_per_second) << 10));
}

int set_p2p_debug_level(int level) {
  options().log_level = level;
  log_set_threshold(log_threshold_for(level));
  return level;
}

void p2p_pause_upload(int flag) { get_shareres_manager()->pause_upload = flag; }

void set_p2p_temp_mode(void) {
  options().temp_mode = 1;
  P2P_LOG(4, "p2p temp mode.\r\n");
}

void set_p2p_local_share(void) { options().local_share = 1; }

void set_p2p_no_submit_share(void) {
  options().no_submit_share = 1;
  P2P_LOG(4, "no submit share mode.\r\n");
}

void set_p2p_downloader_mode(void) { options().downloader_mode = 1; }
void set_p2p_uploader_mode(void) { options().uploader_mode = 1; }

void set_p2p_upload_speed_control(int mode) {
  if (mode < 0 || mode > 2) mode = 0;
  options().speed_control_mode = mode;
  static const char* const names[] = {"upload mode : auto\r\n", "upload mode : min\r\n", "upload mode : max\r\n"};
  P2P_LOG(4, "%s", names[mode]);
}

void set_p2p_upload_english_ver(void) { options().english_ver = 1; }

void set_p2p_download_speed_max(int limit) {
  options().download_limit = limit > 0 ? limit : 0;
}

void set_p2p_app_path(const wchar_t* path) { options_set_app_dir(path); }
void set_p2p_ini_filename(const wchar_t* name) { options_set_ini_name(name); }

int set_p2p_allow_add_share(int allow) {
  options().allow_add_share = allow;
  return allow;
}

int set_auto_reload_sharelist(int value) {
  options().auto_reload_share_list = value;
  return value;
}

void set_share_files_limit(uint32_t limit) { get_shareres_manager()->set_files_limit(limit); }

void set_p2p_product(int id, int value) {
  options().product_id = id;
  options().product_value = value;
}

void set_p2p_server_host(const char* host, uint16_t port) {
  if (host) options_set_server_host(host);
  if (port != 0) options().server_udp_port = port;
}

int set_p2p_debug_flag(int flag) {
  if (flag == 2) {
    options().upload_cache = !options().upload_cache;
    P2P_LOG(4, "upload use cache %d\r\n", int(options().upload_cache));
  }
  return 0;
}

int set_p2p_debug_supernode(const char* dotted_ip, int port) {
  if (!dotted_ip) return 0;
  uint32_t host = 0;
  if (!parse_ipv4(dotted_ip, &host)) return 0;
  options().forced_sp_ip = htonl(host);
  options().forced_sp_port = port;
  return 1;
}

void p2p_reload_option(void) {}
void set_upload_cache_info(void) {}
int get_upload_cache_info(void) { return 0; }

void get_p2p_version(uint32_t* version, uint32_t* build) {
  static const uint8_t packed[4] = {1, 0, 3, 36};
  if (version) std::memcpy(version, packed, 4);
  if (build) {
    uint16_t v[4];
    *build = module_version(v) ? v[3] : 0;
  }
}

struct hostent* my_gethostbyname(const char* name) {
  if (!name) return nullptr;
  return gethostbyname(name);
}

int p2p_get_netinfo(void* last_second104, void* totals104, void* udp_commands1024, void* tcp_commands1024,
                    void* reads72) {
  stat_copy_netinfo(last_second104, totals104, udp_commands1024, tcp_commands1024, reads72);
  return 1;
}

int p2p_get_nat_stat(uint8_t* nat_type, int* total, int* count) {
  CLockGuard h(g_library_lock);
  const identity_block id = get_session()->identity();
  if (nat_type) *nat_type = id.nat_type;
  int probes = 0;
  stat_nat_counters(&probes, count);
  if (total) *total = probes;
  return probes;
}

int p2p_find_share(const uint8_t*, uint64_t* out) {
  if (out) *out = 0;
  return 0;
}
int p2p_get_share_file_by_md5(const uint8_t*, void*) { return 0; }
int p2p_delete_share(const wchar_t*) { return 0; }
int p2p_move_share(const wchar_t*, const wchar_t*) { return 0; }
int p2p_pause_share(const wchar_t*, int) { return 0; }
int p2p_task_get_uplist(void*, void*, int) { return 0; }
int reload_ip_list(void) { return 0; }
int upload_task_limit_usercount(int) { return 0; }
int get_filesize(const wchar_t*) { return 0; }
int decode_data(void*, int) { return 1; }

int create_p2p_task(void** handle, const p2p_task_info* info) {
  task_setup setup;
  const task_record_error e = handle ? parse_task_record(info, setup) : task_record_error::kNull;
  if (e != task_record_error::kNone) {
    P2P_LOG(3, "p2pTask Add failed: %s",
            e == task_record_error::kEmptyHash ? "empty file hash" : "bad argument");
    return 0;
  }
  p2phandle* task = new (std::nothrow) p2phandle(setup);
  if (!task) {
    P2P_LOG(3, "p2pTask Add failed: out of memory");
    return 0;
  }
  task_export_lock h;
  get_session()->tasks().add(task);
  *handle = task;
  P2P_LOG(9, "p2pTask Add ok, filesize: %llu\r\n", (unsigned long long)setup.file_size);
  return 1;
}

int start_p2p_task(void* handle) {
  task_export_lock h;
  CP2pSession* session = existing_session();
  if (!session || !session->tasks().with_handle(handle, [](p2phandle&) {})) return 0;
  return session->tasks().queue(kRequestStartTask, nullptr, handle) ? 1 : 0;
}

int delete_p2p_task(void* handle) {
  HANDLE done = nullptr;
  {
    task_export_lock h;
    CP2pSession* session = existing_session();
    // Stopped here, on the caller's thread: once this returns the task is
    // neither written to nor called, whatever state the session is in.
    if (!session || !session->tasks().with_handle(handle, [](p2phandle& t) { t.stop(); })) return 0;
    // The scheduler thread cannot wait for itself (a callback deleting its task).
    if (session->state() == Session_State_SCHEDULER && !session->on_scheduler_thread())
      done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!session->tasks().queue(kRequestDeleteTask, done, handle) && done) {
      CloseHandle(done);
      done = nullptr;
    }
  }
  if (done) {
    WaitForSingleObject(done, INFINITE);
    CloseHandle(done);
  }
  return 1;
}

int p2p_set_finish(void* handle, const void* record1312) {
  if (!handle || !record1312) return 0;
  uint8_t* copy = new (std::nothrow) uint8_t[kFinishRecordSize];
  if (!copy) return 0;
  std::memcpy(copy, record1312, kFinishRecordSize);
  task_export_lock h;
  CP2pSession* session = existing_session();
  if (!session || !session->tasks().with_handle(handle, [](p2phandle&) {}) ||
      !session->tasks().queue(kRequestFinish, copy, handle)) {
    delete[] copy;
    return 0;
  }
  return 1;
}

int p2p_task_limit_speed(void* handle, int limit) {
  return with_task(handle, [limit](p2phandle& t) { t.set_speed_limit(limit > 0 ? uint32_t(limit) : 0); }) ? 1 : 0;
}

int search_peer(void* handle) { return with_task(handle, [](p2phandle& t) { t.ask_query(); }) ? 1 : 0; }

int delete_p2p_peer(void* handle, uint64_t user_id) {
  return with_task(handle, [user_id](p2phandle& t) { t.ask_remove(user_id); }) ? 1 : 0;
}

int get_p2phandle_peerinfo(void* handle, void* rows, int max_rows) {
  int n = 0;
  with_task(handle, [&](p2phandle& t) { n = t.copy_links(static_cast<p2p_peer_row*>(rows), max_rows); });
  return n;
}

int get_p2phandle_serverlog(void* handle, void* rows, int max_rows) {
  int n = 0;
  with_task(handle, [&](p2phandle& t) { n = t.copy_server_logs(static_cast<p2p_server_log*>(rows), max_rows); });
  return n;
}

int get_p2phandle_serverlist(void* handle, void* rows, int max_rows) {
  int n = 0;
  with_task(handle, [&](p2phandle& t) { n = t.copy_status(static_cast<char*>(rows), max_rows); });
  return n;
}

int p2p_get_handle_info(void* handle, void* info) {
  bool filled = false;
  with_task(handle, [&](p2phandle& t) { filled = t.copy_info(static_cast<p2p_handle_info*>(info)); });
  return filled ? 1 : 0;
}

}  // extern "C"
