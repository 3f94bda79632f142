// Process-wide state of OrchardSvc that the controller window writes and the
// control commands read from the channel's thread: the P2P login, the
// identity the core reported, the server status text and the hidden window.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

// The outputs of the last successful get_p2p_id call.
struct P2pIdentity {
  uint64_t machineId = 0;
  uint64_t nodeId = 0;  // the user id the servers gave this node
  int natClass = 0;
  int natDetail = 0;
  uint32_t publicIp = 0;
  int publicPort = 0;
  uint32_t lanIp = 0;
  int lanPort = 0;
};

// Set once the login poll saw the core's public address; cleared when the
// core is ended. The identity is stored before the flag is set.
bool P2pLoggedIn();
void SetP2pLoggedIn(const P2pIdentity& identity);
void ClearP2pLoggedIn();
// Valid while P2pLoggedIn() is true.
P2pIdentity P2pLoginIdentity();

// The status text reported by command 81; always one of the texts below.
void SetServerStatus(const wchar_t* status);
const wchar_t* ServerStatus();

extern const wchar_t kStatusStarting[];      // services start
extern const wchar_t kStatusP2pInit[];       // P2P core initialised
extern const wchar_t kStatusFtpStarting[];   // after the FTP start step
extern const wchar_t kStatusP2pStarting[];   // after the P2P start step
extern const wchar_t kStatusP2pLoggedIn[];   // P2P login
extern const wchar_t kStatusFtpLogon[];      // FTP account pushed
extern const wchar_t kStatusFtpStopped[];    // shutdown: FTP stopped
extern const wchar_t kStatusP2pLoggedOut[];  // shutdown: P2P ended
extern const wchar_t kStatusStopped[];       // shutdown done
extern const wchar_t kStatusP2pPaused[];     // uploads paused

// The hidden controller window, null until it exists; commands post to it.
void SetServerWindow(HWND window);
HWND ServerWindow();

// Count of published directories for command 81 (the publish manager answers).
uint32_t PublishedDirectoryCount();
// Tasks waiting in the publish queue; the update install waits for an empty queue.
uint32_t PublishQueueLength();
