// Commands about the P2P core. The record buffers of 97 and 98 are kept for
// the life of the process and used only by the channel's thread.
#include "server/control/p2p_commands.h"

#include <cstring>
#include <new>
#include <vector>

#include "foundation/log/server_logs.h"
#include "server/config/svr_config.h"
#include "server/control/codec/control_fields.h"
#include "server/control/control_reply.h"
#include "server/control/p2p_api.h"
#include "server/control/server_state.h"

namespace {

#pragma pack(push, 1)
struct P2pStatisticsBlock {
  p2p_stat_totals totals;
  p2p_stat_info info;
};
#pragma pack(pop)
static_assert(sizeof(P2pStatisticsBlock) == 80, "P2P statistics are 24 + 56 bytes");

constexpr int kUserRows = 1024;

// Status, u32 n and n records in one append; 200 alone when n is 0.
void ReplyRows(CByteBuffer* reply, const void* rows, uint32_t n, uint32_t rowSize) {
  if (n == 0) {
    Reply(reply, ControlStatus::Ok);
    return;
  }
  std::vector<uint8_t> payload;
  try {
    payload.resize(4 + size_t(n) * rowSize);
  } catch (const std::bad_alloc&) {
    Reply(reply, ControlStatus::Ok);
    return;
  }
  std::memcpy(payload.data(), &n, 4);
  std::memcpy(payload.data() + 4, rows, size_t(n) * rowSize);
  Reply(reply, ControlStatus::Ok, payload.data(), static_cast<uint32_t>(payload.size()));
}

}  // namespace

void OnGetUserList(CStreamReader&, CByteBuffer* reply) {
  WriteLog(&g_MainLog, 1, "CMD - Get list of user");
  if (!P2pLoggedIn()) {
    Reply(reply, ControlStatus::NotLoggedIn);
    return;
  }
  static upload_user_info* rows = new (std::nothrow) upload_user_info[kUserRows]();
  if (!rows) {
    Reply(reply, ControlStatus::Ok);
    return;
  }
  int n = p2p_get_uplist(rows, kUserRows);
  if (n < 0) n = 0;
  if (n > kUserRows) n = kUserRows;
  ReplyRows(reply, rows, static_cast<uint32_t>(n), sizeof(upload_user_info));
}

void OnGetUploadingList(CStreamReader&, CByteBuffer* reply) {
  WriteLog(&g_MainLog, 1, "CMD - Get list of uploading file");
  if (!P2pLoggedIn()) {
    Reply(reply, ControlStatus::NotLoggedIn);
    return;
  }
  static share_file_info* rows = nullptr;
  static uint32_t capacity = 0;
  const int count = p2p_get_share_filelist(nullptr, 0);
  if (count <= 0) {
    WriteLog(&g_MainLog, 1, "CMD - Get uploading file 0");
    Reply(reply, ControlStatus::Ok);
    return;
  }
  if (static_cast<uint32_t>(count) > capacity) {
    delete[] rows;
    capacity = 0;
    rows = new (std::nothrow) share_file_info[static_cast<uint32_t>(count)]();
    if (!rows) {
      Reply(reply, ControlStatus::Ok);
      return;
    }
    capacity = static_cast<uint32_t>(count);
  }
  int n = p2p_get_share_filelist(rows, capacity);
  if (n < 0) n = 0;
  if (static_cast<uint32_t>(n) > capacity) n = static_cast<int>(capacity);
  if (n != 0) WriteLog(&g_MainLog, 1, "CMD - Get uploading file %d", n);
  ReplyRows(reply, rows, static_cast<uint32_t>(n), sizeof(share_file_info));
}

void OnGetP2pSetting(CStreamReader&, CByteBuffer* reply) {
  WriteLog(&g_MainLog, 1, "CMD - Get setting of p2p");
  P2pSetting block{};
  block.maxUpSpeed = static_cast<uint32_t>(g_SvrConfig.p2pMaxUpSpeed);
  block.logLevel = static_cast<uint16_t>(g_SvrConfig.p2pLogLevel);
  block.port = static_cast<uint16_t>(g_SvrConfig.p2pPort);
  ReplyRecord(reply, ControlStatus::Ok, block);
}

void OnSetP2pMaxUpSpeed(CStreamReader& request, CByteBuffer* reply) {
  const int speed = static_cast<int>(request.ReadUInt32());
  WriteLog(&g_MainLog, 1, "CMD - Set P2P MaxUpSpeed %d", speed);
  if (speed != g_SvrConfig.p2pMaxUpSpeed) {
    set_p2p_upload_speed_max(speed);
    g_SvrConfig.p2pMaxUpSpeed = speed;
  }
  Reply(reply, ControlStatus::Ok);
}

void OnSetP2pLogLevel(CStreamReader& request, CByteBuffer* reply) {
  const int level = request.ReadUInt16();
  WriteLog(&g_MainLog, 1, "CMD - Set level of log of p2p");
  if (level != g_SvrConfig.p2pLogLevel) {
    set_p2p_debug_level(level);
    g_SvrConfig.p2pLogLevel = level;
  }
  Reply(reply, ControlStatus::Ok);
}

void OnSetP2pPort(CStreamReader& request, CByteBuffer* reply) {
  WriteLog(&g_MainLog, 1, "CMD - Set port of p2p");
  if (!P2pLoggedIn()) {
    Reply(reply, ControlStatus::NotLoggedIn);
    return;
  }
  const uint16_t port = request.ReadUInt16();
  if (port != g_SvrConfig.p2pPort && !p2p_initialize_network(port)) {
    char16_t text[32];
    PutTextField(text, 32, u"不能初始化此端口");
    Reply(reply, ControlStatus::PortInitFailed, text, sizeof text);
    return;
  }
  g_SvrConfig.p2pPort = port;
  Reply(reply, ControlStatus::Ok);
}

void OnGetP2pStatistics(CStreamReader&, CByteBuffer* reply) {
  WriteLog(&g_MainLog, 1, "CMD - Get statistics of p2p");
  if (!P2pLoggedIn()) {
    Reply(reply, ControlStatus::NotLoggedIn);
    return;
  }
  P2pStatisticsBlock block{};
  if (!p2p_get_statinfo(&block.totals, &block.info)) return;  // empty reply
  ReplyRecord(reply, ControlStatus::Ok, block);
}

void OnResumeUpload(CStreamReader&, CByteBuffer*) {
  if (P2pLoggedIn()) p2p_pause_upload(0);
}

void OnPauseUpload(CStreamReader&, CByteBuffer*) {
  if (P2pLoggedIn()) p2p_pause_upload(1);
}
