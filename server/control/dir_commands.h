// The directory and file commands of the control channel: 1 add, 2 publish
// all, 4 remove, 5 automatic-publish directory, 17 publish, 18 cancel,
// 33 directory list, 34 file list, 35 all unpublished files.
#pragma once
#include <string>

#include "server/control/command_table.h"

// Answered when a directory could not be stored in the database: it is not
// published, and the user interface sees a failure rather than success.
constexpr uint16_t kStatusNotStored = 500;

void OnAddDir(CStreamReader& request, CByteBuffer* reply);
void OnPubDir(CStreamReader& request, CByteBuffer* reply);
void OnDelDir(CStreamReader& request, CByteBuffer* reply);
void OnSetAutoDir(CStreamReader& request, CByteBuffer* reply);
void OnPubFile(CStreamReader& request, CByteBuffer* reply);
void OnCancelPubFile(CStreamReader& request, CByteBuffer* reply);
void OnDirList(CStreamReader& request, CByteBuffer* reply);
void OnGetFileList(CStreamReader& request, CByteBuffer* reply);
void OnAllUnpublished(CStreamReader& request, CByteBuffer* reply);

// Command 5 makes its path the watched automatic-publish directory, and an
// empty path stops the watch; the directory watcher sets this. Until then the
// path is only published.
void SetAutoDirHandler(void (*handler)(const std::wstring& dir));
