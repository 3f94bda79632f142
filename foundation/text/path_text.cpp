// Path texts. Platform-free.
#include "foundation/text/path_text.h"

#include "foundation/text/ascii_case.h"

std::u16string NormalizeDirPath(std::u16string_view path) {
  std::u16string out(path);
  if (out.empty()) return out;
  for (char16_t& c : out) {
    if (c == u'/') c = u'\\';
  }
  while (!out.empty() && out.back() == u'\\') out.pop_back();
  out.push_back(u'\\');
  return out;
}

std::u16string PathJoin(std::u16string_view directory, std::u16string_view name) {
  if (name.find(u':') != std::u16string_view::npos || name.substr(0, 2) == u"\\\\" || directory.empty()) {
    return std::u16string(name);
  }
  while (!directory.empty() && directory.back() == u'\\') directory.remove_suffix(1);
  while (!name.empty() && name.front() == u'\\') name.remove_prefix(1);
  std::u16string out(directory);
  out.push_back(u'\\');
  out.append(name);
  return out;
}

std::u16string CombinePath(std::u16string_view directory, std::u16string_view name) {
  std::u16string out(directory);
  if (out.empty() || out.back() != u'\\') out.push_back(u'\\');
  out.append(name);
  return out;
}

std::u16string GetFileExtension(std::u16string_view path) {
  const size_t dot = path.rfind(u'.');
  if (dot == std::u16string_view::npos) return std::u16string();
  const size_t sep = path.find_first_of(u"\\/", dot);
  if (sep != std::u16string_view::npos) return std::u16string();
  return std::u16string(path.substr(dot));
}

bool IsPublishableFile(std::u16string_view path) {
  std::u16string ext = GetFileExtension(path);
  if (ext.size() < 2) return false;
  for (char16_t& c : ext) c = ToLowerAscii(c);
  ext.push_back(u'.');
  return std::u16string_view(kPublishableExtensions).find(ext) != std::u16string_view::npos;
}

bool IsMediaFile(std::u16string_view path) {
  static const char16_t* const kMedia[] = {u".rmvb", u".avi", u".mp4", u".f4v", u".mkv", u".wmv", u".flv"};
  const std::u16string ext = GetFileExtension(path);
  for (const char16_t* m : kMedia) {
    if (CompareNoCase(ext, m) == 0) return true;
  }
  return false;
}

bool IsWebPageName(std::string_view name) {
  static const char* const kPages[] = {".html", ".htm", ".php", ".asp", ".aspx", ".shtml", ".shtm", ".jsp"};
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  for (const char* p : kPages) {
    if (EqualsNoCase(name.substr(dot), p)) return true;
  }
  return false;
}
