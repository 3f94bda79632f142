// CTcpServerSession: the server half of the control channel. One scheduler
// thread accepts clients, reads framed requests, runs the command handler and
// sends the replies, one request after another.
#pragma once
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "foundation/channel/channel_io.h"
#include "foundation/channel/tcp_channel.h"
#include "foundation/check/thread_owner.h"

class CTcpServerSession {
 public:
  static constexpr size_t kMaxClients = 50;
  static constexpr int32_t kSelectTimeoutMs = 30;
  // How long a stop waits for the scheduler thread to finish its pass.
  static constexpr DWORD kStopWaitMs = 5000;

  static CTcpServerSession& Instance();

  // 0 started, 16 the listening socket could not be set up (or the server
  // already runs), 17 the thread could not be created.
  int InitializeSession(const char* address, uint32_t port, CommandHandler handler);
  // Sets the stop flag and waits (bounded) for the scheduler thread, which
  // closes the listening and client sockets as it ends.
  int Stop();

 private:
  CTcpServerSession() = default;
  static unsigned __stdcall ThreadMain(void* self);
  void SchedulerInternal_server();
  void ClosePending();
  void EvictOldest();
  void AcceptOne();
  // Closes a client's socket and its readiness event.
  void CloseClient(SOCKET s);
  // Waits at most ms for the listener or a client to become readable: the
  // index of the first ready entry of waitSockets_ (0 the listener), -1 on
  // time-out, -2 on failure.
  int WaitReady(DWORD ms);
  // Serves one request of s; false when s must be closed.
  bool ServeRequest(SOCKET s);
  bool ServeFrame(SOCKET s);

  HANDLE thread_ = nullptr;
  unsigned threadId_ = 0;
  std::atomic<uint32_t> stop_{0};
  std::atomic<bool> running_{false};  // the scheduler thread has not ended yet
  // The scheduler thread: the only one that touches the sockets, the maps
  // below and the handler's buffers while it runs.
  CThreadOwner scheduler_;
  std::string address_;
  uint32_t port_ = 0;
  SOCKET listener_ = INVALID_SOCKET;
  std::map<SOCKET, int64_t> clients_;  // socket -> accept time, seconds since 1970
  CommandHandler handler_ = nullptr;
  std::map<SOCKET, uint64_t> closing_;  // clients that failed during this pass
  ChannelBlock receive_;                // used by the scheduler thread only
  // Clients whose next frame has (partly) been read already; served in the
  // next pass whatever the wait says. Scheduler thread only.
  std::map<SOCKET, ChannelCarry> ahead_;
  // Readiness events (auto-reset, set by the socket layer when bytes or a
  // close arrive): the listener's and one per client. Under Wine a wait on
  // events costs a fraction of a select, which polls every socket afresh.
  HANDLE listenEvent_ = nullptr;
  std::map<SOCKET, HANDLE> events_;
  SOCKET lastServed_ = INVALID_SOCKET;  // the next wait starts after it
  std::vector<SOCKET> waitSockets_;
  std::vector<HANDLE> waitHandles_;
};
