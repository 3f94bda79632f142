// The download handle's bad-data detector on the system tick.
#include "p2pcore/ke/ShitDetect.h"

#include <winsock2.h>
#include <windows.h>

#include "p2pcore/p2pbase/inc/p2plog.h"

namespace p2p {

void ShitDetect::add_answer(uint32_t block, uint64_t peer, const uint8_t* data, bool log, std::vector<uint64_t>& bad) {
  detector_.add_answer(block, peer, data, GetTickCount(), bad);
  if (log) log_groups();
}

void ShitDetect::log_groups() const { P2P_LOG(9, "%s", detector_.verdict_text().c_str()); }

uint32_t ShitDetect::block_for_peer(uint64_t peer) const { return detector_.block_for_peer(peer, GetTickCount()); }

}  // namespace p2p
