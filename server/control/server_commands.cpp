// Commands about the server itself: 81 information, 82 system, 83
// performance, 129 close.
#include "server/control/server_commands.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "foundation/log/server_logs.h"
#include "foundation/util/module_info.h"
#include "server/control/codec/control_fields.h"
#include "server/control/control_reply.h"
#include "server/control/p2p_api.h"
#include "server/control/server_state.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "record texts are the system's UTF-16");

namespace {

const char16_t* Utf16(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }

}  // namespace

void OnGetServerInfo(CStreamReader&, CByteBuffer* reply) {
  WriteLog(&g_MainLog, 1, "CMD - Get infomatin of server");
  if (!P2pLoggedIn()) {
    Reply(reply, ControlStatus::NotLoggedIn);
    return;
  }
  P2pIdentity id = P2pLoginIdentity();
  ServerInfoBlock block{};
  PutTextField(block.status, kNameUnits, Utf16(ServerStatus()));
  block.nodeId = id.nodeId;
  block.publicIp = id.publicIp;
  block.dirCount = PublishedDirectoryCount();
  block.shareCount = static_cast<uint32_t>(p2p_get_share_count());
  ReplyRecord(reply, ControlStatus::Ok, block);
}

void OnGetSystemInfo(CStreamReader&, CByteBuffer* reply) {
  WriteLog(&g_MainLog, 1, "CMD - Get system infomation of server");
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  BOOL known = GetVersionExW(&version);
#pragma GCC diagnostic pop
  if (!known) {
    Reply(reply, ControlStatus::Ok);
    return;
  }
  wchar_t os[160];
  std::swprintf(os, sizeof os / sizeof os[0], L"%d.%d.%d.%d %ls", static_cast<int>(version.dwMajorVersion),
                static_cast<int>(version.dwMinorVersion), 0, static_cast<int>(version.dwBuildNumber),
                version.szCSDVersion);
  SystemInfoBlock block{};
  PutTextField(block.os, kNameUnits, Utf16(os));
  PutTextField(block.cpu, kNameUnits, Utf16(GetCpuName().c_str()));
  ReplyRecord(reply, ControlStatus::Ok, block);
}

void OnGetPerformance(CStreamReader&, CByteBuffer* reply) {
  WriteLog(&g_MainLog, 1, "CMD - Get performance of server");
  MEMORYSTATUS memory{};
  memory.dwLength = sizeof memory;
  GlobalMemoryStatus(&memory);
  PerformanceBlock block{};
  block.totalPhys = ClampToU32(memory.dwTotalPhys);
  block.availPhys = ClampToU32(memory.dwAvailPhys);
  block.availVirtual = ClampToU32(memory.dwAvailVirtual);
  ReplyRecord(reply, ControlStatus::Ok, block);
}

void OnCloseServer(CStreamReader&, CByteBuffer* reply) {
  WriteLog(&g_MainLog, 1, "CMD - Close Server");
  Reply(reply, ControlStatus::Ok);
  // The reply is in place before the window thread starts to stop the server;
  // the channel's stop waits for this thread to send it.
  HWND window = ServerWindow();
  if (window) PostMessageW(window, WM_CLOSE, 0, 0);
}
