// The dispatcher and the server commands 81, 82, 83 and 129, called the way
// the channel calls them: a request body in, a reply body out.
#include "server/control/command_dispatch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/log/server_logs.h"
#include "server/control/command_table.h"
#include "server/control/server_state.h"

namespace {

std::vector<uint8_t> Call(const std::vector<uint8_t>& body) {
  CByteBuffer request, reply;
  if (!body.empty()) request.Append(body.data(), static_cast<uint32_t>(body.size()));
  OnTransferCommand(&request, &reply);
  return std::vector<uint8_t>(reply.Data(), reply.Data() + reply.Length());
}

std::vector<uint8_t> Code(uint16_t code) { return {static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>(code >> 8)}; }

uint16_t Status(const std::vector<uint8_t>& reply) { return reply.size() < 2 ? 0 : uint16_t(reply[0] | reply[1] << 8); }

template <class Block>
Block Payload(const std::vector<uint8_t>& reply) {
  Block b{};
  EXPECT_EQ(reply.size(), 2 + sizeof b);
  if (reply.size() == 2 + sizeof b) std::memcpy(&b, reply.data() + 2, sizeof b);
  return b;
}

std::wstring Text(const char16_t* units, size_t n) {
  std::wstring s;
  for (size_t i = 0; i < n && units[i]; ++i) s.push_back(static_cast<wchar_t>(units[i]));
  return s;
}

// The main log in a temporary file, for the commands' log lines.
class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    logPath_ = std::wstring(temp) + L"orchard_dispatch_" + std::to_wstring(GetCurrentProcessId()) + L".Log";
    ASSERT_EQ(g_MainLog.Open(logPath_.c_str(), 0, false), 1);
  }
  void TearDown() override {
    g_MainLog.Close();
    DeleteFileW(logPath_.c_str());
    ClearP2pLoggedIn();
    SetServerWindow(nullptr);
  }
  std::string Log() {
    g_MainLog.Flush();
    std::ifstream in(logPath_.c_str(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::wstring logPath_;
};

TEST_F(DispatchTest, UnknownAndShortRequestsGetEmptyReplies) {
  struct Row { const char* name; std::vector<uint8_t> body; };
  const Row rows[] = {
      {"empty body", {}},
      {"one byte", {81}},
      {"code 0", Code(0)},
      {"code without a command", Code(3)},
      {"code between commands", Code(100)},
      {"just above the last", Code(132)},
      {"largest code", Code(0xFFFF)},
      {"unknown code with arguments", {50, 0, 1, 2, 3}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_TRUE(Call(r.body).empty());
  }
  EXPECT_EQ(Log(), "") << "unknown codes log nothing";
}

TEST_F(DispatchTest, TableRowsAreDistinctKnownCodes) {
  std::set<uint16_t> seen;
  for (const CommandEntry* e = CommandTableBegin(); e != CommandTableEnd(); ++e) {
    uint16_t code = static_cast<uint16_t>(e->code);
    SCOPED_TRACE(code);
    EXPECT_GT(code, 0);
    EXPECT_LE(code, kLastControlCommand);
    EXPECT_NE(e->handler, nullptr);
    EXPECT_TRUE(seen.insert(code).second) << "code listed twice";
    EXPECT_EQ(FindCommand(code), e);
  }
}

TEST_F(DispatchTest, ServerInfoNeedsP2pLogin) {
  EXPECT_EQ(Call(Code(81)), (std::vector<uint8_t>{0xF6, 0x01})) << "502 alone while not logged in";

  P2pIdentity id;
  id.nodeId = 0x1122334455667788ull;
  id.publicIp = 0x0100007F;
  SetServerStatus(kStatusP2pLoggedIn);
  SetP2pLoggedIn(id);
  std::vector<uint8_t> reply = Call(Code(81));
  EXPECT_EQ(Status(reply), 200);
  ServerInfoBlock block = Payload<ServerInfoBlock>(reply);
  EXPECT_EQ(Text(block.status, kNameUnits), kStatusP2pLoggedIn);
  EXPECT_EQ(block.nodeId, id.nodeId);
  EXPECT_EQ(block.publicIp, id.publicIp);

  ClearP2pLoggedIn();
  EXPECT_EQ(Status(Call(Code(81))), 502);
  EXPECT_NE(Log().find("] CMD - Get infomatin of server"), std::string::npos);
}

TEST_F(DispatchTest, SystemInfoDescribesTheSystem) {
  std::vector<uint8_t> reply = Call(Code(82));
  ASSERT_EQ(Status(reply), 200);
  SystemInfoBlock block = Payload<SystemInfoBlock>(reply);
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ASSERT_TRUE(GetVersionExW(&v));
#pragma GCC diagnostic pop
  std::wstring expected = std::to_wstring(v.dwMajorVersion) + L"." + std::to_wstring(v.dwMinorVersion) + L".0." +
                          std::to_wstring(v.dwBuildNumber) + L" " + v.szCSDVersion;
  EXPECT_EQ(Text(block.os, kNameUnits), expected.substr(0, kNameUnits));
  EXPECT_NE(Log().find("] CMD - Get system infomation of server"), std::string::npos);
}

TEST_F(DispatchTest, PerformanceReportsMemory) {
  std::vector<uint8_t> reply = Call(Code(83));
  ASSERT_EQ(Status(reply), 200);
  PerformanceBlock block = Payload<PerformanceBlock>(reply);
  EXPECT_GT(block.totalPhys, 0u);
  EXPECT_LE(block.availPhys, block.totalPhys);
  EXPECT_GT(block.availVirtual, 0u);
  EXPECT_EQ(block.reserved0, 0u);
  EXPECT_EQ(block.reserved1, 0u);
  EXPECT_NE(Log().find("] CMD - Get performance of server"), std::string::npos);
}

TEST_F(DispatchTest, CloseAnswersThenPostsCloseToTheWindow) {
  EXPECT_EQ(Call(Code(129)), (std::vector<uint8_t>{0xC8, 0x00})) << "200 even before a window exists";

  HWND window = CreateWindowExW(0, L"STATIC", L"test", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  SetServerWindow(window);
  std::vector<uint8_t> args = Code(129);
  args.push_back(7);  // trailing bytes change nothing
  EXPECT_EQ(Call(args), (std::vector<uint8_t>{0xC8, 0x00}));
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, window, WM_CLOSE, WM_CLOSE, PM_REMOVE)) << "WM_CLOSE posted";
  EXPECT_FALSE(PeekMessageW(&msg, window, WM_CLOSE, WM_CLOSE, PM_REMOVE)) << "only once";
  DestroyWindow(window);
  EXPECT_NE(Log().find("] CMD - Close Server"), std::string::npos);
}

}  // namespace
