// The string table as the program carries it (UTF-16, ids 128 to the last
// one) and as the English language library replaces it.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/wtl/module.h"
#include "ui/app/res_string.h"
#include "ui/res/resource.h"

namespace {

std::string Utf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

TEST(StringTable, EveryIdHasItsText) {
  for (unsigned id = 128; id <= IDS_LAST; ++id) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(LoadResString(id).empty());
  }
  struct Row {
    unsigned id;
    const wchar_t* text;
  } rows[] = {
      {128, L"OrchardUI"},
      {129, L"准备连接服务器"},
      {132, L"不能与服务连接，请确认服务是否启动"},
      {160, L"文件管理"},
      {163, L"状态设置"},
      {195, L"IP地址不能为空或0.0.0.0"},
      {196, L"Ftp的域名、ip、端口、账号或密码发生变化的，需要全部重新发布!\r\n否则可能会造成以前发布的链接无法下载的情况!"},
      {201, L"端口必须是1到65535之间的数字"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.id);
    EXPECT_EQ(Utf8(LoadResString(row.id)), Utf8(row.text));
  }
}

TEST(StringTable, LanguageLibraryReplacesTheTexts) {
  HMODULE library = LoadLibraryW(L"OrchardUI_ENU.DLL");
  ASSERT_NE(library, nullptr);
  HINSTANCE previous = wtl::SetResourceInstance(library);
  EXPECT_EQ(LoadResString(160), L"Files");
  EXPECT_EQ(LoadResString(128), L"OrchardUI");
  for (unsigned id = 128; id <= IDS_LAST; ++id) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(LoadResString(id).empty());
  }
  // The dialogs and the menu come from the library too.
  for (int dialog : {IDD_CONNDLG, IDD_SVRSTATUSDLG, IDD_CONFIGINDEXDLG, IDD_CONFIGDLG, IDD_SVRFTPSETDLG,
                     IDD_SVRP2PSETDLG, IDD_SVRINFODLG, IDD_USERDLG, IDD_UPLOADINGDLG}) {
    EXPECT_NE(FindResourceW(library, MAKEINTRESOURCEW(dialog), MAKEINTRESOURCEW(5)), nullptr) << dialog;
  }
  EXPECT_NE(FindResourceW(library, MAKEINTRESOURCEW(242), MAKEINTRESOURCEW(4)), nullptr);
  wtl::SetResourceInstance(previous);
  FreeLibrary(library);
  EXPECT_EQ(LoadResString(160), L"文件管理");
}

}  // namespace
