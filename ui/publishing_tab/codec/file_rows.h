// What the publishing pages show of the server's records: the texts and
// images of the file list's rows, their sort keys, the links of a published
// file and the tree's text of a directory. Every text is read within its
// field. Platform-free.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "server/links/codec/link_text.h"
#include "ui/client/codec/control_records.h"

// The file list's two views.
enum FileListView : int {
  kViewNone = 0,
  kViewDirectory = 1,    // the files of one directory
  kViewUnpublished = 2,  // every file not yet published
};
constexpr int kFileListColumns = 5;

// Images of the tree and the list (bitmap 226).
enum ListImage : int {
  kImageDirectory = 0,
  kImageFile = 3,
  kImagePublished = 4,
  kImageChanged = 5,
  kImageUnpublishedRoot = 6,
  kImageDirectoryRoot = 7,
};

// The full path of a file record and the path of a directory record.
std::u16string RecordPath(const CPublishItem& record);
std::u16string DirRecordPath(const CPublishDir& record);
bool IsDirectoryRecord(const CPublishItem& record);
bool IsPublished(const CPublishItem& record);  // state 8 and above

// The string id of the state's text; 0 for state 1, whose text is empty.
unsigned FileStateTextId(uint8_t state);
int FileRowImage(const CPublishItem& record);

// The list's sort keys: column 0 (and 4 in view 2) the full path by code
// units, 1 the size, 2 the last-write time, 3 the state, 4 in view 1 the
// publish time; numbers as unsigned 64-bit values.
int CompareFileRecords(const CPublishItem& a, const CPublishItem& b, int column, int view);

// "[D]New" for D:\Video\New: the first character of the path's root and its last component.
std::u16string DirectoryItemText(std::u16string_view path);

// The P2P link of a published file: "vxhd://size|FID|name.ext".
std::u16string FileP2pLink(const CPublishItem& record);
// The FTP link of a file from the cached FTP settings. A port outside 1 to
// 65535 (0, from a server that sent none) counts as the default 21.
std::u16string FileFtpLink(std::u16string_view path, FtpLinkSettings settings);
// The fid as 32 upper-case digits; empty when all sixteen bytes are zero.
std::u16string FidText(const CPublishItem& record);
