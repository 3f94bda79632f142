// The FTP commands 65 to 69 through the dispatcher, with the Ferryline
// stand-in's journal showing what reached the library.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/log/server_logs.h"
#include "server/config/svr_config.h"
#include "server/control/codec/control_records.h"
#include "server/control/tests/command_call.h"
#include "foundation/util/tests/temp_dir.h"
#include "server/ftp/ftp_shares.h"

namespace {

std::vector<uint8_t> Name(const std::u16string& text) {
  std::vector<uint8_t> field(128, 0);
  for (size_t i = 0; i < text.size() && i < 64; ++i) field[2 * i] = uint8_t(text[i]), field[2 * i + 1] = uint8_t(text[i] >> 8);
  return field;
}
std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
std::vector<uint8_t> Account(const std::u16string& user, const std::u16string& password) {
  return Cat({Name(user), Name(password)});
}
std::vector<uint8_t> Address(uint32_t type, const std::u16string& host, uint16_t port) {
  return Cat({U32(type), Name(host), U16(port)});
}
std::u16string TextAt(const std::vector<uint8_t>& b, size_t at, size_t units) {
  std::u16string s;
  for (size_t i = 0; i < units && at + 2 * i + 1 < b.size(); ++i) {
    const char16_t c = char16_t(b[at + 2 * i] | b[at + 2 * i + 1] << 8);
    if (!c) break;
    s.push_back(c);
  }
  return s;
}
uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
const std::vector<uint8_t> k200 = {0xC8, 0x00};

class FtpCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(g_MainLog.Open((dir_ + L"od_server.Log").c_str(), 0, false), 1);
    SetEnvironmentVariableW(L"FERRYLINE_SETTINGS", (dir_ + L"Ferryline.ini").c_str());
    SetEnvironmentVariableW(L"FERRYLINE_JOURNAL", (dir_ + L"journal.txt").c_str());
    SetEnvironmentVariableW(L"FERRYLINE_STATE", (dir_ + L"state.ini").c_str());
    g_SvrConfig.UpdateFtp([](FtpConfig& ftp) { ftp = FtpConfig(); });
    SetFtpShareDirs({});
  }
  void TearDown() override {
    g_MainLog.Close();
    SetFtpShareDirs({});
  }
  std::string Read(const wchar_t* name) {
    g_MainLog.Flush();
    std::ifstream in((dir_ + name).c_str(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
  TempDir temp_{L"ftpcmd"};
  const std::wstring dir_ = temp_.Path() + L"\\";
};

TEST_F(FtpCommands, ChangesAreStoredAndPushedOnlyWhenTheyDiffer) {
  struct Row {
    const char* name;
    uint16_t code;
    std::vector<uint8_t> args;
    FtpConfig after;
    const char* call;  // the library call it makes, or null for none
  } rows[] = {
      {"66 first account", 66, Account(u"alice", u"s3cret"), {L"alice", L"s3cret", 1, L"", 21},
       "FRLI_AddShareDir user=alice pswd=s3cret count=0"},
      {"66 only the user's letter case differs", 66, Account(u"ALICE", u"s3cret"), {L"alice", L"s3cret", 1, L"", 21},
       nullptr},
      {"66 a password in other letter case is a new password", 66, Account(u"ALICE", u"S3CRET"),
       {L"alice", L"S3CRET", 1, L"", 21}, "FRLI_AddShareDir user=alice pswd=S3CRET count=0"},
      {"66 a new password", 66, Account(u"alice", u"other"), {L"alice", L"other", 1, L"", 21},
       "FRLI_AddShareDir user=alice pswd=other count=0"},
      {"66 anonymous", 66, Account(u"anonymous", u""), {L"anonymous", L"", 1, L"", 21},
       "FRLI_AddShareDir user=anonymous pswd= count=0"},
      {"66 short request clears both", 66, {}, {L"", L"", 1, L"", 21}, "FRLI_AddShareDir user= pswd= count=0"},
      {"68 address and port", 68, Address(1, u"10.0.0.5", 2121), {L"", L"", 1, L"10.0.0.5", 2121},
       "FRLI_SetCustomAddress host=10.0.0.5 port=2121"},
      {"68 domain without a port keeps the port", 68, Address(2, u"FTP.example.org", 0),
       {L"", L"", 2, L"FTP.example.org", 2121}, "FRLI_SetCustomAddress host=FTP.example.org port=2121"},
      {"68 only the letter case differs", 68, Address(2, u"ftp.EXAMPLE.org", 0), {L"", L"", 2, L"FTP.example.org", 2121},
       nullptr},
      {"68 only the host type differs", 68, Address(1, u"FTP.example.org", 2121), {L"", L"", 1, L"FTP.example.org", 2121},
       nullptr},
      {"68 a port of its own", 68, Address(1, u"FTP.example.org", 990), {L"", L"", 1, L"FTP.example.org", 990},
       "FRLI_SetCustomAddress host=FTP.example.org port=990"},
      {"68 an unknown host type is not taken", 68, Address(7, u"x.example", 990), {L"", L"", 1, L"x.example", 990},
       "FRLI_SetCustomAddress host=x.example port=990"},
      {"68 empty host and no port change nothing", 68, Address(2, u"", 0), {L"", L"", 2, L"x.example", 990}, nullptr},
      {"68 code alone changes nothing", 68, {}, {L"", L"", 2, L"x.example", 990}, nullptr},
  };
  size_t calls = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(Request(r.code, r.args), k200);
    const FtpConfig ftp = g_SvrConfig.Ftp();
    EXPECT_EQ(ftp.user, r.after.user);
    EXPECT_EQ(ftp.password, r.after.password);
    EXPECT_EQ(ftp.hostType, r.after.hostType);
    EXPECT_EQ(ftp.host, r.after.host);
    EXPECT_EQ(ftp.port, r.after.port);
    const std::string journal = Read(L"journal.txt");
    if (r.call) {
      ++calls;
      EXPECT_NE(journal.find(r.call), std::string::npos) << journal;
    }
    EXPECT_EQ(Count(journal, "FRLI_AddShareDir ") + Count(journal, "FRLI_SetCustomAddress "), calls) << journal;
    EXPECT_EQ(Count(journal, "FRLI_SetAccount"), Count(journal, "FRLI_AddShareDir ")) << "each push is applied";
  }
  const std::string log = Read(L"od_server.Log");
  EXPECT_EQ(Count(log, "] CMD - Set account of ftp"), 6u);
  EXPECT_EQ(Count(log, "] CMD - Set setting of ftp"), 8u);
}

TEST_F(FtpCommands, RepliesOfTheReadingCommands) {
  g_SvrConfig.UpdateFtp([](FtpConfig& ftp) {
    ftp.user = L"alice";
    ftp.password = L"abc";
    ftp.host = L"ftp.example.org";
    ftp.port = 2121;
  });
  SetFtpShareDirs({{L"C:\\Home", L"", 1}, {L"D:\\Video", L"C:\\Home\\0123", 0}});
  WritePrivateProfileStringW(L"ftp", L"netin", L"12345678901", (dir_ + L"Ferryline.ini").c_str());
  WritePrivateProfileStringW(L"ftp", L"netout", L"77", (dir_ + L"Ferryline.ini").c_str());
  WritePrivateProfileStringW(L"ftp", L"users", L"3", (dir_ + L"Ferryline.ini").c_str());

  const std::vector<uint8_t> account = Request(65);
  ASSERT_EQ(account.size(), 2 + sizeof(FtpAccountHead) + 2 * sizeof(FtpShareDirEntry));
  EXPECT_EQ(std::vector<uint8_t>(account.begin(), account.begin() + 2), k200);
  EXPECT_EQ(TextAt(account, 2, 64), u"alice");
  EXPECT_EQ(TextAt(account, 130, 64), u"900150983CD24FB0D6963F7D28E17F72") << "the password only as its digest";
  EXPECT_EQ(U32At(account, 258), 2u);
  EXPECT_EQ(TextAt(account, 262, 260), u"C:\\Home");
  EXPECT_EQ(U32At(account, 262 + 1040), 1u);
  EXPECT_EQ(TextAt(account, 262 + 1044, 260), u"D:\\Video");
  EXPECT_EQ(TextAt(account, 262 + 1044 + 520, 260), u"C:\\Home\\0123");
  EXPECT_EQ(U32At(account, 262 + 1044 + 1040), 0u);

  const std::vector<uint8_t> setting = Request(67);
  ASSERT_EQ(setting.size(), 132u);
  EXPECT_EQ(TextAt(setting, 2, 64), u"ftp.example.org");
  EXPECT_EQ(setting[130] | setting[131] << 8, 2121);

  const std::vector<uint8_t> stats = Request(69);
  ASSERT_EQ(stats.size(), 22u);
  FtpStatistics s;
  std::memcpy(&s, stats.data() + 2, sizeof s);
  EXPECT_EQ(s.first, 12345678901u);
  EXPECT_EQ(s.second, 77u);
  EXPECT_EQ(s.connections, 3u);

  g_SvrConfig.UpdateFtp([](FtpConfig& ftp) { ftp = FtpConfig(); });
  SetFtpShareDirs({});
  const std::vector<uint8_t> empty = Request(65);
  ASSERT_EQ(empty.size(), 2 + sizeof(FtpAccountHead));
  EXPECT_EQ(TextAt(empty, 2, 64), u"");
  EXPECT_EQ(TextAt(empty, 130, 64), u"") << "no password, no digest";
  EXPECT_EQ(U32At(empty, 258), 0u);

  const std::string log = Read(L"od_server.Log");
  for (const char* line : {"] CMD - Get account of ftp", "] CMD - Get setting of ftp", "] CMD - Get statistics of ftp"})
    EXPECT_NE(log.find(line), std::string::npos) << line;
}

}  // namespace
