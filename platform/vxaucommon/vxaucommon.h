// The automatic-update library's entry points as OrchardSvc calls them
// (our stand-in, vxaucommon.dll). Its answers come from "vxaucommon.ini"
// beside the DLL, so a test can drive the server's update timers.
#pragma once
#include <windows.h>

#ifdef VXAUCOMMON_BUILD
#define VXAU_API __declspec(dllexport)
#else
#define VXAU_API __declspec(dllimport)
#endif

namespace AU {

// Negative on failure. The window receives the three messages of
// GetAutoUpdateMessageID.
VXAU_API int InitAutoUpdate(HWND window, const wchar_t* productId, const wchar_t* version, const wchar_t* extra);
VXAU_API void UnInitAutoUpdate();
// Starts a check without blocking.
VXAU_API int StartAutoUpdate(int flags);
// 0 an update is available, 1 an update is complete, 2 the product is to quit;
// 0 for any other index.
VXAU_API UINT GetAutoUpdateMessageID(int index);
// Seconds until the next check should start.
VXAU_API int GetNextPreferedCheckInterval();
// Non-zero when an update waits to be installed.
VXAU_API int HasPendingUpdate();
VXAU_API int InstallUpdate();
// Installs the waiting update; the product is then told to quit.
VXAU_API int InstallPendingUpdate();
VXAU_API void DisplayUpdateNotify();

}  // namespace AU
