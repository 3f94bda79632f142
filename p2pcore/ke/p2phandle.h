// A download task's handle (p2phandle): it asks the super node for peers
// that hold the file, keeps one peer_connection to each useful peer,
// exchanges have-maps, passes arriving blocks through the bad-data detector
// to the task's write routine, and tells the task through its event
// callback. Its work runs on the scheduler thread under its link lock; the
// export functions take the same lock to copy what it knows.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/sync/locks.h"
#include "p2pcore/codec/byte_budget.h"
#include "p2pcore/codec/download_peers.h"
#include "p2pcore/codec/download_records.h"
#include "p2pcore/codec/rate_meter.h"
#include "p2pcore/ke/ShitDetect.h"
#include "p2pcore/ke/peer_connection.h"
#include "p2pcore/seedlift_api.h"
#include "p2pcore/wire/peer_fetch.h"

namespace p2p {

struct BlockPacket;

// What the session tells its download handles at each pass.
struct download_context {
  uint64_t user_id = 0;
  uint8_t nat_type = 0;
  uint8_t node_type = 0;
  uint32_t public_ip = 0;  // first octet in the lowest byte
  uint16_t public_port = 0;
  uint32_t lan_ip = 0;
  uint16_t lan_port = 0;
  uint32_t sp_ip = 0;
  uint16_t sp_port = 0;
  peer_list_rules rules;
  // The fixed peer of the settings' AppendPeer section (user id 0: none).
  peer_entry fixed_peer;
  bool only_fixed_peer = false;
  own_addresses own() const;
  bool from_super_node(uint32_t ip, uint16_t port) const { return sp_ip && ip == sp_ip && port == sp_port; }
};

// Sends a command body (u16 code first) to a peer or the super node, in the outer layer.
bool download_send(const std::vector<uint8_t>& body, uint32_t ip, uint16_t port);

class p2phandle {
 public:
  static constexpr uint32_t kRefreshMs = 600000;
  static constexpr uint32_t kRetryQueryMs = 30000;
  enum : uint32_t { kHandlePeersProcessed = 2, kHandleStopped = 5 };

  explicit p2phandle(const task_setup& setup);
  ~p2phandle();
  p2phandle(const p2phandle&) = delete;
  p2phandle& operator=(const p2phandle&) = delete;

  // ---- any thread (the export layer)
  // No event and no write of the task happens once this returns.
  void stop();
  void ask_query();                   // search_peer
  void ask_remove(uint64_t user_id);  // delete_p2p_peer
  void set_speed_limit(uint32_t bytes_per_second);
  bool copy_info(p2p_handle_info* out);
  int copy_links(p2p_peer_row* rows, int max_rows);
  int copy_server_logs(p2p_server_log* rows, int max_rows);
  int copy_status(char* out, int max_bytes);
  // The have-map the task gave last (our own map until then: nothing).
  have_map_ranges own_have_map();

  // ---- the scheduler thread
  void start();
  // The task's have-map (the 1312-byte finish record): kept and sent to the
  // links whose peer lacks parts.
  void set_have_map(const uint8_t* record, size_t n);
  void pass(const download_context& ctx, uint32_t now);
  void on_peer_list(const download_context& ctx, const PeerListHead& head, uint32_t now);
  // 14, 15, 48, 49, 52, 53 carrying this handle's file hash; false for another command.
  bool on_command(const download_context& ctx, uint16_t command, const uint8_t* body, size_t n, uint64_t sender,
                  uint32_t ip, uint16_t port, uint32_t now);
  void on_block(const download_context& ctx, const BlockPacket& p, uint32_t ip, uint16_t port, uint32_t now);
  // Deletes every link (logged; the task hears of each unless stopped).
  void clear_links(uint32_t now);

  // ---- for its links (scheduler thread, lock_ held: the ones that use it assert so)
  const uint8_t* file_hash() const { return setup_.file_hash; }
  uint64_t file_size() const { return setup_.file_size; }
  uint32_t block_count() const { return block_count_; }
  bool stopped() const { return stopped_; }
  bool has_task_callback() const { return setup_.callbacks.on_event != nullptr; }
  uint32_t task_pick(const peer_connection& link, uint32_t* blocks, uint32_t max);
  // Both budgets (this handle's and the process's) have `floor` bytes left.
  bool budgets_allow(uint32_t floor, uint32_t now);
  void charge(uint32_t bytes, uint32_t now);
  uint32_t receive_rate(uint32_t now) const { return meter_.rate(now); }
  uint32_t test_block_for(uint64_t peer) const { return detector_.block_for_peer(peer); }
  void send_own_have_map(uint16_t command, uint32_t ip, uint16_t port);
  // A link turning connected (first: for the first time).
  void count_source(const peer_connection& link, bool first);
  void count_bytes(const peer_connection& link, uint32_t n);

 private:
  peer_connection* find(uint64_t user_id);
  // A link made outside a peer list (a have-map, swap version or relayed
  // request of an unknown peer): null when the peer may not have one.
  peer_connection* adopt(const peer_entry& e, uint32_t now);
  void remove(uint64_t user_id, bool bad, uint32_t now);
  int event(int kind, const peer_connection* link, void* data, uint32_t size);
  void query_peers(const download_context& ctx, uint32_t now);
  p2p_server_log& server_log(uint32_t ip, uint16_t port);
  void on_have_map(const download_context& ctx, uint16_t command, const uint8_t* body, size_t n, uint64_t sender,
                   uint32_t ip, uint16_t port, uint32_t now);
  void on_swap_version(const download_context& ctx, uint16_t command, const uint8_t* body, size_t n,
                       uint64_t sender, uint32_t ip, uint16_t port, uint32_t now);
  void on_relayed_request(const download_context& ctx, const uint8_t* body, size_t n, uint32_t now);
  // A call-me request (8) to the super node for one peer of a list.
  void send_call_me(const download_context& ctx, const peer_entry& peer);

  CLock lock_;         // the links, the stopped flag and what the exports copy
  CLock budget_lock_;  // the byte budget
  task_setup setup_;
  uint32_t block_count_ = 0;
  byte_budget budget_;
  bool stopped_ = false;
  bool started_ = false;
  uint32_t state_ = 0;
  uint32_t queries_ = 0;
  uint32_t server_sources_ = 0;
  uint32_t last_query_tick_ = 0;
  bool query_asked_ = false;
  bool fixed_peer_added_ = false;
  std::vector<uint64_t> removals_asked_;
  std::vector<std::unique_ptr<peer_connection>> links_;
  failed_peers failed_;
  ShitDetect detector_;
  have_map_ranges own_map_;
  std::vector<p2p_server_log> server_logs_;
  rate_meter meter_{3};
  uint64_t lan_bytes_ = 0;
  uint64_t remote_bytes_ = 0;
};

}  // namespace p2p
