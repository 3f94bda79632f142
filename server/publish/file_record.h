// A published file's record as the file system gives it now: path, record
// id, directory id, attributes, size and last-write time; state 0.
#pragma once
#include <string>

#include "server/publish/codec/publish_records.h"

// False when the path does not fit the record with its terminator. A file
// that cannot be looked at keeps zero attributes, size and time; without a
// directory the directory id stays zero.
bool FillFileRecord(CPublishItem* item, const CPublishDir* dir, const std::wstring& path);
