// The records a download task crosses the library's boundary with: the task
// record of create_p2p_task, and the count, link and server-log records the
// export layer copies out. Platform-free.
#pragma once
#include <cstdint>
#include <string>

#include "p2pcore/seedlift_api.h"

namespace p2p {

enum class task_record_error {
  kNone,
  kNull,       // no record
  kSize,       // record size other than 48
  kEmptyHash,  // an all-zero file hash
};

// What a task is made from. The callbacks' 64-bit values are copied out of the
// caller's p2p_task_callbacks at creation and kept in the task.
struct task_setup {
  uint32_t task_id = 0;
  uint8_t file_hash[16] = {};
  uint64_t file_size = 0;
  p2p_task_callbacks callbacks = {};
};
task_record_error parse_task_record(const p2p_task_info* info, task_setup& out);

// A link as the export records show it.
struct link_view {
  uint64_t user_id = 0;
  uint32_t ip = 0;
  uint16_t port = 0;
  uint8_t nat_type = 0;
  uint8_t node_type = 0;
  uint8_t percent = 0;
  uint8_t state = 0;
  bool lan = false;
  uint32_t window = 0;
  uint32_t rto_ms = 0;
  uint32_t rate = 0;
  uint32_t listed = 0;
  uint32_t requests = 0;
  uint32_t resends = 0;
  uint32_t blocks = 0;
  uint64_t bytes = 0;
  uint32_t unknown_blocks = 0;
  uint32_t seconds_connected = 0;
};
void fill_peer_row(const link_view& link, p2p_peer_row& row);

// The super node's record: type 3, 1000, its address and port, "P2PSP".
inline constexpr uint32_t kServerLogSuperNode = 3;
void fill_server_log(uint32_t type, uint32_t ip, uint16_t port, p2p_server_log& row);

// The resend ratio of a link's removal line: resends x 100 / requests, 0
// before any request, saturating.
uint32_t resend_percent(uint32_t resends, uint32_t requests);

}  // namespace p2p
