// Ferryline.dll stand-in: the FTP server library's calls with a plain C
// interface. It keeps the account, address and share directories it is
// given and answers its getters from them, or else from a settings file a
// test can write; after log-on it calls the event callback from a thread of
// its own; every call is appended with its arguments to a journal file. It
// runs no FTP service.
//
// Settings: the file named by FERRYLINE_SETTINGS, else "Ferryline.ini" next
// to the DLL, section [ftp]: host, port, user, pswd (plain; reported as its
// MD5), netin, netout, users, events (the event types sent after log-on,
// comma-separated; default "0,1,2,5,6"), eventdelay (milliseconds the event
// thread waits before its first event; default 0), init, start, logon (0
// makes that call fail). Journal: the file named by FERRYLINE_JOURNAL, else
// "ferryline_journal.txt" next to the DLL, one line per call.
//
// Like an FTP server's own configuration, what it was given outlives the
// process: the applied account (the password only as its digest), the
// custom address and the share directories are kept in the file named by
// FERRYLINE_STATE, else "Ferryline_state.ini" next to the DLL, written at
// each change and read back by FRLI_Init.
#pragma once
#include <stdint.h>
#include <wchar.h>

#ifdef FERRYLINE_BUILDING
#define FERRYLINE_API __declspec(dllexport)
#else
#define FERRYLINE_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define FRLI_TEXT_UNITS 64   // host, user and password buffers
#define FRLI_PATH_UNITS 260  // each text of a share entry

// The record handed to the event callback: its second word is the context
// given to FRLI_Init.
typedef struct FRLI_EVENT {
  uint32_t reserved;
  void* context;
} FRLI_EVENT;

// Event types: 0 connecting, 1 connected, 2 logged on, 3 closed, 5 the
// address can be read, 6 the account can be read.
typedef int (*FRLI_CALLBACK)(int type, const FRLI_EVENT* event);

#pragma pack(push, 1)
// One share entry: the local directory, its path on the FTP side, and the
// flag (1 the home entry, 0 a published directory). Texts zero-padded.
typedef struct FRLI_SHARE_DIR {
  wchar_t localPath[FRLI_PATH_UNITS];
  wchar_t ftpPath[FRLI_PATH_UNITS];
  uint32_t flag;
} FRLI_SHARE_DIR;
#pragma pack(pop)

FERRYLINE_API int FRLI_Init(const wchar_t* serverProgram, FRLI_CALLBACK callback, void* context);
FERRYLINE_API void FRLI_Term(void);
FERRYLINE_API int FRLI_StartSvr(void);
FERRYLINE_API void FRLI_StopSvr(void);
FERRYLINE_API int FRLI_LogOn(void);
FERRYLINE_API void FRLI_LogOut(void);
FERRYLINE_API void FRLI_HeartBeat(void);
// Takes over the whole list (count entries) and keeps the account for FRLI_SetAccount.
FERRYLINE_API void FRLI_AddShareDir(const wchar_t* user, const wchar_t* password, const FRLI_SHARE_DIR* entries,
                                    uint32_t count);
// Copies at most capacity entries; the number copied.
FERRYLINE_API uint32_t FRLI_GetShareDir(FRLI_SHARE_DIR* entries, uint32_t capacity);
FERRYLINE_API uint32_t FRLI_GetShareDirCount(void);
// Applies the account given last to FRLI_AddShareDir.
FERRYLINE_API void FRLI_SetAccount(void);
// The user, and the password as 32 upper-case hex digits of the MD5 of its
// ANSI text (empty for no password); each buffer FRLI_TEXT_UNITS units.
FERRYLINE_API int FRLI_GetAccount(wchar_t* user, wchar_t* password);
FERRYLINE_API void FRLI_SetCustomAddress(const wchar_t* host, uint32_t port);
// Non-zero when an address is known; host zero-terminated in FRLI_TEXT_UNITS units.
FERRYLINE_API int FRLI_GetSvrAddress(wchar_t* host, uint32_t* port);
FERRYLINE_API uint32_t FRLI_GetConnUserCount(void);
FERRYLINE_API void FRLI_GetNetIO(uint64_t* received, uint64_t* sent);

#ifdef __cplusplus
}
#endif
