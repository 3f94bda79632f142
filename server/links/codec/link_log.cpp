// Writing and reading the link log's entries.
#include "server/links/codec/link_log.h"

#include <map>
#include <optional>
#include <utility>

namespace {
constexpr size_t kEntryPrefix = 26;  // "[" + 23-character time + "] "
constexpr int64_t kRecentSeconds = 7200;

bool ParseTime(std::string_view text, int64_t* value) {
  // Read as a 64-bit integer: optional sign, then digits; anything else fails.
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  uint64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    if (v > (UINT64_MAX - 9) / 10) return false;
    v = v * 10 + uint64_t(text[i] - '0');
  }
  if (v > uint64_t(INT64_MAX)) return false;
  *value = negative ? -int64_t(v) : int64_t(v);
  return true;
}
}  // namespace

std::string FormatLinkLogText(int32_t time, std::string_view directory, std::string_view link) {
  std::string text = std::to_string(time);
  text += ',';
  text += directory;
  text += ',';
  text += link;
  return text;
}

bool ParseLinkLogLine(std::string_view line, LinkLogEntry* entry) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (line.size() <= kEntryPrefix) return false;
  line.remove_prefix(kEntryPrefix);
  const size_t firstComma = line.find(',');
  if (firstComma == std::string_view::npos) return false;
  const size_t scheme = line.find("://", firstComma + 1);
  if (scheme == std::string_view::npos) return false;
  const size_t linkComma = line.rfind(',', scheme);
  if (linkComma == std::string_view::npos || linkComma < firstComma + 1) return false;
  int64_t time = 0;
  if (!ParseTime(line.substr(0, firstComma), &time)) return false;
  entry->time = time;
  entry->directory = std::string(line.substr(firstComma + 1, linkComma - firstComma - 1));
  entry->link = std::string(line.substr(linkComma + 1));
  return !entry->link.empty();
}

bool ReadVxhdLinkName(std::string_view link, std::string* name) {
  constexpr std::string_view kScheme = "vxhd://";
  if (link.substr(0, kScheme.size()) != kScheme) return false;
  link.remove_prefix(kScheme.size());
  const size_t bar1 = link.find('|');
  if (bar1 == std::string_view::npos || bar1 == 0 || bar1 > 20) return false;
  uint64_t size = 0;
  for (size_t i = 0; i < bar1; ++i) {
    const char c = link[i];
    if (c < '0' || c > '9') return false;
    const uint64_t digit = uint64_t(c - '0');
    if (size > (UINT64_MAX - digit) / 10) return false;
    size = size * 10 + digit;
  }
  if (size == 0 || link.size() < bar1 + 34 || link[bar1 + 33] != '|') return false;
  for (size_t i = bar1 + 1; i < bar1 + 33; ++i) {
    const char c = link[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) return false;
  }
  const std::string_view rest = link.substr(bar1 + 34);
  if (rest.empty()) return false;
  name->assign(rest);
  return true;
}

bool ReadFtpLinkName(std::string_view link, std::string* name) {
  constexpr std::string_view kScheme = "ftp://";
  if (link.substr(0, kScheme.size()) != kScheme) return false;
  const size_t slash = link.rfind('/');
  if (slash < kScheme.size() || slash + 1 == link.size()) return false;
  name->assign(link.substr(slash + 1));
  return true;
}

bool IsRecentLinkTime(int64_t time, int64_t now) {
  return uint32_t(time) >= uint32_t(now - kRecentSeconds);
}

LastPublishTexts BuildLastPublishTexts(std::string_view logText, int64_t now) {
  // Keyed and ordered by the joined text ("dir,name,link" and "dir,link") as
  // plain bytes; the directory and link are kept apart, as either may hold a comma.
  using Entries = std::map<std::string, std::pair<std::string, std::string>>;
  Entries vxhd, ftp;
  struct Pending {
    LinkLogEntry entry;
    std::string name;
  };
  std::optional<Pending> vxhdLine;  // the line before, when it was a whole vxhd line
  size_t at = 0;
  while (at < logText.size()) {
    size_t end = logText.find('\n', at);
    if (end == std::string_view::npos) end = logText.size();
    std::string_view line = logText.substr(at, end - at);
    at = end + 1;
    LinkLogEntry entry;
    std::string name;
    if (!ParseLinkLogLine(line, &entry)) {
      // A line break inside an entry (none of ours) or a line that is no entry.
      if (!line.empty() && line != "\r") vxhdLine.reset();
      continue;
    }
    if (ReadVxhdLinkName(entry.link, &name)) {
      vxhdLine = Pending{std::move(entry), std::move(name)};
      continue;
    }
    const bool pairs = vxhdLine && ReadFtpLinkName(entry.link, &name) && name == vxhdLine->name &&
                       entry.time == vxhdLine->entry.time && entry.directory == vxhdLine->entry.directory;
    if (pairs && IsRecentLinkTime(entry.time, now)) {
      const LinkLogEntry& v = vxhdLine->entry;
      vxhd.emplace(v.directory + "," + vxhdLine->name + "," + v.link, std::make_pair(v.directory, v.link));
      ftp.emplace(entry.directory + "," + entry.link, std::make_pair(entry.directory, entry.link));
    }
    vxhdLine.reset();
  }
  LastPublishTexts out;
  auto add = [](std::string& text, const std::string& dir, const std::string& link, const std::string** last) {
    if (!*last || **last != dir) {
      text += "\r\n" + dir + "\r\n" + link + "\r\n";
      *last = &dir;
    } else {
      text += link + "\r\n";
    }
  };
  const std::string* last = nullptr;
  for (const auto& [joined, entry] : vxhd) add(out.vxhd, entry.first, entry.second, &last);
  last = nullptr;
  for (const auto& [joined, entry] : ftp) add(out.ftp, entry.first, entry.second, &last);
  return out;
}
