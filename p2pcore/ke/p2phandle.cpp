// A download task's handle: peers, links, blocks and the task's events.
#include "p2pcore/ke/p2phandle.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/check/orchard_assert.h"
#include "foundation/sync/locks.h"
#include "foundation/text/address_text.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/io/SimpleUdpServer.h"
#include "p2pcore/ke/options.h"
#include "p2pcore/ke/session.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/winutil.h"
#include "p2pcore/stat/StatAPI.h"
#include "p2pcore/wire/peer_udp.h"

namespace p2p {

namespace {

// The process-wide byte budget, limited by set_p2p_download_speed_max.
struct process_budget {
  CLock lock;
  byte_budget budget;
};
process_budget& downloads_budget() {
  static process_budget b;
  return b;
}

p2p_task_peer peer_of(const peer_connection& link) {
  p2p_task_peer p = {};
  p.user_id = link.user_id();
  p.ip = link.ip();
  p.port = link.port();
  p.nat_type = link.entry().nat_type;
  p.percent = link.percent();
  return p;
}

// A peer known only from a packet it sent.
peer_entry entry_from(uint64_t user_id, uint32_t ip, uint16_t port, uint8_t nat_type) {
  peer_entry e;
  e.user_id = user_id;
  e.ip = ip;
  e.port = port;
  e.nat_type = nat_type;
  return e;
}

}  // namespace

own_addresses download_context::own() const {
  own_addresses o;
  o.user_id = user_id;
  o.ip = public_ip;
  o.second_ip = lan_ip;
  return o;
}

bool download_send(const std::vector<uint8_t>& body, uint32_t ip, uint16_t port) {
  CSimpleUdpServer* udp = udp_server(0);
  return udp && !body.empty() && udp->send(body.data(), body.size(), ip, port, true);
}

p2phandle::p2phandle(const task_setup& setup) : setup_(setup) {
  block_count_ = uint32_t(std::min<uint64_t>(file_block_count(setup.file_size), 0xFFFFFFFFu));
}

p2phandle::~p2phandle() {
  {
    CLockGuard h(lock_);
    stopped_ = true;
    clear_links(GetTickCount());
  }
}

// ---- the export layer

void p2phandle::stop() {
  // Taken after any event or write in progress on the scheduler thread.
  CLockGuard h(lock_);
  stopped_ = true;
  state_ = kHandleStopped;
}

void p2phandle::ask_query() {
  CLockGuard h(lock_);
  query_asked_ = true;
}

void p2phandle::ask_remove(uint64_t user_id) {
  CLockGuard h(lock_);
  removals_asked_.push_back(user_id);
}

void p2phandle::set_speed_limit(uint32_t bytes_per_second) {
  CLockGuard h(budget_lock_);
  budget_.set_limit(bytes_per_second);
}

bool p2phandle::copy_info(p2p_handle_info* out) {
  if (!out || out->size != sizeof(p2p_handle_info)) return false;
  CLockGuard h(lock_);
  p2p_handle_info info = {};
  info.size = sizeof info;
  const uint32_t now = GetTickCount();
  failed_.expire(now);
  for (const auto& link : links_) {
    if (!link->connected()) continue;
    ++info.connected_links;
    ++(link->full_source() ? info.full_sources : info.partial_sources);
  }
  info.links = uint32_t(links_.size());
  info.failed_peers = uint32_t(failed_.size());
  info.known_peers = info.links + info.failed_peers;
  info.server_sources = server_sources_;
  info.state = state_;
  std::memcpy(out, &info, sizeof info);
  return true;
}

int p2phandle::copy_links(p2p_peer_row* rows, int max_rows) {
  if (!rows || max_rows <= 0) return 0;
  CLockGuard h(lock_);
  const uint32_t now = GetTickCount();
  int n = 0;
  for (const auto& link : links_) {
    if (n >= max_rows) break;
    p2p_peer_row row;
    fill_peer_row(link->view(now), row);
    std::memcpy(rows + n++, &row, sizeof row);
  }
  return n;
}

int p2phandle::copy_server_logs(p2p_server_log* rows, int max_rows) {
  if (!rows || max_rows <= 0) return 0;
  CLockGuard h(lock_);
  int n = 0;
  for (const p2p_server_log& log : server_logs_) {
    if (n >= max_rows) break;
    std::memcpy(rows + n++, &log, sizeof log);
  }
  return n;
}

int p2phandle::copy_status(char* out, int max_bytes) {
  if (!out || max_bytes <= 0) return 0;
  CLockGuard h(lock_);
  failed_.expire(GetTickCount());
  int connected = 0, connecting = 0, lan = 0;
  for (const auto& link : links_) {
    connected += link->connected() ? 1 : 0;
    connecting += link->state() == kLinkNew ? 1 : 0;
    lan += link->lan() ? 1 : 0;
  }
  static const std::string format =
      gbk("[%s]:服务器上总共有源:%d, 有效源:%d(连接上%d, 正在接连%d,同一局域网%d),失败的源: %d\r\n");
  char text[512];
  std::snprintf(text, sizeof text, format.c_str(), now_text().c_str(), int(server_sources_), int(links_.size()),
                connected, connecting, lan, int(failed_.size()));
  const int length = std::min<int>(int(std::strlen(text)), max_bytes - 1);
  std::memcpy(out, text, size_t(length));
  out[length] = 0;
  return length;
}

have_map_ranges p2phandle::own_have_map() {
  CLockGuard h(lock_);
  return own_map_;
}

// ---- the scheduler thread

void p2phandle::start() {
  CLockGuard h(lock_);
  started_ = true;
}

void p2phandle::set_have_map(const uint8_t* record, size_t n) {
  CLockGuard h(lock_);
  have_map_ranges m;
  if (!parse_finish_record(record, n, m)) {
    P2P_LOG(3, "p2p_set_finish: have-map refused (width or count out of range)");
    return;
  }
  own_map_ = std::move(m);
  for (const auto& link : links_)
    if (link->connected() && !link->full_source()) send_own_have_map(kPeerHaveMapAnswer, link->ip(), link->port());
}

void p2phandle::pass(const download_context& ctx, uint32_t now) {
  CLockGuard h(lock_);
  std::vector<uint64_t> removals;
  removals.swap(removals_asked_);
  for (uint64_t id : removals) remove(id, false, now);
  if (!started_ || stopped_) return;
  if (!fixed_peer_added_ && ctx.fixed_peer.user_id) {
    fixed_peer_added_ = true;
    adopt(ctx.fixed_peer, now);
  }
  const bool query_due = queries_ == 0 || query_asked_ || now - last_query_tick_ >= kRefreshMs ||
                         (state_ != kHandlePeersProcessed && now - last_query_tick_ >= kRetryQueryMs);
  if (query_due && !ctx.only_fixed_peer && ctx.sp_ip && ctx.user_id) query_peers(ctx, now);
  std::vector<uint64_t> quiet;
  for (const auto& link : links_)
    if (link->pass(ctx, now)) quiet.push_back(link->user_id());
  for (uint64_t id : quiet) {
    if (peer_connection* link = find(id)) failed_.add(link->entry(), now);
    remove(id, false, now);
  }
}

void p2phandle::query_peers(const download_context& ctx, uint32_t now) {
  peer_query q;
  q.user_id = ctx.user_id;
  q.public_ip = ctx.public_ip;
  q.nat_type = ctx.nat_type;
  std::memcpy(q.file_hash, setup_.file_hash, 16);
  q.query = uint8_t(queries_);
  q.node_flag = ctx.node_type;
  download_send(peer_query_body(q), ctx.sp_ip, ctx.sp_port);
  static const std::string format = gbk("查询共享 : sp[ %s:%u ] \r\n");
  P2P_LOG(9, format.c_str(), Ipv4Text(ctx.sp_ip).c_str(), unsigned(ctx.sp_port));
  ++queries_;
  last_query_tick_ = now;
  query_asked_ = false;
  p2p_server_log& log = server_log(ctx.sp_ip, ctx.sp_port);
  ++log.queries;
  log.last_query_tick = now;
}

p2p_server_log& p2phandle::server_log(uint32_t ip, uint16_t port) {
  for (p2p_server_log& log : server_logs_)
    if (log.ip == ip && log.port == port) return log;
  server_logs_.emplace_back();
  fill_server_log(kServerLogSuperNode, ip, port, server_logs_.back());
  return server_logs_.back();
}

void p2phandle::on_peer_list(const download_context& ctx, const PeerListHead& head, uint32_t now) {
  CLockGuard h(lock_);
  if (stopped_) return;
  const std::vector<peer_entry> entries = peer_list_entries(head);
  link_counts counts;
  for (const auto& link : links_) {
    ++counts.links;
    if (!link->full_source()) ++counts.partial_links;
  }
  const peer_list_plan plan = plan_peer_list(
      entries, ctx.own(), ctx.rules, counts, [this](uint64_t id) { return find(id) != nullptr; }, failed_, now);
  for (const peer_list_plan::step& s : plan.steps)
    if (s.outcome == entry_outcome::kNewLink)
      links_.push_back(std::make_unique<peer_connection>(*this, s.entry, s.lan, now));
  if (plan.partial_limit_reached) {
    // No link could be made: the list is done with at once.
    P2P_LOG(3, "%s", gbk("new peer_connection 内存分配失败! \r\n").c_str());
    return;
  }
  // Peers behind a NAT that would not let us in hear of us through the super
  // node; the others get our have-map at the same time, so that all start alike.
  for (size_t i : plan.call_me) send_call_me(ctx, plan.steps[i].entry);
  for (size_t i = links_.size() - plan.new_links; i < links_.size(); ++i) links_[i]->pass(ctx, now);
  server_sources_ = head.count;
  p2p_server_log& log = server_log(ctx.sp_ip, ctx.sp_port);
  ++log.lists;
  log.last_peers = head.count;
  state_ = kHandlePeersProcessed;
  p2p_task_peer_counts found = {uint32_t(plan.new_links), uint32_t(head.count)};
  event(P2P_TASK_PEERS_FOUND, nullptr, &found, sizeof found);
  int index = 0;
  for (const peer_entry& e : entries)
    P2P_LOG(2, " [%2d]: userid = %llu, nattype = %d, nodetype = %d, percent = %d,  ip = %s, port = %u\r\n", index++,
            (unsigned long long)e.user_id, int(e.nat_type), int(e.node_type), int(e.percent),
            Ipv4Text(e.ip).c_str(), unsigned(e.port));
  static const std::string summary =
      gbk("p2phandle::incoming_peersinfoV2:本次查询总计%d, 重复%d, 有效%d, 服务器上总计 %u%s");
  P2P_LOG(9, summary.c_str(), int(entries.size()), int(plan.duplicates), int(plan.new_links), unsigned(head.count),
          "");
}

bool p2phandle::on_command(const download_context& ctx, uint16_t command, const uint8_t* body, size_t n,
                           uint64_t sender, uint32_t ip, uint16_t port, uint32_t now) {
  CLockGuard h(lock_);
  if (stopped_) return true;
  switch (command) {
    case kPeerHandshakeAnswer: {
      handshake_answer a;
      if (!parse_handshake_answer(body, n, a)) return true;
      peer_connection* link = find(a.peer_id);
      if (!link) link = find(sender);
      if (!link) {
        P2P_LOG(1, "handshake of an unknown peer %llu from [%s:%u]", (unsigned long long)a.peer_id,
                Ipv4Text(ip).c_str(), unsigned(port));
        return true;
      }
      // A relayed answer carries the super node's address, not the peer's.
      if (!ctx.from_super_node(ip, port)) link->set_address(ip, port);
      link->on_handshake_reply(ctx, a, now);
      return true;
    }
    case kPeerSwapVersion:
    case kPeerSwapVersionAnswer:
      on_swap_version(ctx, command, body, n, sender, ip, port, now);
      return true;
    case kPeerHaveMap:
    case kPeerHaveMapAnswer:
      on_have_map(ctx, command, body, n, sender, ip, port, now);
      return true;
    case kUdpTaskCommand:
      on_relayed_request(ctx, body, n, now);
      return true;
    default:
      P2P_LOG(3, "unknown cmd : %d, from:[%s:%d]\r\n", int(command), Ipv4Text(ip).c_str(), int(port));
      return false;
  }
}

void p2phandle::on_swap_version(const download_context& ctx, uint16_t command, const uint8_t* body, size_t n,
                                uint64_t sender, uint32_t ip, uint16_t port, uint32_t now) {
  SwapVersion v;
  if (parse_swap_version(body, n, v) != PeerError::kNone) return;
  peer_connection* link = find(sender ? sender : v.user_id);
  if (!link) {
    P2P_LOG(9, "incoming swap ver, have handle but no peer %s", describe_peer(v.user_id, 0, ip, port).c_str());
    link = adopt(entry_from(sender ? sender : v.user_id, ip, port, 0), now);
    if (!link) return;
  }
  link->set_address(ip, port);
  if (command == kPeerSwapVersion) link->send_swap_version(ctx, kPeerSwapVersionAnswer, now);
}

void p2phandle::on_have_map(const download_context& ctx, uint16_t command, const uint8_t* body, size_t n,
                            uint64_t sender, uint32_t ip, uint16_t port, uint32_t now) {
  HaveMap m;
  const PeerError e = parse_have_map(body, n, m);
  if (e != PeerError::kNone) {
    P2P_LOG(3, "have-map cmd %u len %u from [%s:%u] dropped: %s", unsigned(command), unsigned(n),
            Ipv4Text(ip).c_str(), unsigned(port), peer_error_text(e));
    return;
  }
  peer_connection* link = find(sender);
  if (!link) link = adopt(entry_from(sender, ip, port, 0), now);
  if (!link) return;
  link->set_address(ip, port);
  if (!link->connected()) link->set_state(kLinkConnected, now);
  if (m.flag == 0) {
    link->set_percent(uint8_t(have_percent(have_map_bytes(m), setup_.file_size)));
    P2P_LOG(1, "swap percent = [%d]\n", int(link->percent()));
  }
  // The map as the task reads it: unit, width, count, entries.
  event(P2P_TASK_HAVE_MAP, link, const_cast<uint8_t*>(body + 26), uint32_t(n - 26));
  if (command == kPeerHaveMap) send_own_have_map(kPeerHaveMapAnswer, ip, port);
  if (link->listed_blocks().empty()) link->pick_blocks(ctx, now);
}

void p2phandle::on_relayed_request(const download_context& ctx, const uint8_t* body, size_t n, uint32_t now) {
  CallMe c;
  if (parse_call_me(body, n, c) != PeerError::kNone) {
    P2P_LOG(3, "task command 14 of %u bytes dropped", unsigned(n));
    return;
  }
  if (find(c.peer_id)) return;
  peer_entry e = entry_from(c.peer_id, c.peer_ip, c.peer_port, c.nat_type);
  peer_connection* link = adopt(e, now);
  if (link) link->pass(ctx, now);  // contacts it at once
}

peer_connection* p2phandle::adopt(const peer_entry& e, uint32_t now) {
  if (!e.user_id || !e.port || !e.ip || e.ip == 0xFFFFFFFFu) return nullptr;
  if (find(e.user_id)) return find(e.user_id);
  if (links_.size() > kMaxLinks || failed_.recent(e.user_id, now)) return nullptr;
  links_.push_back(std::make_unique<peer_connection>(*this, e, false, now));
  return links_.back().get();
}

peer_connection* p2phandle::find(uint64_t user_id) {
  if (!user_id) return nullptr;
  for (const auto& link : links_)
    if (link->user_id() == user_id) return link.get();
  return nullptr;
}

void p2phandle::remove(uint64_t user_id, bool bad, uint32_t now) {
  auto it = std::find_if(links_.begin(), links_.end(),
                         [user_id](const std::unique_ptr<peer_connection>& l) { return l->user_id() == user_id; });
  if (it == links_.end()) return;
  std::unique_ptr<peer_connection> link = std::move(*it);
  links_.erase(it);
  if (bad) {
    event(P2P_TASK_PEER_BAD, link.get(), nullptr, 0);
    failed_.add(link->entry(), now);
  }
  link->log_removal(now);
  event(P2P_TASK_PEER_REMOVED, link.get(), nullptr, 0);
}

void p2phandle::clear_links(uint32_t now) {
  std::vector<std::unique_ptr<peer_connection>> gone;
  gone.swap(links_);
  for (const auto& link : gone) {
    link->log_removal(now);
    event(P2P_TASK_PEER_REMOVED, link.get(), nullptr, 0);
  }
}

void p2phandle::on_block(const download_context& ctx, const BlockPacket& p, uint32_t ip, uint16_t port,
                         uint32_t now) {
  CLockGuard h(lock_);
  peer_connection* link = find(p.sender_id);
  if (!link) return;  // not ours to write: a removed or unknown peer
  link->set_address(ip, port);
  // Only a block asked of this peer, still awaited and of the length its place
  // in the file has, may be written.
  const bool right_length = p.length == file_block_length(setup_.file_size, p.block);
  if (!link->on_block(p.block, p.length, right_length, now) || stopped_ || !setup_.callbacks.write) return;
  bool sender_bad = false;
  if (p.length == kBlockBytes) {
    std::vector<uint64_t> bad;
    detector_.add_answer(p.block, p.sender_id, p.data, false, bad);
    bool removed = false;
    for (uint64_t id : bad) {
      if (!find(id)) continue;
      sender_bad = sender_bad || id == p.sender_id;
      remove(id, true, now);
      removed = true;
    }
    if (removed) detector_.log_groups();
    if (stopped_) return;
  }
  if (sender_bad) return;
  const uint64_t offset = uint64_t(p.block) * kBlockBytes;
  if (!setup_.callbacks.write(setup_.callbacks.user, setup_.task_id, offset, p.data, p.length, p.sender_id)) {
    static const std::string format = gbk("回写文件失败, 文件位置%I64d, 数据长度%u\r\n");
    P2P_LOG(3, format.c_str(), (long long)offset, unsigned(p.length));
  }
  if (!stopped_) link->after_block(ctx, now);
}

// ---- for the links

int p2phandle::event(int kind, const peer_connection* link, void* data, uint32_t size) {
  if (stopped_ || !setup_.callbacks.on_event) return 0;
  p2p_task_peer peer = {};
  if (link) peer = peer_of(*link);
  return setup_.callbacks.on_event(setup_.callbacks.user, setup_.task_id, kind, link ? &peer : nullptr, data, size);
}

uint32_t p2phandle::task_pick(const peer_connection& link, uint32_t* blocks, uint32_t max) {
  ORCHARD_ASSERT(lock_.HeldByThisThread());
  const int n = event(P2P_TASK_PICK_BLOCKS, &link, blocks, max);
  return n <= 0 ? 0 : std::min<uint32_t>(uint32_t(n), max);
}

bool p2phandle::budgets_allow(uint32_t floor, uint32_t now) {
  ORCHARD_ASSERT(lock_.HeldByThisThread());
  {
    CLockGuard h(budget_lock_);
    if (budget_.remaining(0, now) < floor) return false;
  }
  process_budget& all = downloads_budget();
  CLockGuard h(all.lock);
  all.budget.set_limit(uint32_t(options().download_limit));
  return all.budget.remaining(0, now) >= floor;
}

void p2phandle::charge(uint32_t bytes, uint32_t now) {
  ORCHARD_ASSERT(lock_.HeldByThisThread());
  {
    CLockGuard h(budget_lock_);
    budget_.add(bytes, now);
  }
  process_budget& all = downloads_budget();
  CLockGuard h(all.lock);
  all.budget.add(bytes, now);
}

void p2phandle::send_own_have_map(uint16_t command, uint32_t ip, uint16_t port) {
  ORCHARD_ASSERT(lock_.HeldByThisThread());
  if (size_t(own_map_.width) * own_map_.ranges.size() > kHaveMapEntryBytes) return;
  download_send(have_map_body(command, setup_.file_hash, own_map_.flag, own_map_.unit, own_map_.width, own_map_.ranges),
                ip, port);
}

void p2phandle::send_call_me(const download_context& ctx, const peer_entry& peer) {
  if (!ctx.sp_ip) return;
  CallMe c;
  c.peer_id = ctx.user_id;
  // Where the peer answers: our public address once the servers told it, else the LAN one.
  c.peer_ip = ctx.public_ip ? ctx.public_ip : ctx.lan_ip;
  c.peer_port = ctx.public_ip ? ctx.public_port : ctx.lan_port;
  c.nat_type = ctx.nat_type;
  c.peer_public_ip = ctx.public_ip;
  std::memcpy(c.file_hash, setup_.file_hash, 16);
  c.file_size = setup_.file_size;
  c.target_id = peer.user_id;
  c.target_ip = peer.call_ip;
  c.target_port = peer.call_port;
  download_send(call_me_body(kUdpCallMeRequest, c), ctx.sp_ip, ctx.sp_port);
}

void p2phandle::count_source(const peer_connection& link, bool first) {
  if (first) stat_add_download(link.lan() ? &download_counters::lan_sources : &download_counters::remote_sources, 1);
  if (!link.lan() && (link.entry().nat_type & 0x0F) != 1) stat_add_download(&download_counters::remote_nat_connects, 1);
}

void p2phandle::count_bytes(const peer_connection& link, uint32_t n) {
  meter_.add(n, GetTickCount());
  (link.lan() ? lan_bytes_ : remote_bytes_) += n;
  stat_add_download(link.lan() ? &download_counters::lan_bytes : &download_counters::remote_bytes, n);
  stat_add_download(&download_counters::header_bytes, kBlockPacketHead);
}

}  // namespace p2p
