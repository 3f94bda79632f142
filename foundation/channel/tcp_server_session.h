// CTcpServerSession: the server half of the control channel. One scheduler
// thread accepts clients, gathers their framed requests as the bytes come,
// runs the command handler and sends the replies as each socket takes them,
// so that no client's slow frame keeps the others waiting.
#pragma once
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/channel/tcp_channel.h"
#include "foundation/check/thread_owner.h"
#include "foundation/codec/channel_connection.h"

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
  // What the server keeps of one client besides its accept time.
  struct Client {
    HANDLE event = nullptr;  // readiness: bytes, room to send, or the close
    ChannelConnection link;
    std::unique_ptr<CByteBuffer> reply;  // the reply going out, freed once sent
    bool mayRead = false;    // a readiness report came that no recv has answered
    bool due = false;        // a whole request waits: serve it without waiting
    bool watchRoom = false;  // FD_WRITE is asked for: a reply waits for room
  };

  CTcpServerSession() = default;
  static unsigned __stdcall ThreadMain(void* self);
  void SchedulerInternal_server();
  void ClosePending();
  void EvictOldest();
  void AcceptOne();
  // Closes a client's socket and its readiness event.
  void CloseClient(SOCKET s);
  void QueueClose(SOCKET s);
  // Waits at most ms for the listener or a client to become ready and marks
  // every one that did in waitReady_. False on a failed wait.
  bool WaitReady(DWORD ms);
  // The wait of the next pass: none when a request waits, else until the
  // first step deadline, at most kSelectTimeoutMs.
  DWORD NextWaitMs(uint64_t nowMs) const;
  // Moves one client on as far as its socket allows without waiting:
  // sends what it can of the reply, receives, serves at most one request.
  // woke: its socket reported readiness. False when the client must be closed.
  bool Progress(SOCKET s, Client* c, bool woke);
  // Sends until the reply is out or the socket has no room; false on failure.
  bool SendSome(SOCKET s, Client* c);
  // The readiness a client's event reports: room to send only while a reply waits for it.
  bool WatchRoom(SOCKET s, Client* c, bool on);
  bool Serve(SOCKET s, Client* c);
  // Closes the clients whose step has run past its deadline.
  void CloseOverdue(uint64_t nowMs);
  // After the stop: the replies already going out get one step's time.
  void FinishReplies();

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
  // Readiness events (auto-reset, set by the socket layer when bytes, room
  // to send or a close arrive): the listener's and one per client in
  // clients_. Under Wine a wait on events costs a fraction of a select,
  // which polls every socket afresh.
  HANDLE listenEvent_ = nullptr;
  std::map<SOCKET, std::unique_ptr<Client>> state_;
  std::vector<SOCKET> waitSockets_;
  std::vector<HANDLE> waitHandles_;
  std::vector<bool> waitReady_;
};
