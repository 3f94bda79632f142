// Directory trees, attributes, moves, the application-data folder and module paths.
#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/util/file_ops.h"
#include "foundation/util/path_ops.h"
#include "foundation/util/tests/temp_dir.h"

namespace {

void Touch(const std::wstring& path) { WriteFileRange(path.c_str(), 0, "x", 1, true, false); }

// A junction at link pointing to target; false where the system has none.
bool MakeJunction(const std::wstring& link, const std::wstring& target) {
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  const std::wstring substitute = L"\\??\\" + target;
  std::vector<uint8_t> buf(8 + 8 + (substitute.size() + 1 + target.size() + 1) * 2);
  auto put16 = [&](size_t at, uint16_t v) { memcpy(&buf[at], &v, 2); };
  const uint32_t tag = IO_REPARSE_TAG_MOUNT_POINT;
  memcpy(&buf[0], &tag, 4);
  put16(4, static_cast<uint16_t>(buf.size() - 8));
  put16(8, 0);
  put16(10, static_cast<uint16_t>(substitute.size() * 2));
  put16(12, static_cast<uint16_t>((substitute.size() + 1) * 2));
  put16(14, static_cast<uint16_t>(target.size() * 2));
  memcpy(&buf[16], substitute.c_str(), substitute.size() * 2);
  memcpy(&buf[16 + (substitute.size() + 1) * 2], target.c_str(), target.size() * 2);
  HANDLE h = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD got = 0;
  const bool ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buf.data(), static_cast<DWORD>(buf.size()),
                                  nullptr, 0, &got, nullptr) != 0;
  CloseHandle(h);
  if (!ok) RemoveDirectoryW(link.c_str());
  return ok && (GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

TEST(DirectoryTree, CreateAndRemove) {
  TempDir dir(L"tree");
  const std::wstring deep = dir / L"a\\b\\c";
  EXPECT_TRUE(CreateDirectoryTree(deep.c_str()));
  EXPECT_TRUE(IsDirectory(deep.c_str()));
  EXPECT_TRUE(CreateDirectoryTree((dir.Path() + L"/a/b/c/").c_str())) << "existing, forward slashes";
  Touch(dir / L"a\\f1");
  Touch(dir / L"a\\b\\c\\f2");
  const std::wstring readOnly = dir / L"a\\b\\ro";
  Touch(readOnly);
  EXPECT_TRUE(SetFileReadOnly(readOnly.c_str(), true));

  EXPECT_TRUE(RemoveDirectoryTree((dir / L"a").c_str()));
  EXPECT_FALSE(PathExists((dir / L"a").c_str()));
  EXPECT_FALSE(RemoveDirectoryTree((dir / L"a").c_str())) << "already gone";
  EXPECT_FALSE(CreateDirectoryTree(L""));
  Touch(dir / L"file");
  EXPECT_FALSE(CreateDirectoryTree((dir / L"file\\sub").c_str())) << "a file is in the way";
}

TEST(DirectoryTree, RemoveLeavesLinkTargetsAlone) {
  // A junction where the system makes them; under Wine the test fixture's
  // Unix symlink, which Wine shows as a reparse point.
  TempDir dir(L"junction");
  std::wstring tree = dir / L"tree";
  std::wstring outside = dir / L"outside";
  CreateDirectoryW(outside.c_str(), nullptr);
  Touch(outside + L"\\keep.avi");
  CreateDirectoryW(tree.c_str(), nullptr);
  CreateDirectoryW((tree + L"\\sub").c_str(), nullptr);
  Touch(tree + L"\\sub\\f");
  if (!MakeJunction(tree + L"\\link", outside)) {
    wchar_t fixture[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"ORCHARD_LINK_FIXTURE", fixture, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) GTEST_SKIP() << "no junctions here and no link fixture";
    std::wstring base(fixture, n);
    for (wchar_t& c : base) c = c == L'/' ? L'\\' : c;
    tree = base + L"\\tree";
    outside = base + L"\\outside";
  }
  ASSERT_NE(GetFileAttributesW((tree + L"\\link").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  ASSERT_TRUE(PathExists((tree + L"\\link\\keep.avi").c_str()));

  const bool removed = RemoveDirectoryTree(tree.c_str());
  EXPECT_TRUE(PathExists((outside + L"\\keep.avi").c_str())) << "followed the link";
  EXPECT_FALSE(PathExists((tree + L"\\sub").c_str()));
  // Wine cannot remove a symlink to a directory; Windows removes the junction.
  EXPECT_EQ(removed, !PathExists(tree.c_str()));
}

TEST(FileAttributes, ReadOnlyAndMoves) {
  TempDir dir(L"attributes");
  const std::wstring f = dir / L"f";
  Touch(f);
  struct Row { const wchar_t* name; std::wstring path; bool flag; bool result; };
  const Row rows[] = {
      {L"set", f, true, true},
      {L"already set", f, true, false},
      {L"clear", f, false, true},
      {L"already clear", f, false, false},
      {L"empty path", L"", true, false},
      {L"missing", dir / L"missing", true, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.name);
    EXPECT_EQ(SetFileReadOnly(r.path.c_str(), r.flag), r.result);
  }
  const std::wstring g = dir / L"g";
  EXPECT_TRUE(CopyFilePath(f.c_str(), g.c_str()));
  EXPECT_TRUE(CopyFilePath(f.c_str(), g.c_str())) << "overwrites";
  EXPECT_EQ(MoveFilePath(g.c_str(), (dir / L"h").c_str()), 0u);
  EXPECT_EQ(MoveFilePath(g.c_str(), (dir / L"h2").c_str()), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(DeleteFilePath((dir / L"h").c_str()));
  EXPECT_FALSE(DeleteFilePath((dir / L"h").c_str()));
}

TEST(PathOps, WideJoinAndEnumeration) {
  EXPECT_EQ(PathJoin(std::wstring_view(L"C:\\media"), L"D:\\x.avi"), L"D:\\x.avi");
  EXPECT_EQ(PathJoin(std::wstring_view(L"C:\\media\\"), L"\\x.avi"), L"C:\\media\\x.avi");
  EXPECT_TRUE(IsPublishableFile(std::wstring_view(L"D:\\m\\film.RMVB")));

  TempDir dir(L"enumerate");
  Touch(dir / L"one");
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((dir / L"*").c_str(), &entry);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  do {
    if (!IsDotEntry(entry)) names.push_back(entry.cFileName);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  EXPECT_EQ(names, std::vector<std::wstring>{L"one"});
}

TEST(PathOps, ModuleAndAppDataDirectories) {
  const std::wstring moduleDir = GetModuleDir(nullptr);
  ASSERT_FALSE(moduleDir.empty());
  EXPECT_NE(moduleDir.back(), L'\\');
  EXPECT_TRUE(PathExists(ModulePathOf(L"foundation_util_tests.exe").c_str()));

  const std::wstring data = GetAppDataDir(L"ODStoreTest");
  EXPECT_TRUE(IsDirectory(data.c_str()));
  EXPECT_EQ(data.substr(data.size() - 12), L"\\ODStoreTest");
  RemoveDirectoryW(data.c_str());
}
