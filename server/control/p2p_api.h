// The P2P core's exports as OrchardSvc calls them: Seedlift is linked at load
// time, so its header is the one definition of the calls and their records.
#pragma once
#include "p2pcore/seedlift_api.h"

// The file is shared after p2p_add_share: added now, or shared already.
inline bool IsShared(int addShareResult) {
  return addShareResult == P2P_SHARE_ADDED || addShareResult == P2P_SHARE_PRESENT;
}
