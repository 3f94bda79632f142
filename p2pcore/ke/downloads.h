// Where the download tasks join the session: the commands and data packets
// that carry a task's file hash go to its handle, the super node's peer lists
// to the task they name, and each logged-in pass gives every handle its turn.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "p2pcore/ke/p2phandle.h"
#include "p2pcore/ke/task_requests.h"
#include "p2pcore/wire/udp_packet.h"

namespace p2p {

// The commands a download task may take: 14, 15, 32, 47, 48, 49, 52, 53.
bool is_download_command(uint16_t command);
// One of them for a task's file: handled (true), or left to the upload side (false).
bool download_command(task_requests& tasks, const download_context& ctx, const UdpChecked& packet,
                      const sockaddr_in& from, uint32_t now);
// A data packet (protocol 2): written when a task asked for it.
void download_data(task_requests& tasks, const download_context& ctx, const UdpChecked& packet,
                   const sockaddr_in& from, uint32_t now);
// Each logged-in pass: queries, contacts, resends, quiet links.
void download_passes(task_requests& tasks, const download_context& ctx, uint32_t now);

}  // namespace p2p
