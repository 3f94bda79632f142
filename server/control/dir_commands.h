// The directory and file commands of the control channel: 1 add, 2 publish
// all, 4 remove, 5 automatic-publish directory, 17 publish, 18 cancel,
// 33 directory list, 34 file list, 35 all unpublished files.
#pragma once
#include <string>

#include "server/control/command_table.h"

// Answered when a directory could not be stored in the database: it is not
// published, and the user interface sees a failure rather than success.
constexpr uint16_t kStatusNotStored = 500;

void OnAddDir(const CommandArgs& args, CByteBuffer* reply);
void OnPubDir(const CommandArgs& args, CByteBuffer* reply);
void OnDelDir(const CommandArgs& args, CByteBuffer* reply);
void OnSetAutoDir(const CommandArgs& args, CByteBuffer* reply);
void OnPubFile(const CommandArgs& args, CByteBuffer* reply);
void OnCancelPubFile(const CommandArgs& args, CByteBuffer* reply);
void OnDirList(const CommandArgs& args, CByteBuffer* reply);
void OnGetFileList(const CommandArgs& args, CByteBuffer* reply);
void OnAllUnpublished(const CommandArgs& args, CByteBuffer* reply);

// Command 5 makes its path the watched automatic-publish directory; the
// directory watcher sets this. Until then the path is only published.
void SetAutoDirHandler(void (*handler)(const std::wstring& dir));
