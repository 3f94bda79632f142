// The export of command 49: the links of a directory's or a file's published
// files, and the command's handler.
#pragma once
#include <string>
#include <vector>

#include "foundation/codec/byte_buffer.h"
#include "foundation/codec/stream_reader.h"
#include "server/control/codec/control_records.h"
#include "server/links/codec/export_request.h"

// Directories are walked recursively (hidden entries skipped, empty files too).
void ExportDirLinks(const std::wstring& path, const ExportOptions& options, std::vector<std::wstring>* lines);
void ExportFileLinks(const std::wstring& path, const ExportOptions& options, std::vector<std::wstring>* lines);
void AddPathLink(const std::wstring& path, const ExportOptions& options, std::vector<std::wstring>* lines);
void AddRecordLink(const CPublishItem& item, const ExportOptions& options, std::vector<std::wstring>* lines);

void OnExportURL(CStreamReader& request, CByteBuffer* reply);
