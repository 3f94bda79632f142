// Upload users (p2p_upload_user_manager): one entry per peer and file being
// served, keyed "%s|%I64d" (file hash in hex, user id), with the choke list of
// peers refused for wasting the cache. The table itself is platform-free; this
// wrapper adds the lock, the clock, the log and the UDP choke notice.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "foundation/sync/locks.h"
#include "p2pcore/codec/upload_users.h"
#include "p2pcore/seedlift_api.h"

namespace p2p {

class p2p_upload_user_manager {
 public:
  p2p_upload_user_manager();
  // Share resources start: UserCacheHitedPer and UploadUserMax; every user dropped.
  void start(uint32_t choke_threshold, uint32_t max_users);
  void clear();

  // From a peer's announcement (call-me, checksum): kUserAdded (also when
  // present), kUserChoked, kUserNoRoom.
  int add_p2p_upload_user(const upload_user_info& record);
  // False: serve; true: refuse. A choked UDP peer is sent the choke notice.
  bool check_upload_request(const uint8_t fid[16], uint64_t user_id, int wrapped, uint8_t request_type,
                            uint32_t nat_word);
  void report_transfer(const uint8_t fid[16], uint64_t user_id, uint32_t requested, uint32_t disk_bytes, int shared);
  uint32_t next_packet_sequence(const uint8_t fid[16], uint64_t user_id);
  bool set_peer_version(const uint8_t fid[16], uint64_t user_id, const uint8_t info[40]);
  int copy_uplist(upload_user_info* rows, int max_rows, uint32_t now);
  bool find(const uint8_t fid[16], uint64_t user_id, upload_user_info* out);
  // Takes a record as it stands, times included.
  void put_user(const upload_user_info& info);
  size_t size();

 private:
  class log_events;
  CLock lock_;
  log_events* events_;
  upload_user_table table_;
};

p2p_upload_user_manager* get_upload_user_manager();

}  // namespace p2p
