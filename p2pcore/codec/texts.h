// Text and number formatting of the upload core where its formats differ from
// foundation/text's: digest texts, size and digit-group texts, clock texts,
// strict dotted quads, a field splitter. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/text/address_text.h"
#include "foundation/text/hex_text.h"

namespace p2p {

// foundation's HexText and Ipv4Text under their old names, for the session files
// until they move to foundation's.
inline std::string bin_to_hex(const void* bytes, size_t n) { return HexText(bytes, n); }
inline std::string ipv4_text(uint32_t address) { return Ipv4Text(address); }

// 32 upper-case digits and a terminator into out.
void hash_to_hex(const uint8_t hash[16], char out[33]);
std::string hash_hex(const uint8_t hash[16]);

// "%.2f G" / "%.1f M" / "%.1f K", right-aligned in seven places; empty below 1024.
std::string size_text(int64_t bytes);
// "1,234,567".
std::string group_digits(int64_t value);

// The local time fields as "%04d-%02d-%02d %02d:%02d:%02d:%03d".
struct clock_fields { int year, month, day, hour, minute, second, millisecond; };
std::string clock_text(const clock_fields& t);

// Strict dotted quad ("a.b.c.d", each 0..255, nothing else): the address in
// host order (a in the top byte). False for anything else.
bool parse_ipv4(const std::string& text, uint32_t* host_order);

size_t remove_cr(std::string& text);
size_t to_backslashes(std::u16string& text);
// 0 equal; 1 when a is greater, -255 when a's unit is smaller.
int wide_compare(const char16_t* a, const char16_t* b);

// Splits a text at a separator, optionally dropping empty fields.
class text_splitter {
 public:
  explicit text_splitter(std::string text, std::string separator = ",", bool drop_empty = false)
      : text_(std::move(text)), separator_(std::move(separator)), drop_empty_(drop_empty) {}
  std::vector<std::string> split() const;

 private:
  std::string text_;
  std::string separator_;
  bool drop_empty_;
};

}  // namespace p2p
