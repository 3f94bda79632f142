// DoOutput: the links of the last two hours, read back from the link log.
#include <windows.h>

#include <ctime>

#include "foundation/log/server_logs.h"
#include "foundation/util/file_ops.h"
#include "foundation/util/path_ops.h"
#include "server/links/codec/link_log.h"
#include "server/links/links.h"

namespace {
// Each file is put in place whole, so a reader never finds half of one.
void WriteNew(const wchar_t* name, const std::string& text) {
  if (!ReplaceFileWhole(ModulePathOf(name).c_str(), text.data(), text.size()))
    WriteLog(&g_MainLog, 3, "DoOutput cannot write %ls", name);
}
}  // namespace

void DoOutput() {
  const unsigned long thread = GetCurrentThreadId();
  WriteLog(&g_MainLog, 1, "DoOutput begin, ThreadID=(%lu)", thread);
  // Read whole: a link line of any length stays one line.
  const std::string log = ReadWholeFile(ModulePathOf(L"PublishList.Log").c_str());
  WriteLog(&g_MainLog, 1, "DoOutput read text lines done, ThreadID=(%lu)", thread);
  const LastPublishTexts texts = BuildLastPublishTexts(log, int64_t(time(nullptr)));
  WriteLog(&g_MainLog, 1, "DoOutput deal line list done, ThreadID=(%lu)", thread);
  WriteNew(L"LastPublish.txt", texts.vxhd);
  WriteLog(&g_MainLog, 1, "DoOutput deal vxhd list done, ThreadID=(%lu)", thread);
  WriteNew(L"LastPublishFtp.txt", texts.ftp);
  WriteLog(&g_MainLog, 1, "DoOutput deal ftp list done, ThreadID=(%lu)", thread);
  WriteLog(&g_MainLog, 1, "DoOutput end, ThreadID=(%lu)", thread);
}
