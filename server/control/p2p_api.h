// The P2P core's exports as OrchardSvc calls them. Seedlift is linked at load
// time; in a build without it every start of the core fails the way a failed
// p2p_initialize does, so the server runs on without P2P.
#pragma once
#include <cstdint>

#if __has_include("p2pcore/seedlift_api.h")
#include "p2pcore/seedlift_api.h"
#define ORCHARD_HAVE_SEEDLIFT 1
#else
#define ORCHARD_HAVE_SEEDLIFT 0
inline int p2p_initialize_network(uint16_t port) { return port != 0; }
inline int p2p_initialize() { return 0; }
inline void p2p_uninitialize() {}
inline int set_p2p_node_type(int type) { return type & 0xFF; }
inline int get_p2p_id(uint64_t*, uint64_t*, int*, int*, uint32_t*, int*, uint32_t*, int*) { return 0; }
inline void set_p2p_upload_speed_max(int) {}
inline int set_p2p_debug_level(int level) { return level; }
inline int p2p_get_share_count() { return 0; }
inline void p2p_pause_upload(int) {}
#endif
