// CTokenList: a text split at every occurrence of a separator. Platform-free.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class CTokenList {
 public:
  CTokenList() = default;
  explicit CTokenList(std::string_view text, std::string_view separator = ",");

  // Stores the text and splits it; empty pieces stay in the list. An empty
  // text has no pieces; an empty separator leaves the text whole.
  void SetText(std::string_view text, std::string_view separator = ",");

  size_t Count() const { return pieces_.size(); }
  // An empty text past the end.
  const std::string& At(size_t index) const;
  const std::vector<std::string>& Pieces() const { return pieces_; }
  const std::string& Text() const { return text_; }
  const std::string& Separator() const { return separator_; }

 private:
  std::string text_;
  std::string separator_ = ",";
  std::vector<std::string> pieces_;
};
