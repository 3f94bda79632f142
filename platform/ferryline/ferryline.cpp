// Ferryline stand-in: keeps what OrchardSvc hands it, answers from that or
// from its settings file, sends the log-on events from its own thread and
// journals every call.
#define FERRYLINE_BUILDING
#include "platform/ferryline/ferryline.h"

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "foundation/codec/md5.h"

namespace {

std::mutex g_lock;
struct Guard {
  std::lock_guard<std::mutex> hold{g_lock};
};

// Everything below is guarded by g_lock.
struct State {
  bool initialised = false;
  bool started = false;
  bool loggedOn = false;
  FRLI_CALLBACK callback = nullptr;
  void* context = nullptr;
  std::vector<FRLI_SHARE_DIR> shares;
  bool sharesGiven = false;
  std::wstring pendingUser, pendingPassword;
  bool accountGiven = false;
  bool accountApplied = false;
  std::wstring user, passwordDigest;
  bool addressGiven = false;
  std::wstring host;
  uint32_t port = 21;
  HANDLE eventThread = nullptr;
};
State g_state;

std::wstring ModuleDir() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ModuleDir), &self);
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  std::wstring dir(path, n < MAX_PATH ? n : 0);
  const size_t bar = dir.find_last_of(L"\\/");
  return bar == std::wstring::npos ? std::wstring() : dir.substr(0, bar + 1);
}

std::wstring FileFromEnv(const wchar_t* variable, const wchar_t* fallback) {
  wchar_t value[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(variable, value, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return value;
  return ModuleDir() + fallback;
}

std::wstring Setting(const wchar_t* key, const wchar_t* fallback) {
  const std::wstring file = FileFromEnv(L"FERRYLINE_SETTINGS", L"Ferryline.ini");
  wchar_t value[512] = {};
  GetPrivateProfileStringW(L"ftp", key, fallback, value, 512, file.c_str());
  return value;
}

uint64_t SettingNumber(const wchar_t* key, uint64_t fallback) {
  const std::wstring text = Setting(key, L"");
  if (text.empty()) return fallback;
  return wcstoull(text.c_str(), nullptr, 10);
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? size_t(n) : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Text(const wchar_t* text, size_t max = SIZE_MAX) {
  if (!text) return {};
  size_t n = 0;
  while (n < max && text[n]) ++n;
  return std::wstring(text, n);
}

void Journal(const std::string& line) {
  const std::wstring file = FileFromEnv(L"FERRYLINE_JOURNAL", L"ferryline_journal.txt");
  HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\r\n";
  DWORD done = 0;
  WriteFile(h, text.data(), DWORD(text.size()), &done, nullptr);
  CloseHandle(h);
}

// Copies text into a zero-filled buffer of units, always terminated.
void CopyOut(wchar_t* buffer, size_t units, const std::wstring& text) {
  if (!buffer) return;
  ZeroMemory(buffer, units * sizeof(wchar_t));
  const size_t n = text.size() < units - 1 ? text.size() : units - 1;
  CopyMemory(buffer, text.data(), n * sizeof(wchar_t));
}

std::wstring PasswordDigest(const std::wstring& password) {
  if (password.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, password.data(), int(password.size()), nullptr, 0, nullptr, nullptr);
  std::string ansi(n > 0 ? size_t(n) : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, password.data(), int(password.size()), ansi.data(), n, nullptr, nullptr);
  uint8_t digest[16];
  MD5Digest(ansi.data(), ansi.size(), digest);
  static const wchar_t digits[] = L"0123456789ABCDEF";
  std::wstring out;
  for (uint8_t b : digest) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::wstring StateFile() { return FileFromEnv(L"FERRYLINE_STATE", L"Ferryline_state.ini"); }

// Under g_lock: what was given, into the state file.
void SaveState() {
  const std::wstring file = StateFile();
  // A file that starts with the UTF-16 mark is written in UTF-16, so paths of any language survive.
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    const unsigned char mark[2] = {0xFF, 0xFE};
    DWORD done = 0;
    WriteFile(h, mark, sizeof mark, &done, nullptr);
    CloseHandle(h);
  }
  WritePrivateProfileStringW(L"account", nullptr, nullptr, file.c_str());
  WritePrivateProfileStringW(L"address", nullptr, nullptr, file.c_str());
  WritePrivateProfileStringW(L"shares", nullptr, nullptr, file.c_str());
  if (g_state.accountApplied) {
    WritePrivateProfileStringW(L"account", L"user", g_state.user.c_str(), file.c_str());
    WritePrivateProfileStringW(L"account", L"pswd_md5", g_state.passwordDigest.c_str(), file.c_str());
  }
  if (g_state.addressGiven) {
    WritePrivateProfileStringW(L"address", L"host", g_state.host.c_str(), file.c_str());
    WritePrivateProfileStringW(L"address", L"port", std::to_wstring(g_state.port).c_str(), file.c_str());
  }
  if (g_state.sharesGiven) {
    WritePrivateProfileStringW(L"shares", L"count", std::to_wstring(g_state.shares.size()).c_str(), file.c_str());
    for (size_t i = 0; i < g_state.shares.size(); ++i) {
      const FRLI_SHARE_DIR& e = g_state.shares[i];
      const std::wstring n = std::to_wstring(i);
      WritePrivateProfileStringW(L"shares", (L"local" + n).c_str(), Text(e.localPath, FRLI_PATH_UNITS).c_str(), file.c_str());
      WritePrivateProfileStringW(L"shares", (L"ftp" + n).c_str(), Text(e.ftpPath, FRLI_PATH_UNITS).c_str(), file.c_str());
      WritePrivateProfileStringW(L"shares", (L"flag" + n).c_str(), std::to_wstring(e.flag).c_str(), file.c_str());
    }
  }
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.c_str());
}

std::wstring StateText(const wchar_t* section, const wchar_t* key, const std::wstring& file) {
  wchar_t value[FRLI_PATH_UNITS] = {};
  GetPrivateProfileStringW(section, key, L"", value, FRLI_PATH_UNITS, file.c_str());
  return value;
}

void CopyIn(wchar_t (&field)[FRLI_PATH_UNITS], const std::wstring& text) {
  ZeroMemory(field, sizeof field);
  CopyMemory(field, text.data(), (text.size() < FRLI_PATH_UNITS - 1 ? text.size() : FRLI_PATH_UNITS - 1) * sizeof(wchar_t));
}

// Under g_lock: the state file, when there is one, into the kept state.
void LoadState() {
  const std::wstring file = StateFile();
  if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  const std::wstring user = StateText(L"account", L"user", file);
  const std::wstring digest = StateText(L"account", L"pswd_md5", file);
  if (!user.empty() || !digest.empty()) {
    g_state.user = user;
    g_state.passwordDigest = digest;
    g_state.accountApplied = true;
  }
  const std::wstring host = StateText(L"address", L"host", file);
  if (!host.empty()) {
    g_state.host = host;
    g_state.port = GetPrivateProfileIntW(L"address", L"port", 21, file.c_str());
    g_state.addressGiven = true;
  }
  const UINT count = GetPrivateProfileIntW(L"shares", L"count", 0, file.c_str());
  g_state.shares.clear();
  for (UINT i = 0; i < count && i < 10000; ++i) {
    const std::wstring n = std::to_wstring(i);
    FRLI_SHARE_DIR e = {};
    CopyIn(e.localPath, StateText(L"shares", (L"local" + n).c_str(), file));
    CopyIn(e.ftpPath, StateText(L"shares", (L"ftp" + n).c_str(), file));
    e.flag = GetPrivateProfileIntW(L"shares", (L"flag" + n).c_str(), 0, file.c_str());
    g_state.shares.push_back(e);
  }
  g_state.sharesGiven = count != 0;
}

DWORD WINAPI EventThread(void*) {
  FRLI_CALLBACK callback;
  FRLI_EVENT event = {};
  {
    Guard g;
    callback = g_state.callback;
    event.context = g_state.context;
  }
  const std::wstring events = Setting(L"events", L"0,1,2,5,6");
  // As a slow FTP server program would: the log-on is answered later.
  Sleep(DWORD(SettingNumber(L"eventdelay", 0)));
  size_t at = 0;
  while (at < events.size()) {
    size_t end = events.find(L',', at);
    if (end == std::wstring::npos) end = events.size();
    const std::wstring item = events.substr(at, end - at);
    at = end + 1;
    if (item.empty()) continue;
    const int type = _wtoi(item.c_str());
    // The callback may call back into the library: no lock is held here.
    const int result = callback ? callback(type, &event) : 0;
    Journal("event type=" + std::to_string(type) + " result=" + std::to_string(result));
  }
  return 0;
}

// Waits for the event thread outside the lock, as its callbacks take it.
void EndEventThread() {
  HANDLE thread;
  {
    Guard g;
    thread = g_state.eventThread;
    g_state.eventThread = nullptr;
  }
  if (!thread) return;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

}  // namespace

extern "C" {

int FRLI_Init(const wchar_t* serverProgram, FRLI_CALLBACK callback, void* context) {
  const std::wstring program = Text(serverProgram);
  const bool ok = !program.empty() && SettingNumber(L"init", 1) != 0;
  {
    Guard g;
    if (ok) {
      LoadState();
      g_state.initialised = true;
      g_state.callback = callback;
      g_state.context = context;
    }
  }
  Journal("FRLI_Init program=" + Utf8(program) + " callback=" + (callback ? "set" : "none") +
          " context=" + (context ? "set" : "none") + " result=" + (ok ? "1" : "0"));
  return ok ? 1 : 0;
}

void FRLI_Term(void) {
  EndEventThread();
  {
    Guard g;
    g_state = State();
  }
  Journal("FRLI_Term");
}

int FRLI_StartSvr(void) {
  bool ok;
  {
    Guard g;
    ok = g_state.initialised && SettingNumber(L"start", 1) != 0;
    if (ok) g_state.started = true;
  }
  Journal(std::string("FRLI_StartSvr result=") + (ok ? "1" : "0"));
  return ok ? 1 : 0;
}

void FRLI_StopSvr(void) {
  {
    Guard g;
    g_state.started = false;
  }
  Journal("FRLI_StopSvr");
}

int FRLI_LogOn(void) {
  bool ok;
  {
    Guard g;
    ok = g_state.started && SettingNumber(L"logon", 1) != 0;
    if (ok) g_state.loggedOn = true;
  }
  Journal(std::string("FRLI_LogOn result=") + (ok ? "1" : "0"));
  if (!ok) return 0;
  EndEventThread();  // a second log-on sends its events anew
  HANDLE thread = CreateThread(nullptr, 0, EventThread, nullptr, 0, nullptr);
  Guard g;
  g_state.eventThread = thread;
  return 1;
}

void FRLI_LogOut(void) {
  EndEventThread();
  {
    Guard g;
    g_state.loggedOn = false;
  }
  Journal("FRLI_LogOut");
}

void FRLI_HeartBeat(void) { Journal("FRLI_HeartBeat"); }

void FRLI_AddShareDir(const wchar_t* user, const wchar_t* password, const FRLI_SHARE_DIR* entries, uint32_t count) {
  std::string line = "FRLI_AddShareDir user=" + Utf8(Text(user)) + " pswd=" + Utf8(Text(password)) +
                     " count=" + std::to_string(entries ? count : 0);
  Guard g;
  g_state.pendingUser = Text(user);
  g_state.pendingPassword = Text(password);
  g_state.accountGiven = true;
  g_state.shares.assign(entries, entries ? entries + count : entries);
  g_state.sharesGiven = true;
  SaveState();
  for (const FRLI_SHARE_DIR& e : g_state.shares)
    line += " [" + Utf8(Text(e.localPath, FRLI_PATH_UNITS)) + "|" + Utf8(Text(e.ftpPath, FRLI_PATH_UNITS)) + "|" +
            std::to_string(e.flag) + "]";
  Journal(line);
}

uint32_t FRLI_GetShareDir(FRLI_SHARE_DIR* entries, uint32_t capacity) {
  uint32_t n = 0;
  {
    Guard g;
    if (entries)
      for (; n < capacity && n < g_state.shares.size(); ++n) entries[n] = g_state.shares[n];
  }
  Journal("FRLI_GetShareDir capacity=" + std::to_string(capacity) + " result=" + std::to_string(n));
  return n;
}

uint32_t FRLI_GetShareDirCount(void) {
  uint32_t n;
  {
    Guard g;
    n = uint32_t(g_state.shares.size());
  }
  Journal("FRLI_GetShareDirCount result=" + std::to_string(n));
  return n;
}

void FRLI_SetAccount(void) {
  {
    Guard g;
    if (g_state.accountGiven) {
      g_state.user = g_state.pendingUser;
      g_state.passwordDigest = PasswordDigest(g_state.pendingPassword);
      g_state.accountApplied = true;
      SaveState();
    }
  }
  Journal("FRLI_SetAccount");
}

int FRLI_GetAccount(wchar_t* user, wchar_t* password) {
  std::wstring u, digest;
  {
    Guard g;
    if (g_state.accountApplied) {
      u = g_state.user;
      digest = g_state.passwordDigest;
    }
  }
  if (u.empty() && digest.empty()) {
    u = Setting(L"user", L"anonymous");
    digest = PasswordDigest(Setting(L"pswd", L""));
  }
  CopyOut(user, FRLI_TEXT_UNITS, u);
  CopyOut(password, FRLI_TEXT_UNITS, digest);
  Journal("FRLI_GetAccount user=" + Utf8(u) + " pswd=" + Utf8(digest));
  return 1;
}

void FRLI_SetCustomAddress(const wchar_t* host, uint32_t port) {
  {
    Guard g;
    g_state.host = Text(host);
    g_state.port = port;
    g_state.addressGiven = true;
    SaveState();
  }
  Journal("FRLI_SetCustomAddress host=" + Utf8(Text(host)) + " port=" + std::to_string(port));
}

int FRLI_GetSvrAddress(wchar_t* host, uint32_t* port) {
  std::wstring h;
  uint32_t p;
  bool given;
  {
    Guard g;
    given = g_state.addressGiven;
    h = g_state.host;
    p = g_state.port;
  }
  if (!given) {
    h = Setting(L"host", L"");
    p = uint32_t(SettingNumber(L"port", 21));
  }
  const int result = (given || !h.empty()) ? 1 : 0;
  CopyOut(host, FRLI_TEXT_UNITS, result ? h : std::wstring());
  if (port) *port = result ? p : 0;
  Journal("FRLI_GetSvrAddress host=" + Utf8(h) + " port=" + std::to_string(p) + " result=" + std::to_string(result));
  return result;
}

uint32_t FRLI_GetConnUserCount(void) {
  const uint32_t n = uint32_t(SettingNumber(L"users", 0));
  Journal("FRLI_GetConnUserCount result=" + std::to_string(n));
  return n;
}

void FRLI_GetNetIO(uint64_t* received, uint64_t* sent) {
  const uint64_t in = SettingNumber(L"netin", 0), out = SettingNumber(L"netout", 0);
  if (received) *received = in;
  if (sent) *sent = out;
  Journal("FRLI_GetNetIO received=" + std::to_string(in) + " sent=" + std::to_string(out));
}

}  // extern "C"
