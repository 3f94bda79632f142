// The vxhd and FTP link texts of a published file.
#include "server/links/codec/link_text.h"

#include "foundation/text/ascii_case.h"
#include "foundation/text/hex_text.h"

namespace {

std::u16string Ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

// The local share path covers the directory on whole components, case-blind:
// "C:\Video" covers "C:\Video\" and "C:\Video\Show\", never "C:\Video2\".
bool CoversDirectory(std::u16string_view local, std::u16string_view dir, size_t* restAt) {
  while (!local.empty() && local.back() == u'\\') local.remove_suffix(1);
  if (local.empty() || dir.size() < local.size()) return false;
  if (CompareNoCase(dir.substr(0, local.size()), local) != 0) return false;
  if (dir.size() > local.size() && dir[local.size()] != u'\\') return false;
  *restAt = local.size();
  return true;
}

}  // namespace

std::u16string_view LastPathComponent(std::u16string_view path) {
  while (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
  const size_t bar = path.find_last_of(u'\\');
  return bar == std::u16string_view::npos ? path : path.substr(bar + 1);
}

std::u16string_view DirectoryPart(std::u16string_view path) {
  const size_t bar = path.find_last_of(u'\\');
  return bar == std::u16string_view::npos ? std::u16string_view() : path.substr(0, bar + 1);
}

std::u16string MakeVxhdLinkText(uint64_t size, const uint8_t fid[16], std::u16string_view path, bool parentNaming) {
  std::u16string name(LastPathComponent(path));
  if (parentNaming) {
    std::u16string_view dir = DirectoryPart(path);
    name = std::u16string(LastPathComponent(dir)) + u"_" + name;
  }
  return u"vxhd://" + Ascii(std::to_string(size)) + u"|" + Ascii(HexText(fid, 16)) + u"|" + name;
}

std::u16string MakeFtpLinkText(std::u16string_view path, const FtpLinkSettings& settings, std::u16string_view host) {
  if (path.empty()) return {};
  std::u16string link = u"ftp://";
  if (!settings.password.empty()) {
    link += settings.user.empty() ? std::u16string(u"anonymous") : settings.user;
    link += u":" + settings.password + u"@";
  } else if (!settings.user.empty()) {
    link += settings.user + u"@";
  }
  link += host.empty() ? std::u16string(settings.host) : std::u16string(host);
  if (settings.port != 21) link += u":" + Ascii(std::to_string(settings.port));
  link += u"/";

  const std::u16string_view dir = DirectoryPart(path);
  for (const FtpLinkShare& share : settings.shares) {
    size_t restAt = 0;
    if (!CoversDirectory(share.localPath, dir, &restAt)) continue;
    std::u16string rest(dir.substr(restAt));
    for (char16_t& c : rest)
      if (c == u'\\') c = u'/';
    while (!rest.empty() && rest.front() == u'/') rest.erase(0, 1);
    while (!rest.empty() && rest.back() == u'/') rest.pop_back();
    std::u16string segments;
    if (!share.isHome && !share.ftpPath.empty()) segments = std::u16string(LastPathComponent(share.ftpPath));
    if (!rest.empty()) segments += (segments.empty() ? u"" : u"/") + rest;
    if (!segments.empty()) link += segments + u"/";
    break;
  }
  link += LastPathComponent(path);
  return link;
}
