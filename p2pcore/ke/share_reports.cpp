// The share reports: batches of shared files to the SP server (UDP command 28)
// or the upload server (TCP command 10), their answers and their resends.
#include "p2pcore/ke/ShareResources_new.h"

#include <algorithm>
#include <ctime>
#include <vector>

#include "foundation/sync/locks.h"
#include "p2pcore/codec/share_report.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/winutil.h"

namespace p2p {

void shareres_manager::collect_batch(bool was_waiting, size_t max_items, std::vector<share_item*>& taken) {
  const uint32_t now = uint32_t(std::time(nullptr));
  for (auto& [key, item] : shares_) {
    share_hash_manager* b = bucket_for(item->head.fid);
    b->lock();
    if (item->file && now - item->head.last_access > 7200) close_share_file(item);
    b->unlock();
    if (taken.size() >= max_items) continue;  // the handle pass covers every share
    const bool take = was_waiting ? item->report_state == kReportSent : item->report_state == kReportNew;
    if (!take) continue;
    item->report_state = kReportSent;
    item->report_serial = serial_;
    item->report_tick = GetTickCount();
    taken.push_back(item);
  }
}

void shareres_manager::send_shareres_to_sp(share_report_link& link) {
  CLockGuard h(ordered_lock());
  if (!waiting_ && !report_pending_) return;
  const bool was_waiting = waiting_ != 0;
  if (!was_waiting) ++serial_;
  std::vector<share_item*> taken;
  collect_batch(was_waiting, kSpBatchMax, taken);
  std::vector<const uint8_t*> fids;
  for (share_item* item : taken) {
    P2P_LOG(9,
            "shareres_manager::send_shareres_to_sp, addshare item: hash=[%s],filename=[%s],filesize=[%lld],"
            "serialid=[%d],sharecount=[%d]",
            hash_hex(item->head.fid).c_str(), item->head.path, (long long)item->head.size, int(serial_),
            int(shares_.size()));
    fids.push_back(item->head.fid);
  }
  presend_ += uint32_t(taken.size());
  if (taken.empty()) {
    if (was_waiting) waiting_ = 0;
    else report_pending_ = 0;
    // No batch went out: its SerialID is still free, so the first batch carries 1.
    if (!was_waiting) --serial_;
    return;
  }
  link.send_to_sp(sp_share_batch(link.node_type(), link.node_id(), serial_, fids));
  P2P_LOG(9, "shareres_manager::send_shareres_to_sp: send_share %d items, SerialID %u, retrans %d", int(taken.size()),
          serial_, int(was_waiting));
  waiting_ = 1;
}

void shareres_manager::server_accept_share(const uint8_t* body, size_t n, share_report_link& link) {
  uint32_t serial = 0;
  if (!accept_serial(body, n, &serial)) return;
  {
    CLockGuard h(ordered_lock());
    for (auto& [key, item] : shares_)
      if (item->report_serial == serial) item->report_state = kReportAcked;
    waiting_ = 0;
    report_pending_ = 1;
    P2P_LOG(9, "server_accept_share : SerialID %u", serial);
  }
  send_shareres_to_sp(link);
}

int shareres_manager::send_shareres_to_up(bool periodic, share_report_link& link) {
  CLockGuard h(ordered_lock());
  const uint32_t was_waiting = waiting_;
  if (!report_pending_ || (was_waiting && !periodic)) return int(was_waiting);
  if (!was_waiting) ++serial_;
  P2P_LOG(9, "********** the del que is %d **********\n", int(delete_queue_.size()));
  P2P_LOG(9, "********** the add que is %d **********\n", int(shares_.size()));
  std::vector<share_item*> taken;
  collect_batch(was_waiting != 0, std::min<size_t>(batch_max_, kUpBatchMax), taken);
  std::vector<const uint8_t*> fids;
  for (share_item* item : taken) {
    P2P_LOG(9,
            "TCP::ServerManager send_shareres_to_up, addshare item: hash=[%s],filename=[%s],filesize=[%lld],"
            "serialid=[%d],sharecount=[%d]",
            hash_hex(item->head.fid).c_str(), item->head.path, (long long)item->head.size, int(serial_),
            int(shares_.size()));
    fids.push_back(item->head.fid);
  }
  if (taken.empty()) {
    P2P_LOG(9, "TCP::ServerManager send_shareres_to_up: no file to share\n");
    waiting_ = 0;
    report_pending_ = 0;
    if (!was_waiting) --serial_;
    return int(was_waiting);
  }
  P2P_LOG(9, "TCP::ServerManager to send addfile number=[%d]", int(taken.size()));
  link.stamp_up_tick();
  delete_batch_ = 0;
  last_up_batch_ = uint32_t(taken.size());
  if (link.send_to_up(up_share_batch(1, fids))) {
    P2P_LOG(9, "TCP::ServerManager send_shareres_to_up: send_share type add %d items, SerialID %u, totaladd %u, retrans %d",
            int(taken.size()), serial_, last_up_batch_, int(was_waiting));
    waiting_ = 1;
  } else if (!was_waiting) {
    // A new batch that could not be sent goes back to "not reported", so the
    // next pass reports its items again rather than never.
    for (share_item* item : taken) item->report_state = kReportNew;
  }
  return int(was_waiting);
}

void shareres_manager::server_accept_share_up(share_report_link& link) {
  link.stamp_up_tick();
  {
    CLockGuard h(ordered_lock());
    for (auto& [key, item] : shares_)
      if (item->report_serial == serial_) item->report_state = kReportAcked;
    P2P_LOG(9, "server_accept_share : type add SerialID %u and totaladd %u", serial_, last_up_batch_);
    waiting_ = 0;
  }
  P2P_LOG(9, "<<<<<Send Share to up!>>>>>\n");
  send_shareres_to_up(false, link);
}

void shareres_manager::reset_shareres_stat() {
  CLockGuard h(ordered_lock());
  for (auto& [key, item] : shares_) item->report_state = kReportNew;
  report_pending_ = 1;
  delete_queue_.clear();
  waiting_ = 0;
  delete_batch_ = 0;
  if (presend_ != 0) {
    P2P_LOG(9, "shareres_manager::reset_shareres_stat presend[%d] should send[%d]", int(presend_), int(shares_.size()));
    presend_ = 0;
  }
}

}  // namespace p2p
