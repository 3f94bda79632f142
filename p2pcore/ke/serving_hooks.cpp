// The serving side's hooks into the scheduler loop.
#include "p2pcore/ke/serving_hooks.h"

#include "p2pcore/ke/onlineusermanager.h"
#include "p2pcore/ke/options.h"
#include "p2pcore/ke/peer_commands.h"
#include "p2pcore/ke/peer_hooks.h"
#include "p2pcore/ke/session.h"
#include "p2pcore/ke/uploadtask.h"

namespace p2p {

namespace {

class online_users_hook : public tcp_peer_hook {
 public:
  void stop() override {
    get_online_user_manager()->close_all();
    upload_task_mgr::finish_reads_here();  // reads the scheduler thread started without workers
  }
  void accept_from(SOCKET listener) override { get_online_user_manager()->accept_from(listener); }
  void fill_read_set(fd_set& set) override { get_online_user_manager()->fill_read_set(set); }
  void on_readable(const fd_set& set) override { get_online_user_manager()->serve_readable(set); }
  void fill_write_set(fd_set& set) override { get_online_user_manager()->fill_write_set(set); }
  void on_writable(const fd_set& set) override { get_online_user_manager()->flush_writable(set); }
  void housekeeping(uint32_t) override {
    get_online_user_manager()->housekeeping();
    // Without workers the reads were started on this thread; their completions
    // run here, and so do the reads waiting for the speed limiter.
    if (get_upload_task_mgr()->inline_mode()) {
      upload_task_mgr::run_completions();
      get_upload_task_mgr()->serve_waiting();
    }
  }
};

class peer_commands_hook : public udp_peer_dispatch {
 public:
  void on_command(uint16_t command, const uint8_t* body, size_t n, const sockaddr_in& from, bool wrapped) override {
    CP2pSession* session = existing_session();
    peer_udp_command(command, body, n, from, wrapped, session && session->is_super_node(from));
  }
};

class upload_workers_hook : public upload_worker_hook {
 public:
  void start() override { get_upload_task_mgr()->start_threads(settings().upload_thread_count); }
  void stop() override { get_upload_task_mgr()->stop_threads(); }
};

}  // namespace

void install_serving_hooks() {
  static online_users_hook users;
  static peer_commands_hook commands;
  static upload_workers_hook workers;
  serving() = {&users, &commands, &workers};
}

}  // namespace p2p
