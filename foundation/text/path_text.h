// Path texts: joining, normalising, extensions and the media-file tests.
// Paths are UTF-16 with "\" separators. Platform-free.
#pragma once
#include <string>
#include <string_view>

// The extensions the publishing service shares, each between dots.
inline constexpr char16_t kPublishableExtensions[] = u".wmv.avi.rm.rmvb.mp4.mkv.flv.f4v.asf.";

// Every "/" becomes "\" and the path ends with exactly one "\"; empty stays empty.
std::u16string NormalizeDirPath(std::u16string_view path);
// A name holding ":" or beginning with "\\" is the result; otherwise the
// directory, one "\" and the name without its leading "\".
std::u16string PathJoin(std::u16string_view directory, std::u16string_view name);
// "%s\%s", or "%s%s" when the directory already ends with "\".
std::u16string CombinePath(std::u16string_view directory, std::u16string_view name);

// From the last "." of the last path component on, dot included; empty when
// that component has no dot.
std::u16string GetFileExtension(std::u16string_view path);
// The lower-cased extension followed by "." occurs in the publishable list,
// so ".rm" matches and ".rmv" does not.
bool IsPublishableFile(std::u16string_view path);
// ".rmvb", ".avi", ".mp4", ".f4v", ".mkv", ".wmv" or ".flv", case-blind.
bool IsMediaFile(std::u16string_view path);
// ".html", ".htm", ".php", ".asp", ".aspx", ".shtml", ".shtm" or ".jsp", case-blind.
bool IsWebPageName(std::string_view name);
