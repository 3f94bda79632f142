// Upload users: the lock, clock and log around the table, and the choke notice.
#include "p2pcore/ke/uploaduser.h"

#include <ctime>

#include "foundation/sync/locks.h"
#include "foundation/text/address_text.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/ke/ShareResources_new.h"
#include "p2pcore/ke/peer_commands.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/wire/peer_udp.h"

namespace p2p {

namespace {

uint32_t now_seconds() { return uint32_t(std::time(nullptr)); }

// The upload rows of the statistics dump: a peer announced is a try, its first transfer an ok.
transfer_stats::side& stats_side(transfer_stats::row& row, uint32_t ip) {
  const uint8_t* octets = reinterpret_cast<const uint8_t*>(&ip);
  return AddressClass(octets) == 2 ? row.pub : row.lan;
}

}  // namespace

class p2p_upload_user_manager::log_events : public upload_user_events {
 public:
  void added(const upload_user_info& u) override {
    P2P_LOG(9, "p2p_upload_user_manager::add_p2p_upload_user, [file:%s], [userid=%llu]", u.path,
            (unsigned long long)u.user_id);
    transfer_stats& s = get_shareres_manager()->upload_stats;
    ++stats_side(s.session, u.ip).tries;
    ++stats_side(s.history, u.ip).tries;
  }
  void refused_choked(const upload_user_info&) override {
    P2P_LOG(9, "p2p_upload_user_manager::add_p2p_upload_user add_user but in choke");
  }
  void refused_full(const upload_user_info& u, size_t users) override {
    P2P_LOG(9, "p2p_upload_user_manager::add_p2p_upload_user too many users [%d], [userid=%llu]", int(users),
            (unsigned long long)u.user_id);
  }
  void expired(const upload_user_info& u, int usage) override {
    P2P_LOG(9,
            "p2p_upload_user_manager::check_time_out,[file:%s],[userid:%lld],[begintime:%u],[firsttransfer:%u],"
            "[lasttransfer:%u],[usertime:%u],[totalupload:%lld],[speed:%u],[readtimes:%u],[cacheusage:%d]",
            u.path, (long long)u.user_id, unsigned(u.created), unsigned(u.first_transfer), unsigned(u.last_transfer),
            unsigned(u.last_transfer - u.first_transfer), (long long)u.uploaded, unsigned(u.rate),
            unsigned(u.block_reads), usage);
  }
  void choked(const std::string& key, int usage) override {
    P2P_LOG(9, "choke_user_manager::add_user,chokeed user,[key:%s],[cacheusage:%d]", key.c_str(), usage);
  }
  void unchoked(const std::string& key, uint32_t at) override {
    P2P_LOG(9, "choke_user_manager::check(),unlimit user,[key:%s][chokeedtime:%d]", key.c_str(), int(at));
  }
  void transferred(const upload_user_info& u) override {
    P2P_LOG(1, "p2p_upload_user_manager::update_p2p_upload_user, [file:%s], [userid=%llu]", u.path,
            (unsigned long long)u.user_id);
    transfer_stats& s = get_shareres_manager()->upload_stats;
    if (u.block_reads == 1) {
      ++stats_side(s.session, u.ip).ok;
      ++stats_side(s.history, u.ip).ok;
    }
  }
};

p2p_upload_user_manager::p2p_upload_user_manager() : events_(new log_events), table_(events_) {}

p2p_upload_user_manager* get_upload_user_manager() {
  static p2p_upload_user_manager* m = new p2p_upload_user_manager;
  return m;
}

void p2p_upload_user_manager::start(uint32_t choke_threshold, uint32_t max_users) {
  CLockGuard h(lock_);
  table_.clear();
  table_.start(choke_threshold, max_users);
}

void p2p_upload_user_manager::clear() {
  CLockGuard h(lock_);
  table_.clear();
}

int p2p_upload_user_manager::add_p2p_upload_user(const upload_user_info& record) {
  CLockGuard h(lock_);
  return table_.add(record, now_seconds());
}

bool p2p_upload_user_manager::check_upload_request(const uint8_t fid[16], uint64_t user_id, int wrapped,
                                                   uint8_t request_type, uint32_t nat_word) {
  choke_notice notice;
  bool refuse;
  {
    CLockGuard h(lock_);
    refuse = table_.check_request(fid, user_id, wrapped, request_type, nat_word, now_seconds(), &notice);
  }
  if (notice.send) {
    const std::vector<uint8_t> body = choke_notice_body(fid);
    peer_udp_send(body.data(), body.size(), notice.ip, notice.port, notice.wrapped);
  }
  return refuse;
}

void p2p_upload_user_manager::report_transfer(const uint8_t fid[16], uint64_t user_id, uint32_t requested,
                                              uint32_t disk_bytes, int shared) {
  CLockGuard h(lock_);
  table_.report_transfer(fid, user_id, requested, disk_bytes, shared, now_seconds(), GetTickCount());
}

uint32_t p2p_upload_user_manager::next_packet_sequence(const uint8_t fid[16], uint64_t user_id) {
  CLockGuard h(lock_);
  return table_.next_sequence(fid, user_id);
}

bool p2p_upload_user_manager::set_peer_version(const uint8_t fid[16], uint64_t user_id, const uint8_t info[40]) {
  CLockGuard h(lock_);
  return table_.set_version(fid, user_id, info);
}

int p2p_upload_user_manager::copy_uplist(upload_user_info* rows, int max_rows, uint32_t now) {
  CLockGuard h(lock_);
  return table_.copy_list(rows, max_rows, now, GetTickCount());
}

bool p2p_upload_user_manager::find(const uint8_t fid[16], uint64_t user_id, upload_user_info* out) {
  CLockGuard h(lock_);
  return table_.find(fid, user_id, out);
}

void p2p_upload_user_manager::put_user(const upload_user_info& info) {
  CLockGuard h(lock_);
  table_.put(info);
}

size_t p2p_upload_user_manager::size() {
  CLockGuard h(lock_);
  return table_.size();
}

}  // namespace p2p
