// The serving side joins the scheduler loop: the online TCP users, the peer
// commands over UDP and the upload workers take the places the loop keeps for
// them (peer_hooks.h).
#pragma once

namespace p2p {

// Installs them; the library does it before the session starts.
void install_serving_hooks();

}  // namespace p2p
