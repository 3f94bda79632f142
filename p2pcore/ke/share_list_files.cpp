// The share list's start from its files: "vxsecushr.dat" and "vxpup.dat" read,
// checked and their records handed to the buckets.
#include "p2pcore/ke/ShareResources_new.h"

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "foundation/sync/locks.h"
#include "p2pcore/codec/share_list_file.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/ke/options.h"
#include "p2pcore/ke/uploaduser.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/winutil.h"

namespace p2p {

void shareres_manager::reload_share_list() {
  get_high_priority_file_manager()->clear(uint64_t(std::time(nullptr)));
  get_upload_user_manager()->start(uint32_t(std::max(settings().user_cache_hited_per, 0)),
                                   uint32_t(std::max(settings().upload_user_max, 1)));
  const cache_geometry g = cache_geometry_of(settings());
  for (share_hash_manager* b : buckets_) b->configure_cache(g.bucket_capacity, g.block_size);
  reload_new_share();
}

uint32_t shareres_manager::cache_block_size() { return buckets_[0]->cache()->block_size(); }

size_t shareres_manager::load_share(const std::wstring& path, share_list_collector& records) {
  std::string shown;
  if (!to_ansi_exact(path.c_str(), &shown)) shown = "?";
  const char* name = shown.c_str();
  const bool exists = file_exists(path);
  const uint64_t size = file_size(path);
  if (size > kShareListMaxFile) {
    P2P_LOG(3, "load_share : file size too big , size: %llu", (unsigned long long)size);
    return 0;
  }
  if (size <= kShareListHeader) {
    P2P_LOG(3, (std::string("load_share : %s ") + gbk(exists ? "无数据" : "文件不存在")).c_str(), name);
    return 0;
  }
  std::vector<uint8_t> bytes;
  if (!read_whole_file(path, &bytes) || bytes.size() < size) {
    P2P_LOG(3, (std::string("load_share : %s ") + gbk("文件读取失败")).c_str(), name);
    return 0;
  }
  share_list_result r = records.add_file(bytes.data(), bytes.size());
  switch (r.status) {
    case share_list_status::ok:
      break;
    case share_list_status::too_big:
      P2P_LOG(3, "load_share : file size too big , size: %llu", (unsigned long long)bytes.size());
      return 0;
    case share_list_status::no_data:
      P2P_LOG(3, (std::string("load_share : %s ") + gbk("无数据")).c_str(), name);
      return 0;
    case share_list_status::unknown_pattern:
      P2P_LOG(9, "load_share[Unkown patten]");
      return 0;
    case share_list_status::bad_size:
      P2P_LOG(3, (std::string("load_share : %s ") + gbk("文件大小错误") + ": %lld").c_str(), name,
              (long long)bytes.size());
      return 0;
    case share_list_status::bad_check:
      P2P_LOG(3, (std::string("load_share : %s ") + gbk("文件校验错误")).c_str(), name);
      return 0;
  }
  P2P_LOG(9, r.new_pattern ? "load_share[new patten]: %s, %d new items" : "load_share[old patten]: %s, %d new items",
          name, int(r.appended));
  return r.appended;
}

void shareres_manager::reload_new_share() {
  CLockGuard h(ordered_lock());
  const DWORD started = GetTickCount();
  const std::wstring dir = app_dir();
  share_list_collector records;
  if (!options().local_share) load_share(join_path(dir, L"vxsecushr.dat"), records);
  load_share(join_path(dir, L"vxpup.dat"), records);
  records.keep_largest(files_limit_);
  static const char tabs[] = "\t\t\t\t\t\t\t\t\t\t   ";
  int added = 0;
  for (share_list_record& r : records.records()) {
    share_hash_manager* b = bucket_for(r.fid);
    const uint64_t recorded = r.last_write;
    b->lock();
    int result = b->insert_share(&recorded, r.path, r.size, r.fid, 0, r.last_access, 0);
    b->unlock();
    const std::string hex = hash_hex(r.fid);
    if (result == 0) {
      ++added;
      P2P_LOG(9, "shareres_manager::reload_new_share, addshare item,sucess%shash=[%s],filename=[%s],filesize=[%llu],",
              tabs, hex.c_str(), r.path, (unsigned long long)r.size);
    } else {
      P2P_LOG(9,
              "shareres_manager::reload_new_share, addshare item,failed%shash=[%s],filename=[%s],filesize=[%llu],"
              "errcode:[%d]",
              tabs, hex.c_str(), r.path, (unsigned long long)r.size, result);
    }
  }
  P2P_LOG(9, "shareres_manager::reload_new_share, : add %d share items, user time[%llu]", added,
          (unsigned long long)(GetTickCount() - started));
}

}  // namespace p2p
