// The P2P commands 97, 98, 113 to 117, 130 and 131 through the dispatcher,
// before and after the P2P login, with the real P2P core linked.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/log/server_logs.h"
#include "server/config/svr_config.h"
#include "server/control/command_dispatch.h"
#include "server/control/p2p_api.h"
#include "server/control/server_state.h"
#include "server/control/tests/command_call.h"

namespace {

const std::vector<uint8_t> k502 = {0xF6, 0x01};
const std::vector<uint8_t> k200 = {0xC8, 0x00};

uint16_t BoundUdpPort(SOCKET* keep) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  *keep = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  bind(*keep, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int len = sizeof a;
  getsockname(*keep, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

class P2pCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"orchard_p2pcmd_" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(dir_.c_str(), nullptr);
    ASSERT_EQ(g_MainLog.Open((dir_ + L"od_server.Log").c_str(), 0, false), 1);
    g_SvrConfig.p2pMaxUpSpeed = 100;
    g_SvrConfig.p2pLogLevel = 9;
    g_SvrConfig.p2pPort = 8000;
  }
  void TearDown() override {
    g_MainLog.Close();
    ClearP2pLoggedIn();
    DeleteFileW((dir_ + L"od_server.Log").c_str());
    DeleteFileW((dir_ + L"a.wmv").c_str());
    RemoveDirectoryW(dir_.c_str());
  }
  std::string Log() {
    g_MainLog.Flush();
    std::ifstream in((dir_ + L"od_server.Log").c_str(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::wstring dir_;
};

TEST_F(P2pCommands, BeforeLogin) {
  struct Row { const char* name; uint16_t code; std::vector<uint8_t> args; std::vector<uint8_t> reply; const char* log; };
  const Row rows[] = {
      {"97 users", 97, {}, k502, "CMD - Get list of user"},
      {"98 shared files", 98, {}, k502, "CMD - Get list of uploading file"},
      {"116 port", 116, U16(8123), k502, "CMD - Set port of p2p"},
      {"117 statistics", 117, {}, k502, "CMD - Get statistics of p2p"},
      {"130 resume", 130, {}, {}, nullptr},
      {"131 pause", 131, {}, {}, nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(Request(r.code, r.args), r.reply);
    if (r.log) {
      EXPECT_NE(Log().find(std::string("] ") + r.log), std::string::npos);
    }
  }
  EXPECT_EQ(g_SvrConfig.p2pPort, 8000) << "116 leaves the kept port while not logged in";
}

TEST_F(P2pCommands, KeptSettingsInAnyState) {
  struct Row { const char* name; uint16_t code; std::vector<uint8_t> args; uint32_t speed; uint16_t level; };
  const Row rows[] = {
      {"113 reads the kept values", 113, {}, 100, 9},
      {"114 sets the speed", 114, U32(250), 250, 9},
      {"114 with the same speed", 114, U32(250), 250, 9},
      {"115 sets the level", 115, U16(8), 250, 8},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<uint8_t> reply = Request(r.code, r.args);
    if (r.code == 113) {
      EXPECT_EQ(reply.size(), 10u);
    } else {
      EXPECT_EQ(reply, k200);
    }
    std::vector<uint8_t> setting = Request(113);
    ASSERT_EQ(setting.size(), 10u);
    uint32_t speed;
    uint16_t level, port;
    std::memcpy(&speed, setting.data() + 2, 4);
    std::memcpy(&level, setting.data() + 6, 2);
    std::memcpy(&port, setting.data() + 8, 2);
    EXPECT_EQ(speed, r.speed);
    EXPECT_EQ(level, r.level);
    EXPECT_EQ(port, 8000);
  }
  const std::string log = Log();
  EXPECT_NE(log.find("] CMD - Get setting of p2p"), std::string::npos);
  EXPECT_NE(log.find("] CMD - Set P2P MaxUpSpeed 250"), std::string::npos);
  EXPECT_NE(log.find("] CMD - Set level of log of p2p"), std::string::npos);
}

TEST_F(P2pCommands, LoggedIn) {
  SetP2pLoggedIn(P2pIdentity{});
  EXPECT_EQ(Request(98), k200);
  EXPECT_NE(Log().find("] CMD - Get uploading file 0"), std::string::npos);
  EXPECT_EQ(Request(97), k200);

  // One shared file through the core, listed by 98.
  const std::wstring file = dir_ + L"a.wmv";
  {
    std::ofstream out(file.c_str(), std::ios::binary);
    out << std::string(1000, 'x');
  }
  uint8_t fid[16] = {1, 2, 3};
  ASSERT_EQ(p2p_add_share(file.c_str(), 1000, fid), 0);
  std::vector<uint8_t> list = Request(98);
  ASSERT_EQ(list.size(), 2u + 4 + sizeof(share_file_info));
  EXPECT_EQ(Status(list), 200);
  EXPECT_EQ(list[2], 1);
  share_file_info row;
  std::memcpy(&row, list.data() + 6, sizeof row);
  EXPECT_EQ(std::memcmp(row.fid, fid, 16), 0);
  EXPECT_EQ(uint64_t(row.size), 1000u);
  EXPECT_NE(Log().find("] CMD - Get uploading file 1"), std::string::npos);
  p2p_delete_share_byfid(fid, 16, 0);

  std::vector<uint8_t> stats = Request(117);
  EXPECT_EQ(stats.size(), 2u + 24 + 56);
  EXPECT_EQ(Status(stats), 200);

  EXPECT_EQ(Request(116, U16(8000)), k200) << "the kept port: the core is not touched";
  SOCKET taken;
  const uint16_t busy = BoundUdpPort(&taken);
  std::vector<uint8_t> refused = Request(116, U16(busy));
  ASSERT_EQ(refused.size(), 2u + 64);
  EXPECT_EQ(Status(refused), 501);
  std::u16string text(reinterpret_cast<const char16_t*>(refused.data() + 2), 8);
  EXPECT_EQ(text, u"不能初始化此端口");
  EXPECT_EQ(refused[2 + 16], 0);
  EXPECT_EQ(g_SvrConfig.p2pPort, 8000);
  closesocket(taken);
  EXPECT_EQ(Request(116, U16(busy)), k200);
  EXPECT_EQ(g_SvrConfig.p2pPort, busy);

  EXPECT_TRUE(Request(131).empty());
  EXPECT_TRUE(Request(130).empty());
}

}  // namespace
