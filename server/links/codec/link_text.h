// The two link forms of a published file: "vxhd://size|FID|name" for P2P
// download and "ftp://" into the FTP share. Platform-free.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One entry of the FTP share-directory list as the links need it.
struct FtpLinkShare {
  std::u16string localPath;  // the local directory
  std::u16string ftpPath;    // its path on the FTP side; empty for the home entry
  uint32_t isHome = 0;       // 1 for the FTP home entry
};

// What an FTP link is made of. A copy: building a link changes no setting.
struct FtpLinkSettings {
  std::u16string user;
  std::u16string password;
  std::u16string host;  // the stored FTP host
  uint32_t port = 21;
  std::vector<FtpLinkShare> shares;  // in list order
};

// The last component of a path, trailing backslashes removed first.
std::u16string_view LastPathComponent(std::u16string_view path);
// The drive and directory part of a path, with its trailing "\"; empty when
// the path has no "\".
std::u16string_view DirectoryPart(std::u16string_view path);

// "vxhd://%I64d|%s|%s": size, the FID as 32 upper-case hex digits, and the
// file name; with parentNaming the name is "<parent directory>_<file name>".
std::u16string MakeVxhdLinkText(uint64_t size, const uint8_t fid[16], std::u16string_view path, bool parentNaming);

// The FTP link of a file; host, when not empty, replaces the stored host.
// Empty for an empty path.
std::u16string MakeFtpLinkText(std::u16string_view path, const FtpLinkSettings& settings,
                               std::u16string_view host = {});
