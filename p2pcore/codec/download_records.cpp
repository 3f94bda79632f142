// Task record and the download exports' records.
#include "p2pcore/codec/download_records.h"

#include <cstdio>
#include <cstring>

#include "foundation/text/address_text.h"
#include "p2pcore/codec/nat_names.h"
#include "p2pcore/codec/texts.h"

namespace p2p {

task_record_error parse_task_record(const p2p_task_info* info, task_setup& out) {
  out = task_setup{};
  if (!info) return task_record_error::kNull;
  if (info->record_size != sizeof(p2p_task_info)) return task_record_error::kSize;
  static const uint8_t zero[16] = {};
  if (std::memcmp(info->hash, zero, 16) == 0) return task_record_error::kEmptyHash;
  out.task_id = info->task_id;
  std::memcpy(out.file_hash, info->hash, 16);
  out.file_size = info->file_size;
  if (info->callbacks) {
    const p2p_task_callbacks* given = reinterpret_cast<const p2p_task_callbacks*>(uintptr_t(info->callbacks));
    out.callbacks = *given;
  }
  return task_record_error::kNone;
}

void fill_peer_row(const link_view& link, p2p_peer_row& row) {
  std::memset(&row, 0, sizeof row);
  row.user_id = link.user_id;
  row.ip = link.ip;
  row.port = link.port;
  row.nat_type = link.nat_type;
  row.node_type = link.node_type;
  row.percent = link.percent;
  row.state = link.state;
  row.lan = link.lan ? 1 : 0;
  row.window = uint8_t(link.window);
  row.rto_ms = link.rto_ms;
  row.rate = link.rate;
  row.listed = link.listed;
  row.requests = link.requests;
  row.resends = link.resends;
  row.blocks = link.blocks;
  row.bytes = link.bytes;
  row.unknown_blocks = link.unknown_blocks;
  row.seconds_connected = link.seconds_connected;
  std::snprintf(row.nat_name, sizeof row.nat_name, "%s", nat_type_name(link.nat_type));
  std::snprintf(row.address, sizeof row.address, "%s:%u", Ipv4Text(link.ip).c_str(), unsigned(link.port));
}

void fill_server_log(uint32_t type, uint32_t ip, uint16_t port, p2p_server_log& row) {
  std::memset(&row, 0, sizeof row);
  row.type = type;
  row.value4 = 1000;
  row.ip = ip;
  row.port = port;
  char text[32];
  std::snprintf(text, sizeof text, "%s:%u", Ipv4Text(ip).c_str(), unsigned(port));
  for (size_t i = 0; text[i] && i + 1 < sizeof row.address / 2; ++i) row.address[i] = uint16_t(uint8_t(text[i]));
  static const char kName[] = "P2PSP";
  for (size_t i = 0; kName[i]; ++i) row.name[i] = uint16_t(kName[i]);
}

uint32_t resend_percent(uint32_t resends, uint32_t requests) {
  if (!requests) return 0;
  const uint64_t percent = uint64_t(resends) * 100 / requests;
  return percent > UINT32_MAX ? UINT32_MAX : uint32_t(percent);
}

}  // namespace p2p
