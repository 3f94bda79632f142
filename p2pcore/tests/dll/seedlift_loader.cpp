// Loading Seedlift.dll by name and the scratch directories of its tests.
#include "p2pcore/tests/dll/seedlift_loader.h"

#include <tlhelp32.h>

#include <fstream>
#include <sstream>

namespace seedlift_test {

seedlift& lib() {
  static seedlift s = [] {
    seedlift r;
    r.module = LoadLibraryW(L"Seedlift.dll");
    if (!r.module) return r;
#define RESOLVE(name) r.name = reinterpret_cast<decltype(r.name)>(reinterpret_cast<void*>(GetProcAddress(r.module, #name)));
    RESOLVE(p2p_initialize)
    RESOLVE(p2p_uninitialize)
    RESOLVE(p2p_initialize_network)
    RESOLVE(set_p2p_node_type)
    RESOLVE(p2p_add_share)
    RESOLVE(p2p_delete_share_byfid)
    RESOLVE(p2p_pause_share_byfid)
    RESOLVE(p2p_get_share_count)
    RESOLVE(p2p_get_share_filelist)
    RESOLVE(p2p_get_uplist)
    RESOLVE(p2p_get_statinfo)
    RESOLVE(p2p_get_netinfo)
    RESOLVE(p2p_get_nat_stat)
    RESOLVE(get_p2p_id)
    RESOLVE(get_p2p_version)
    RESOLVE(set_p2p_upload_speed_max)
    RESOLVE(set_p2p_debug_level)
    RESOLVE(p2p_pause_upload)
    RESOLVE(set_p2p_app_path)
    RESOLVE(set_p2p_ini_filename)
    RESOLVE(set_p2p_allow_add_share)
    RESOLVE(set_share_files_limit)
    RESOLVE(set_p2p_server_host)
    RESOLVE(set_p2p_temp_mode)
    RESOLVE(set_p2p_upload_speed_control)
    RESOLVE(p2p_find_share)
    RESOLVE(create_p2p_task)
    RESOLVE(delete_p2p_task)
    RESOLVE(decode_data)
    RESOLVE(set_p2p_debug_supernode)
#undef RESOLVE
    return r;
  }();
  return s;
}

static void remove_tree(const std::wstring& dir) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((dir + L"*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) remove_tree(dir + name + L"\\");
      else DeleteFileW((dir + name).c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(dir.c_str());
}

scratch_dir::scratch_dir() {
  static int counter = 0;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + L"seedlift_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
          std::to_wstring(++counter) + L"_" + std::to_wstring(GetTickCount()) + L"\\";
  CreateDirectoryW(path_.c_str(), nullptr);
}

scratch_dir::~scratch_dir() { remove_tree(path_); }

void scratch_dir::write(const std::wstring& name, const std::vector<uint8_t>& bytes) const {
  HANDLE h = CreateFileW(file(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD done = 0;
  if (!bytes.empty()) WriteFile(h, bytes.data(), DWORD(bytes.size()), &done, nullptr);
  CloseHandle(h);
}

void scratch_dir::write_text(const std::wstring& name, const std::string& text) const {
  write(name, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string scratch_dir::read_text(const std::wstring& name) const {
  std::ifstream in(file(name).c_str(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string narrow(const std::wstring& w) {
  int n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n > 0 ? n - 1 : 0), '\0');
  if (n > 1) WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::vector<uint8_t> bytes_of_size(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 13);
  return v;
}

int thread_count() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 te = {sizeof te};
  int n = 0;
  if (Thread32First(snap, &te)) {
    do {
      if (te.th32OwnerProcessID == GetCurrentProcessId()) ++n;
    } while (Thread32Next(snap, &te));
  }
  CloseHandle(snap);
  return n;
}

}  // namespace seedlift_test
