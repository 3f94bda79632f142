// The candidate languages for the resource library, most wanted first, and
// the library's file name for each. Platform-free: the locale conversion is
// handed in.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr uint16_t kSystemDefaultLanguage = 0x800;

class CMultiLanguage {
 public:
  static constexpr size_t kMaxLanguages = 10;
  using ConvertFn = uint16_t (*)(uint16_t);  // ConvertDefaultLocale

  explicit CMultiLanguage(ConvertFn convert) : convert_(convert) {}

  // Adds `id` and its neutral form; returns `id`, or 0 when the list is full.
  uint16_t AddLanguage(uint16_t id);
  // Ends the list with the system default: appended, or over the last slot when full.
  void AddSystemDefault();
  size_t Count() const { return count_; }
  bool Empty() const { return count_ == 0; }
  // The non-zero entries in order.
  std::vector<uint16_t> Candidates() const;

 private:
  ConvertFn convert_;
  uint32_t slots_[kMaxLanguages] = {};
  size_t count_ = 0;
};

// "<program path without its extension>_<code>.DLL"; none when the path is 268 units or longer.
std::optional<std::u16string> LanguageLibraryPath(std::u16string_view programPath, std::u16string_view code);
