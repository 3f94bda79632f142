// The rotated log files beyond LogCount.
#include "p2pcore/codec/log_rotation.h"

#include <algorithm>
#include <cwctype>

namespace p2p {

namespace {

bool same_ignoring_case(const std::wstring& a, size_t at, const std::wstring& b) {
  if (a.size() < at + b.size()) return false;
  for (size_t i = 0; i < b.size(); ++i)
    if (std::towlower(a[at + i]) != std::towlower(b[i])) return false;
  return true;
}

// The 14 digits of a dated copy's stamp, or empty for any other name.
std::wstring stamp_of(const std::wstring& name, const std::wstring& base) {
  static const std::wstring ext = L".log";
  const size_t digits = 14;
  if (name.size() != base.size() + 1 + digits + ext.size()) return {};
  if (!same_ignoring_case(name, 0, base) || name[base.size()] != L'_') return {};
  if (!same_ignoring_case(name, base.size() + 1 + digits, ext)) return {};
  const std::wstring stamp = name.substr(base.size() + 1, digits);
  for (wchar_t c : stamp)
    if (c < L'0' || c > L'9') return {};
  return stamp;
}

}  // namespace

std::vector<std::wstring> rotated_logs_to_delete(const std::vector<std::wstring>& names, const std::wstring& base,
                                                 int log_count) {
  if (log_count <= 0) return {};
  std::vector<std::pair<std::wstring, std::wstring>> dated;  // (stamp, name)
  for (const std::wstring& n : names) {
    std::wstring stamp = stamp_of(n, base);
    if (!stamp.empty()) dated.push_back({stamp, n});
  }
  if (dated.size() <= size_t(log_count)) return {};
  std::sort(dated.begin(), dated.end());
  std::vector<std::wstring> out;
  for (size_t i = 0; i + size_t(log_count) < dated.size(); ++i) out.push_back(dated[i].second);
  return out;
}

}  // namespace p2p
