// GBK conversions, the Quillkit path, version and error texts, the service query.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "foundation/util/code_pages.h"
#include "foundation/util/desktop_ops.h"
#include "foundation/util/module_info.h"
#include "foundation/util/service_ops.h"
#include "foundation/util/traditional_chinese.h"
#include "foundation/util/wide_text.h"

TEST(CodePages, GbkWhateverTheMachineCodePage) {
  EXPECT_EQ(Utf16ToGbk(L"\u4E2D\u6587.avi"), "\xD6\xD0\xCE\xC4.avi");
  EXPECT_EQ(GbkToUtf16("\xD6\xD0\xCE\xC4.avi"), L"\u4E2D\u6587.avi");
  EXPECT_EQ(Utf16ToGbk(L""), "");
  const NarrowCodePage gbk = GbkCodePage();
  EXPECT_EQ(gbk.fromUtf16(u"\u7B80"), "\xBC\xF2");
  EXPECT_EQ(gbk.toUtf16("\xBC\xF2"), u"\u7B80");
}

TEST(TraditionalChinese, ThroughQuillkit) {
  struct Row { const wchar_t* name; std::wstring in; std::wstring out; };
  const Row rows[] = {
      {L"simplified", L"\u7B80\u4F53\u4E2D\u6587", L"\u7C21\u9AD4\u4E2D\u6587"},
      {L"latin stays", L"film 1.avi", L"film 1.avi"},
      {L"empty", L"", L""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.name);
    EXPECT_EQ(SimplifiedToTraditional(std::wstring_view(r.in)), r.out);
    EXPECT_EQ(SimplifiedToTraditional(std::wstring_view(r.in), L"NoSuchQuillkit.dll"), r.in)
        << "without the library the text comes back";
  }
  // Texts past 260 GBK bytes are cut there on the way through.
  const std::wstring longText(300, L'\u7B80');
  EXPECT_EQ(SimplifiedToTraditional(std::wstring_view(longText)), std::wstring(130, L'\u7C21'));
}

TEST(ModuleInfo, VersionTexts) {
  HMODULE quillkit = LoadLibraryW(L"Quillkit.dll");
  ASSERT_NE(quillkit, nullptr);
  uint16_t v[4] = {};
  EXPECT_TRUE(GetModuleVersion(quillkit, v));
  EXPECT_EQ(GetModuleVersionText(quillkit), "1.0.3.7");
  FreeLibrary(quillkit);
  // The test program carries no version resource.
  EXPECT_FALSE(GetModuleVersion(nullptr, v));
  EXPECT_EQ(GetModuleVersionText(nullptr), "0.0.0.0");
}

TEST(ModuleInfo, ErrorTextAndProcessor) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  const std::string text = GetLastErrorText();
  EXPECT_EQ(text.rfind("errorcode:2, description: ", 0), 0u) << text;
  EXPECT_GT(text.size(), 26u) << "has the system's description";
  GetCpuName();  // present or not, it must not fail
}

TEST(ServiceOps, MissingFtpServiceGivesEmptyPath) {
  EXPECT_EQ(QueryServiceInfo(), L"");
}

TEST(WideText, TextFunctionsOnWideStrings) {
  EXPECT_EQ(MakeDirTableName(std::wstring_view(L"D:\\Video\\Show")), "_38ACD3BEFFE0F195EE5A003114D7F058");
  std::vector<std::wstring> lines = {L"vxhd://2|I|b.avi", L"ftp://h/x", L"vxhd://1|I|A.avi"};
  SortLinesAfterLastBar(lines);
  EXPECT_EQ(lines, (std::vector<std::wstring>{L"vxhd://1|I|A.avi", L"vxhd://2|I|b.avi", L"ftp://h/x"}));
  EXPECT_EQ(SizeUnitTextW(1536), L"1.5 K");
}

TEST(DesktopOps, DiskSpaceOfFixedDrives) {
  uint64_t freeBytes = 1, totalBytes = 0;
  GetDiskSpace(&freeBytes, &totalBytes);
  EXPECT_GT(totalBytes, 0u) << "drive C: is fixed";
  EXPECT_LE(freeBytes, totalBytes);
}
