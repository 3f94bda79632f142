// What the peer and upload lists show of the P2P core's 456-byte user records
// and 304-byte uploading-file records: the cell texts of every column and
// their three-way sort keys. Fields are read by name from the core's own
// record types, and every text ends within its field. Platform-free.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/text/code_page.h"
#include "ui/client/codec/control_records.h"

constexpr int kUserColumns = 15;
constexpr int kUploadColumns = 7;
// The columns that "copy selected" puts on the clipboard.
constexpr int kUserCopyColumns = 6;
constexpr int kUploadCopyColumns = 3;

// The path of the file a peer downloads (user record) or of a shared file
// (uploading record), in the ANSI code page, up to its zero or its field's end.
std::string UserRecordPath(const UserRecord& record);
std::string UploadRecordPath(const UploadRecord& record);

// The cell of a column; empty for a column the list does not have. ANSI
// texts become UTF-16 through `ansi` (bytes as Latin-1 when it has no converter).
std::u16string UserCellText(const UserRecord& record, int column, const NarrowCodePage& ansi);
std::u16string UploadCellText(const UploadRecord& record, int column, const NarrowCodePage& ansi);

// -1, 0 or 1 by the column's key; a strict weak order for every column.
int CompareUserRecords(const UserRecord& a, const UserRecord& b, int column);
int CompareUploadRecords(const UploadRecord& a, const UploadRecord& b, int column);

// The upload list shows only files that are being sent (a send speed not 0).
bool IsUploading(const UploadRecord& record);

// The folder that holds a file given by its ANSI path: the path up to its
// last separator, converted to UTF-16; empty when the path names no folder.
std::u16string FolderOfAnsiPath(std::string_view path, const NarrowCodePage& ansi);
