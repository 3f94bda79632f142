// The links of published files from OrchardSvc's settings, and the files of
// the links published in the last two hours.
#pragma once
#include <string>

#include "server/control/codec/control_records.h"

// The vxhd link of a record; empty for none.
std::wstring MakeVxhdLink(const CPublishItem* item, bool parentNaming);
// The FTP link of a path with the configured account, port and share list;
// host, when given and not empty, replaces the stored FTP host. Empty for no path.
std::wstring MakeFtpLink(const wchar_t* path, const wchar_t* host = nullptr);

// "LastPublish.txt" and "LastPublishFtp.txt" in the program's directory from "PublishList.Log".
void DoOutput();
