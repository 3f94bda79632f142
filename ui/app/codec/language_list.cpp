// At most ten entries; the list always ends with the system default.
#include "ui/app/codec/language_list.h"

uint16_t CMultiLanguage::AddLanguage(uint16_t id) {
  for (size_t i = 0; i < count_; ++i) {
    if (slots_[i] == id) return id;
  }
  if (count_ >= kMaxLanguages) return 0;
  slots_[count_++] = convert_(id);
  if (count_ >= kMaxLanguages) return 0;
  slots_[count_++] = convert_(static_cast<uint16_t>(id & 0x3FF));
  return id;
}

void CMultiLanguage::AddSystemDefault() {
  if (count_ < kMaxLanguages) {
    slots_[count_++] = kSystemDefaultLanguage;
  } else {
    slots_[kMaxLanguages - 1] = kSystemDefaultLanguage;
  }
}

std::vector<uint16_t> CMultiLanguage::Candidates() const {
  std::vector<uint16_t> ids;
  for (size_t i = 0; i < count_; ++i) {
    if (slots_[i] != 0) ids.push_back(static_cast<uint16_t>(slots_[i]));
  }
  return ids;
}

std::optional<std::u16string> LanguageLibraryPath(std::u16string_view programPath, std::u16string_view code) {
  if (programPath.size() >= 268 || programPath.size() < 4) return std::nullopt;
  std::u16string path(programPath.substr(0, programPath.size() - 4));
  path += u'_';
  path += code;
  path += u".DLL";
  return path;
}
