// The two address-list files of the session: the limit list
// "./ipdata/iplist.dat" that peers' requests are checked against, and the
// allow list "ipallow.csv" in the application directory.
#pragma once
#include <vector>

#include "p2pcore/codec/ip_list.h"

namespace p2p {

// Loads the limit list (printing its ranges to standard output); false when
// the file is missing, and the list then lets every address pass.
bool limit_ip_load();
// True when the list is not loaded or the dotted address lies in one of its ranges.
bool limit_ip_check(const char* dotted);

// The ranges of "ipallow.csv"; empty when the file is missing.
std::vector<ip_range> allow_list_load();

}  // namespace p2p
