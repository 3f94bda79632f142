// Address lists of the upload core: the limit list ("a.b.c.d/prefix" lines)
// and the allow list ("first,last" lines). Parsers take text and never
// overrun a field; addresses compare as unsigned values. Platform-free.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace p2p {

struct ip_range {
  uint32_t first;
  uint32_t last;
};

// One limit-list line: address (host order) to address with its low
// 32 - prefix bits set; the prefix is clamped to 0..32. False when the line
// holds no "address/prefix".
bool parse_limit_line(const std::string& line, ip_range* range);

class limit_ip_list {
 public:
  // Parses every line, sorts by first address; returns the range count.
  size_t load(const std::string& text);
  const std::vector<ip_range>& ranges() const { return ranges_; }
  // Address in host order.
  bool holds(uint32_t address) const;

 private:
  std::vector<ip_range> ranges_;
};

// Allow-list lines "first,last" (blanks around either are allowed); ranges
// in network byte order (first octet in the lowest byte); bad lines skipped.
std::vector<ip_range> parse_allow_list(const std::vector<std::string>& lines);

}  // namespace p2p
