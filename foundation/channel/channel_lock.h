// The control channel's lock: CLock and its scope guard CLockGuard, shared
// with the rest of the foundation.
#pragma once
#include "foundation/sync/locks.h"
