// Thin wrappers over Windows events and threads. A handle that is null or
// INVALID_HANDLE_VALUE counts as absent, so stop paths can run in any state.
#pragma once
#include <windows.h>

#include <cstdint>

inline bool HandlePresent(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

// A new unsignalled, unnamed event; null on failure.
HANDLE EventCreate(bool manualReset);
// True when the handle is absent or the event is signalled within ms.
bool EventWait(HANDLE event, DWORD ms);
// Alertable wait on the present handles: 1 the first is signalled or absent,
// 2 the second is signalled, 0 time-out, completion routine or failure.
int EventWaitTwo(HANDLE first, HANDLE second, DWORD ms);
void EventSet(HANDLE event, bool signalled);
// Clears the handle, then closes it when it was present.
void EventClose(HANDLE* event);

using ThreadProc = unsigned(__stdcall*)(void*);
// Starts a thread at once through the runtime; its handle or null.
HANDLE ThreadStart(ThreadProc procedure, void* argument);
bool ThreadWait(HANDLE thread, DWORD ms);
// The code is set to 0 first; false for an absent handle or on failure.
bool ThreadExitCode(HANDLE thread, DWORD* code);
void ThreadClose(HANDLE* thread);

// Names the calling thread for debuggers and crash dumps where the system
// offers SetThreadDescription; elsewhere it does nothing. It never raises the
// debugger-naming exception, which would end in the crash path without a debugger.
void SetThreadName(const char* name);
