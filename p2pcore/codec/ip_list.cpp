// Limit and allow address lists.
#include "p2pcore/codec/ip_list.h"

#include <algorithm>
#include <cstdlib>

#include "p2pcore/codec/texts.h"

namespace p2p {

static std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

bool parse_limit_line(const std::string& line, ip_range* range) {
  size_t slash = line.find('/');
  if (slash == std::string::npos) return false;
  uint32_t address;
  if (!parse_ipv4(trim(line.substr(0, slash)), &address)) return false;
  std::string prefix_text = trim(line.substr(slash + 1));
  if (prefix_text.empty()) return false;
  char* end = nullptr;
  long prefix = std::strtol(prefix_text.c_str(), &end, 10);
  if (end == prefix_text.c_str()) return false;
  prefix = std::clamp(prefix, 0L, 32L);
  const uint32_t host_bits = prefix == 0 ? 0xFFFFFFFFu : (uint32_t(1) << (32 - prefix)) - 1;
  range->first = address;
  range->last = address | host_bits;
  return true;
}

size_t limit_ip_list::load(const std::string& text) {
  ranges_.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    ip_range r;
    if (parse_limit_line(text.substr(start, end - start), &r)) ranges_.push_back(r);
    start = end + 1;
  }
  std::stable_sort(ranges_.begin(), ranges_.end(), [](const ip_range& a, const ip_range& b) { return a.first < b.first; });
  return ranges_.size();
}

bool limit_ip_list::holds(uint32_t address) const {
  for (const ip_range& r : ranges_) {
    if (r.first > address) break;  // sorted by first
    if (address <= r.last) return true;
  }
  return false;
}

static uint32_t to_network_order(uint32_t host) {
  return (host >> 24) | ((host >> 8) & 0xFF00) | ((host << 8) & 0xFF0000) | (host << 24);
}

std::vector<ip_range> parse_allow_list(const std::vector<std::string>& lines) {
  std::vector<ip_range> ranges;
  for (const std::string& line : lines) {
    size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    uint32_t first, last;
    if (!parse_ipv4(trim(line.substr(0, comma)), &first) || !parse_ipv4(trim(line.substr(comma + 1)), &last)) continue;
    ranges.push_back({to_network_order(first), to_network_order(last)});
  }
  return ranges;
}

}  // namespace p2p
