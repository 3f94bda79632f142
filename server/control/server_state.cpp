// Process-wide state shared by the controller window and the control commands.
#include "server/control/server_state.h"

#include "foundation/sync/locks.h"

const wchar_t kStatusStarting[] = L"开始启动服务";
const wchar_t kStatusP2pInit[] = L"初始化P2P服务";
const wchar_t kStatusFtpStarting[] = L"开始启动FTP服务";
const wchar_t kStatusP2pStarting[] = L"开始启动P2P服务";
const wchar_t kStatusP2pLoggedIn[] = L"成功登陆P2P服务器";
const wchar_t kStatusFtpLogon[] = L"登陆FTP服务器";
const wchar_t kStatusFtpStopped[] = L"停止FTP服务";
const wchar_t kStatusP2pLoggedOut[] = L"注销P2P服务";
const wchar_t kStatusStopped[] = L"服务停止";
const wchar_t kStatusP2pPaused[] = L"暂停P2P服务";

namespace {
std::atomic<bool> g_loggedIn{false};
CLock g_identityLock;
P2pIdentity g_identity;
// Only ever points at one of the constant texts above, so a reader on another
// thread always sees a whole text.
std::atomic<const wchar_t*> g_status{L""};
std::atomic<HWND> g_window{nullptr};
}  // namespace

bool P2pLoggedIn() { return g_loggedIn.load(); }

void SetP2pLoggedIn(const P2pIdentity& identity) {
  {
    CLockGuard hold(g_identityLock);
    g_identity = identity;
  }
  g_loggedIn.store(true);
}

void ClearP2pLoggedIn() { g_loggedIn.store(false); }

P2pIdentity P2pLoginIdentity() {
  CLockGuard hold(g_identityLock);
  return g_identity;
}

void SetServerStatus(const wchar_t* status) { g_status.store(status ? status : L""); }
const wchar_t* ServerStatus() { return g_status.load(); }

void SetServerWindow(HWND window) { g_window.store(window); }
HWND ServerWindow() { return g_window.load(); }

