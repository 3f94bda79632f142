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

/* Argument of create_p2p_task. Its 16 bytes at offset 4 once held four 32-bit
   words (callback, write routine, user word, task id); 64-bit pointers do not
   fit there, so they hold the address of a p2p_task_callbacks record that the
   library copies into the task when it is created (the caller may free it
   afterwards), and the task id. */
typedef struct p2p_task_info {
  uint32_t record_size; /* must be 48 */
  uint64_t callbacks;   /* address of a p2p_task_callbacks, or 0 for none */
  uint32_t task_id;
  uint32_t reserved16;
  uint8_t hash[16];
  uint8_t reserved36[4];
  uint64_t file_size;
} p2p_task_info;
SEEDLIFT_STATIC_ASSERT(sizeof(p2p_task_info) == 48 && offsetof(p2p_task_info, callbacks) == 4 &&
                           offsetof(p2p_task_info, task_id) == 12 && offsetof(p2p_task_info, hash) == 20 &&
                           offsetof(p2p_task_info, file_size) == 40,
                       "p2p_task_info layout");

/* A peer link of a download task, as its events name it. */
typedef struct p2p_task_peer {
  uint64_t user_id;
  uint32_t ip; /* first octet in the lowest byte */
  uint16_t port;
  uint8_t nat_type;
  uint8_t percent; /* of the file the peer holds; 100: all of it */
} p2p_task_peer;
SEEDLIFT_STATIC_ASSERT(sizeof(p2p_task_peer) == 16, "p2p_task_peer is 16 bytes");

/* Events of a download task, on the library's scheduler thread. */
enum {
  P2P_TASK_PICK_BLOCKS = 0,   /* data: uint32_t[size] block indexes to fill; return how many */
  P2P_TASK_PEERS_FOUND = 1,   /* data: p2p_task_peer_counts */
  P2P_TASK_HAVE_MAP = 2,      /* peer's have-map: u32 unit, u16 width, u16 count, entries */
  P2P_TASK_PEER_BAD = 3,      /* the peer sent data the others contradict; it is dropped */
  P2P_TASK_PEER_REMOVED = 4   /* the link is going; blocks asked of it will not come */
};
typedef struct p2p_task_peer_counts {
  uint32_t new_links;
  uint32_t server_sources;
} p2p_task_peer_counts;

typedef int (*p2p_task_event_fn)(void* user, uint32_t task_id, int event, const p2p_task_peer* peer, void* data,
                                 uint32_t size);
/* Writes one block at its offset; non-zero when written. */
typedef int (*p2p_task_write_fn)(void* user, uint32_t task_id, uint64_t offset, const void* data, uint32_t length,
                                 uint64_t peer_id);

/* A download task's counts (p2p_get_handle_info): filled only when `size` is 36. */
typedef struct p2p_handle_info {
  uint32_t size;            /* 36 */
  uint32_t known_peers;     /* links plus failed peers */
  uint32_t connected_links; /* full and partial sources talking to us */
  uint32_t full_sources;
  uint32_t partial_sources;
  uint32_t server_sources;  /* as the super node reported them */
  uint32_t failed_peers;
  uint32_t state;           /* 2 after a peer list was processed, 5 when stopped */
  uint32_t links;
} p2p_handle_info;
SEEDLIFT_STATIC_ASSERT(sizeof(p2p_handle_info) == 36, "p2p_handle_info is 36 bytes");

/* One link of a download task (get_p2phandle_peerinfo). */
typedef struct p2p_peer_row {
  uint64_t user_id;
  uint32_t ip;
  uint16_t port;
  uint8_t nat_type;
  uint8_t node_type;
  uint8_t percent;
  uint8_t state;    /* 1 new, 2 failed, 8 connected, 16 requesting */
  uint8_t lan;
  uint8_t window;
  uint32_t rto_ms;
  uint32_t rate;    /* bytes per second */
  uint32_t listed;  /* blocks asked and not yet received */
  uint32_t requests;
  uint32_t resends;
  uint32_t blocks;
  uint64_t bytes;
  uint32_t unknown_blocks;
  uint32_t seconds_connected;
  char nat_name[32];
  char address[22]; /* "a.b.c.d:port" */
  uint8_t reserved114[20];
} p2p_peer_row;
SEEDLIFT_STATIC_ASSERT(sizeof(p2p_peer_row) == 134 && offsetof(p2p_peer_row, rto_ms) == 20 &&
                           offsetof(p2p_peer_row, bytes) == 44 && offsetof(p2p_peer_row, nat_name) == 60,
                       "p2p_peer_row layout");

/* One server a download task talked to (get_p2phandle_serverlog). */
typedef struct p2p_server_log {
  uint32_t type;        /* 3: the super node */
  uint32_t value4;      /* 1000 */
  uint32_t ip;
  uint16_t port;
  uint16_t reserved14;
  uint32_t queries;     /* peer queries sent */
  uint32_t lists;       /* peer lists received */
  uint32_t last_peers;  /* peers named by the last list */
  uint32_t last_query_tick;
  uint8_t reserved32[32];
  uint16_t address[128]; /* UTF-16, zero-terminated */
  uint16_t name[32];     /* "P2PSP" */
  uint8_t reserved384[6080];
} p2p_server_log;
SEEDLIFT_STATIC_ASSERT(sizeof(p2p_server_log) == 6464 && offsetof(p2p_server_log, address) == 64 &&
                           offsetof(p2p_server_log, name) == 320,
                       "p2p_server_log layout");

#pragma pack(pop)

/* What create_p2p_task copies out of p2p_task_info.callbacks. */
typedef struct p2p_task_callbacks {
  p2p_task_event_fn on_event;
  p2p_task_write_fn write;
  void* user;
} p2p_task_callbacks;

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
SEEDLIFT_API int p2p_get_share_filelist(share_file_info* rows, uint32_t max_rows);
SEEDLIFT_API int p2p_find_share(const uint8_t* fid, uint64_t* out);
SEEDLIFT_API int p2p_get_share_file_by_md5(const uint8_t* fid, void* out);
SEEDLIFT_API int p2p_delete_share(const wchar_t* path);
SEEDLIFT_API int p2p_move_share(const wchar_t* from, const wchar_t* to);
SEEDLIFT_API int p2p_pause_share(const wchar_t* path, int flag);
SEEDLIFT_API int get_filesize(const wchar_t* path);

/* Peers, lists and statistics. */
SEEDLIFT_API int p2p_get_uplist(upload_user_info* rows, int max_rows);
SEEDLIFT_API int p2p_get_statinfo(p2p_stat_totals* totals, p2p_stat_info* info);
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

/* Download tasks (a download client's interface). A handle is valid from
   create_p2p_task until delete_p2p_task returns; after that return no event
   and no write of the task is made. */
SEEDLIFT_API int create_p2p_task(void** handle, const p2p_task_info* info);
SEEDLIFT_API int start_p2p_task(void* handle);
SEEDLIFT_API int delete_p2p_task(void* handle);
/* record1312: the task's have-map (u32 flag, u32 unit, u16 width, u16 count,
   width x count <= 1300 bytes of entries), sent to the peers that lack parts. */
SEEDLIFT_API int p2p_set_finish(void* handle, const void* record1312);
/* Bytes per second the task may ask for; 0 for no limit. */
SEEDLIFT_API int p2p_task_limit_speed(void* handle, int limit);
SEEDLIFT_API int p2p_task_get_uplist(void* handle, void* rows, int max_rows);
/* Asks the super node for peers at the scheduler's next pass. */
SEEDLIFT_API int search_peer(void* handle);
SEEDLIFT_API int delete_p2p_peer(void* handle, uint64_t user_id);
/* p2p_peer_row per link, up to max_rows; returns the rows written. */
SEEDLIFT_API int get_p2phandle_peerinfo(void* handle, void* rows, int max_rows);
/* p2p_server_log per server, up to max_rows; returns the rows written. */
SEEDLIFT_API int get_p2phandle_serverlog(void* handle, void* rows, int max_rows);
/* The task's status text (GBK, zero-terminated) into a buffer of max_rows
   bytes; returns its length. */
SEEDLIFT_API int get_p2phandle_serverlist(void* handle, void* rows, int max_rows);
/* Fills a p2p_handle_info whose size field is 36; 1 when filled. */
SEEDLIFT_API int p2p_get_handle_info(void* handle, void* info);

#ifdef __cplusplus
}
#endif
#endif
