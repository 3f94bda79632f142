// The link log "PublishList.Log" as the publish task writes it and the
// automatic-publish run reads it back into "LastPublish.txt" and
// "LastPublishFtp.txt". Narrow texts throughout. Platform-free.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// The text of one link-log entry: "%d,%s,%s" of time, directory and link.
std::string FormatLinkLogText(int32_t time, std::string_view directory, std::string_view link);

struct LinkLogEntry {
  int64_t time = 0;
  std::string directory;
  std::string link;
};

// One line of the log file without its line break: the 26-character
// "[time] " prefix, then the entry text. The link begins at the scheme
// before the first "://", so commas in the directory or the link do not
// move it (a Windows directory path cannot hold "://"). False for a line too
// short, without a link or without a time.
bool ParseLinkLogLine(std::string_view line, LinkLogEntry* entry);

// Within the last 7200 seconds of now, compared on the low 32 bits without sign.
bool IsRecentLinkTime(int64_t time, int64_t now);

// The name of a whole vxhd link "vxhd://size|id|name": a decimal size other
// than 0, 32 hexadecimal digits and a name; false for anything less.
bool ReadVxhdLinkName(std::string_view link, std::string* name);
// The name of an FTP link "ftp://.../name": the text after its last "/".
bool ReadFtpLinkName(std::string_view link, std::string* name);

struct LastPublishTexts {
  std::string vxhd;  // "LastPublish.txt"
  std::string ftp;   // "LastPublishFtp.txt"
};

// Every recent entry of the whole log text, once each, each directory as a
// heading above its links: "\r\n<dir>\r\n<link>\r\n" for the first link
// under a directory, "<link>\r\n" for the others. Entries go in the byte
// order of their joined texts, "dir,name,link" for vxhd links and "dir,link"
// for FTP links, so a directory's links stay together. The publish task writes a
// file's two lines together, vxhd first; only such a pair is taken (same
// time, directory and name, the vxhd link whole), so a line cut short by a
// full disk or a kill never reaches the output files.
LastPublishTexts BuildLastPublishTexts(std::string_view logText, int64_t now);
