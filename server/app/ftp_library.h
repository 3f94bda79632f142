// The FTP server library's entry points as OrchardSvc calls them. Until the
// library is part of the build every start fails, so the FTP side stays off;
// the stop calls are safe in any state.
#pragma once
#include <cstdint>

// The event record the library hands its callback; the context is the
// pointer given to FRLI_Init.
struct FtpEventRecord {
  uint32_t reserved;
  void* context;
};
using FtpEventCallback = int (*)(int type, const FtpEventRecord* record);

inline int FRLI_Init(const wchar_t*, FtpEventCallback, void*) { return 0; }
inline int FRLI_StartSvr() { return 0; }
inline int FRLI_LogOn() { return 0; }
inline void FRLI_HeartBeat() {}
inline void FRLI_LogOut() {}
inline void FRLI_StopSvr() {}
inline void FRLI_Term() {}
