/* Seedlift.dll, the P2P upload core: its exported functions and the records
   they fill in caller-owned memory. Plain C; every record is byte-packed. */
#ifndef SEEDLIFT_API_H
#define SEEDLIFT_API_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#define SEEDLIFT_STATIC_ASSERT static_assert
#else
#define SEEDLIFT_STATIC_ASSERT _Static_assert
#endif

#if defined(_WIN32) && !defined(SEEDLIFT_BUILDING)
#define SEEDLIFT_API __declspec(dllimport)
#else
#define SEEDLIFT_API
#endif

/* Results of p2p_add_share and p2p_add_share_ex. */
enum {
  P2P_SHARE_ADDED = 0,
  P2P_SHARE_PRESENT = 1,
  P2P_SHARE_BAD_ARGUMENT = 2,
  P2P_SHARE_ADD_OFF = 3,
  P2P_SHARE_UNREADABLE = 4
};

#pragma pack(push, 1)

/* One row of p2p_get_share_filelist. */
typedef struct share_file_info {
  uint8_t fid[16];
  char path[255]; /* ANSI, zero-terminated */
  uint8_t zero1;
  uint64_t size;
  uint32_t handshakes;   /* peer announcements answered */
  uint32_t requests;     /* block and verify requests served */
  uint64_t uploaded;     /* bytes served since shared */
  uint32_t rate;         /* bytes per second at the copy */
  uint32_t zero2;
} share_file_info;
SEEDLIFT_STATIC_ASSERT(sizeof(share_file_info) == 304, "share_file_info is 304 bytes");
SEEDLIFT_STATIC_ASSERT(offsetof(share_file_info, size) == 272 && offsetof(share_file_info, handshakes) == 280 &&
                           offsetof(share_file_info, uploaded) == 288 && offsetof(share_file_info, rate) == 296,
                       "share_file_info layout");

/* One row of p2p_get_uplist. */
typedef struct upload_user_info {
  uint32_t zero0;
  uint64_t user_id;
  uint32_t ip;          /* first octet in the lowest byte */
  uint16_t port;
  uint8_t nat_type;     /* high nibble class, low nibble detail */
  uint8_t pad19;
  uint32_t version_ip;
  uint32_t version_value;
  char version_text[32];
  uint8_t fid[16];
  char path[260];       /* ANSI, zero-terminated */
  uint64_t uploaded;
  uint32_t rate;
  uint8_t reserved348[20];
  uint32_t last_transfer;   /* seconds since 1970 */
  uint32_t created;
  uint32_t first_transfer;  /* 0 until the first transfer */
  uint8_t transport_type;
  uint8_t reserved381[25];
  uint32_t block_reads;
  uint32_t cache_reads;
  uint32_t disk_bytes;
  uint32_t requested_bytes;
  uint8_t reserved422[2];
  int32_t value424;
  uint8_t reserved428[28];
} upload_user_info;
SEEDLIFT_STATIC_ASSERT(sizeof(upload_user_info) == 456, "upload_user_info is 456 bytes");
SEEDLIFT_STATIC_ASSERT(offsetof(upload_user_info, user_id) == 4 && offsetof(upload_user_info, ip) == 12 &&
                           offsetof(upload_user_info, port) == 16 && offsetof(upload_user_info, nat_type) == 18 &&
                           offsetof(upload_user_info, version_ip) == 20 && offsetof(upload_user_info, fid) == 60 &&
                           offsetof(upload_user_info, path) == 76 && offsetof(upload_user_info, uploaded) == 336 &&
                           offsetof(upload_user_info, rate) == 344 && offsetof(upload_user_info, last_transfer) == 368 &&
                           offsetof(upload_user_info, created) == 372 &&
                           offsetof(upload_user_info, first_transfer) == 376 &&
                           offsetof(upload_user_info, transport_type) == 380 &&
                           offsetof(upload_user_info, block_reads) == 406 &&
                           offsetof(upload_user_info, requested_bytes) == 418 &&
                           offsetof(upload_user_info, value424) == 424,
                       "upload_user_info layout");

/* First block of p2p_get_statinfo. */
typedef struct p2p_stat_totals {
  uint64_t uploaded_total;
  uint32_t tcp_send_second;
  uint32_t uploaded_last_second;
  uint32_t requests_last_second;
  uint32_t unchanged;
} p2p_stat_totals;
SEEDLIFT_STATIC_ASSERT(sizeof(p2p_stat_totals) == 24, "p2p_stat_totals is 24 bytes");

/* Second block of p2p_get_statinfo. */
typedef struct p2p_stat_info {
  uint32_t reads_last_second;
  uint32_t read_ms_last_second;
  uint64_t cache_hits;
  uint64_t cache_misses;
  uint64_t cache_bytes;
  uint64_t disk_bytes;
  uint32_t disk_bytes_last_second;
  int32_t hit_percent;
  int32_t cache_use_percent;
  uint32_t zero;
} p2p_stat_info;
SEEDLIFT_STATIC_ASSERT(sizeof(p2p_stat_info) == 56, "p2p_stat_info is 56 bytes");
SEEDLIFT_STATIC_ASSERT(offsetof(p2p_stat_info, cache_hits) == 8 && offsetof(p2p_stat_info, disk_bytes) == 32 &&
                           offsetof(p2p_stat_info, disk_bytes_last_second) == 40 &&
                           offsetof(p2p_stat_info, hit_percent) == 44 && offsetof(p2p_stat_info, cache_use_percent) == 48,
                       "p2p_stat_info layout");

/* Argument of create_p2p_task. */
typedef struct p2p_task_info {
  uint32_t record_size; /* must be 48 */
  uint8_t reserved4[16];
  uint8_t hash[16];
  uint8_t reserved36[4];
  uint64_t file_size;
} p2p_task_info;
SEEDLIFT_STATIC_ASSERT(sizeof(p2p_task_info) == 48 && offsetof(p2p_task_info, hash) == 20 &&
                           offsetof(p2p_task_info, file_size) == 40,
                       "p2p_task_info layout");

#pragma pack(pop)

struct hostent;

/* Start and stop (ordinals 1 and 2), nested by a reference count. */
SEEDLIFT_API int p2p_initialize(void);
SEEDLIFT_API void p2p_uninitialize(void);
SEEDLIFT_API int p2p_initialize_network(uint16_t udp_port);

/* Options. */
SEEDLIFT_API int set_p2p_node_type(int node_type);
SEEDLIFT_API void set_p2p_upload_speed_max(int kb_per_second);
SEEDLIFT_API int set_p2p_debug_level(int level);
SEEDLIFT_API void p2p_pause_upload(int flag);
SEEDLIFT_API void set_p2p_temp_mode(void);
SEEDLIFT_API void set_p2p_local_share(void);
SEEDLIFT_API void set_p2p_no_submit_share(void);
SEEDLIFT_API void set_p2p_downloader_mode(void);
SEEDLIFT_API void set_p2p_uploader_mode(void);
SEEDLIFT_API void set_p2p_upload_speed_control(int mode);
SEEDLIFT_API void set_p2p_upload_english_ver(void);
SEEDLIFT_API void set_p2p_download_speed_max(int limit);
SEEDLIFT_API void set_p2p_app_path(const wchar_t* path);
SEEDLIFT_API void set_p2p_ini_filename(const wchar_t* name);
SEEDLIFT_API int set_p2p_allow_add_share(int allow);
SEEDLIFT_API int set_auto_reload_sharelist(int value);
SEEDLIFT_API void set_share_files_limit(uint32_t limit);
SEEDLIFT_API void set_p2p_product(int id, int value);
SEEDLIFT_API void set_p2p_server_host(const char* host, uint16_t port);
SEEDLIFT_API int set_p2p_debug_flag(int flag);
SEEDLIFT_API int set_p2p_debug_supernode(const char* dotted_ip, int port);
SEEDLIFT_API void p2p_reload_option(void);
SEEDLIFT_API void set_upload_cache_info(void);
SEEDLIFT_API int get_upload_cache_info(void);

/* Shares. path is UTF-16; fid is 16 bytes. */
SEEDLIFT_API int p2p_add_share(const wchar_t* path, uint64_t size, const uint8_t* fid);
SEEDLIFT_API int p2p_add_share_ex(const wchar_t* path, uint64_t size, const uint8_t* fid, int extra);
SEEDLIFT_API void p2p_delete_share_byfid(const uint8_t* fid, int length, int flag);
SEEDLIFT_API int p2p_pause_share_byfid(const uint8_t* fid, int length, int flag);
SEEDLIFT_API int p2p_get_share_count(void);
SEEDLIFT_API int p2p_get_share_filelist(void* rows, uint32_t max_rows);
SEEDLIFT_API int p2p_find_share(const uint8_t* fid, uint64_t* out);
SEEDLIFT_API int p2p_get_share_file_by_md5(const uint8_t* fid, void* out);
SEEDLIFT_API int p2p_delete_share(const wchar_t* path);
SEEDLIFT_API int p2p_move_share(const wchar_t* from, const wchar_t* to);
SEEDLIFT_API int p2p_pause_share(const wchar_t* path, int flag);
SEEDLIFT_API int get_filesize(const wchar_t* path);

/* Peers, lists and statistics. */
SEEDLIFT_API int p2p_get_uplist(void* rows, int max_rows);
SEEDLIFT_API int p2p_get_statinfo(void* totals24, void* info56);
SEEDLIFT_API int get_p2p_id(uint64_t* machine_id, uint64_t* user_id, int* nat_class, int* nat_detail,
                            uint32_t* public_ip, int* public_port, uint32_t* lan_ip, int* lan_port);
SEEDLIFT_API void get_p2p_version(uint32_t* version, uint32_t* build);
SEEDLIFT_API struct hostent* my_gethostbyname(const char* name);
SEEDLIFT_API int p2p_get_netinfo(void* last_second104, void* totals104, void* udp_commands1024,
                                 void* tcp_commands1024, void* reads72);
SEEDLIFT_API int p2p_get_nat_stat(uint8_t* nat_type, int* total, int* count);
SEEDLIFT_API int reload_ip_list(void);
SEEDLIFT_API int upload_task_limit_usercount(int count);
SEEDLIFT_API int decode_data(void* data, int length);

/* Download tasks (a download client's interface). */
SEEDLIFT_API int create_p2p_task(void** handle, const p2p_task_info* info);
SEEDLIFT_API int start_p2p_task(void* handle);
SEEDLIFT_API int delete_p2p_task(void* handle);
SEEDLIFT_API int p2p_set_finish(void* handle, const void* record1312);
SEEDLIFT_API int p2p_task_limit_speed(void* handle, int limit);
SEEDLIFT_API int p2p_task_get_uplist(void* handle, void* rows, int max_rows);
SEEDLIFT_API int search_peer(void* handle);
SEEDLIFT_API int delete_p2p_peer(void* handle, uint64_t user_id);
SEEDLIFT_API int get_p2phandle_peerinfo(void* handle, void* rows, int max_rows);
SEEDLIFT_API int get_p2phandle_serverlog(void* handle, void* rows, int max_rows);
SEEDLIFT_API int get_p2phandle_serverlist(void* handle, void* rows, int max_rows);
SEEDLIFT_API int p2p_get_handle_info(void* handle, void* info);

#ifdef __cplusplus
}
#endif
#endif
