// Test-side access to Seedlift.dll: loads it with LoadLibrary and resolves
// the exports by name, as an outside caller would; plus a scratch directory.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

#include "p2pcore/seedlift_api.h"

namespace seedlift_test {

#define SEEDLIFT_EXPORT(name) decltype(::name)* name = nullptr;
struct seedlift {
  HMODULE module = nullptr;
  SEEDLIFT_EXPORT(p2p_initialize)
  SEEDLIFT_EXPORT(p2p_uninitialize)
  SEEDLIFT_EXPORT(p2p_initialize_network)
  SEEDLIFT_EXPORT(set_p2p_node_type)
  SEEDLIFT_EXPORT(p2p_add_share)
  SEEDLIFT_EXPORT(p2p_delete_share_byfid)
  SEEDLIFT_EXPORT(p2p_pause_share_byfid)
  SEEDLIFT_EXPORT(p2p_get_share_count)
  SEEDLIFT_EXPORT(p2p_get_share_filelist)
  SEEDLIFT_EXPORT(p2p_get_uplist)
  SEEDLIFT_EXPORT(p2p_get_statinfo)
  SEEDLIFT_EXPORT(p2p_get_netinfo)
  SEEDLIFT_EXPORT(p2p_get_nat_stat)
  SEEDLIFT_EXPORT(get_p2p_id)
  SEEDLIFT_EXPORT(get_p2p_version)
  SEEDLIFT_EXPORT(set_p2p_upload_speed_max)
  SEEDLIFT_EXPORT(set_p2p_debug_level)
  SEEDLIFT_EXPORT(p2p_pause_upload)
  SEEDLIFT_EXPORT(set_p2p_app_path)
  SEEDLIFT_EXPORT(set_p2p_ini_filename)
  SEEDLIFT_EXPORT(set_p2p_allow_add_share)
  SEEDLIFT_EXPORT(set_share_files_limit)
  SEEDLIFT_EXPORT(set_p2p_server_host)
  SEEDLIFT_EXPORT(set_p2p_temp_mode)
  SEEDLIFT_EXPORT(set_p2p_upload_speed_control)
  SEEDLIFT_EXPORT(p2p_find_share)
  SEEDLIFT_EXPORT(create_p2p_task)
  SEEDLIFT_EXPORT(delete_p2p_task)
  SEEDLIFT_EXPORT(decode_data)
  SEEDLIFT_EXPORT(set_p2p_debug_supernode)
};
#undef SEEDLIFT_EXPORT

// Loads the DLL once per process; every member resolved by name.
seedlift& lib();

// A fresh directory under the temporary folder, removed with its files.
class scratch_dir {
 public:
  scratch_dir();
  ~scratch_dir();
  const std::wstring& path() const { return path_; }  // ends in "\\"
  std::wstring file(const std::wstring& name) const { return path_ + name; }
  void write(const std::wstring& name, const std::vector<uint8_t>& bytes) const;
  void write_text(const std::wstring& name, const std::string& text) const;
  std::string read_text(const std::wstring& name) const;

 private:
  std::wstring path_;
};

std::string narrow(const std::wstring& w);
std::vector<uint8_t> bytes_of_size(size_t n, uint8_t seed = 1);
int thread_count();

}  // namespace seedlift_test
