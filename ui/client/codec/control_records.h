// The records and blocks of control-command replies that the user interface
// reads besides the server's own (directory, file, FTP directory entry and
// server blocks, shared with the server). Byte-packed, little-endian. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>

#include "p2pcore/seedlift_api.h"
#include "server/control/codec/control_records.h"

// The rows of the peer and upload lists and the two statistics blocks are the
// P2P core's own records, which the server forwards unchanged; their layouts
// (and the static_asserts of their sizes and offsets) are in seedlift_api.h.
using UserRecord = upload_user_info;
using UploadRecord = share_file_info;
using P2pTotals = p2p_stat_totals;
using P2pStatBlock = p2p_stat_info;
