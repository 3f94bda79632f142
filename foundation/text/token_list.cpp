// CTokenList: splitting a text at a separator. Platform-free.
#include "foundation/text/token_list.h"

CTokenList::CTokenList(std::string_view text, std::string_view separator) {
  SetText(text, separator);
}

void CTokenList::SetText(std::string_view text, std::string_view separator) {
  text_.assign(text);
  separator_.assign(separator);
  pieces_.clear();
  if (text.empty()) return;
  if (separator.empty()) {
    pieces_.emplace_back(text);
    return;
  }
  size_t start = 0;
  for (;;) {
    const size_t hit = text.find(separator, start);
    if (hit == std::string_view::npos) {
      pieces_.emplace_back(text.substr(start));
      return;
    }
    pieces_.emplace_back(text.substr(start, hit - start));
    start = hit + separator.size();
  }
}

const std::string& CTokenList::At(size_t index) const {
  static const std::string kEmpty;
  return index < pieces_.size() ? pieces_[index] : kEmpty;
}
