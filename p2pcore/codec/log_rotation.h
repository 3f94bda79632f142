// Which rotated log files go: the dated copies "<base>_YYYYMMDDhhmmss.log"
// in the log folder beyond the newest LogCount, whichever process rotated
// them. Platform-free.
#pragma once
#include <string>
#include <vector>

namespace p2p {

// Of the file names in the log folder, the dated copies of `base` to delete,
// oldest first, so that at most log_count remain; none when log_count is 0
// or less (no limit). Other names are never chosen.
std::vector<std::wstring> rotated_logs_to_delete(const std::vector<std::wstring>& names, const std::wstring& base,
                                                 int log_count);

}  // namespace p2p
