// ORCHARD_ASSERT: the code's invariants ("only on this thread", "with this
// lock held") checked at run time in the builds that run the tests, and
// compiled away in the shipped build (the build defines ORCHARD_ASSERTS=1 or not).
// A failed check names itself on stderr and in the debugger output, then ends
// the program at once: a broken invariant is a fault to see, not one to go on with.
#pragma once
#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#endif

#if defined(ORCHARD_ASSERTS) && ORCHARD_ASSERTS
constexpr bool kOrchardAssertsOn = true;
#else
constexpr bool kOrchardAssertsOn = false;
#endif

[[noreturn]] inline void OrchardAssertFailed(const char* condition, const char* file, int line) {
  char text[512];
  std::snprintf(text, sizeof text, "ORCHARD_ASSERT failed: %s at %s:%d\n", condition, file, line);
  std::fputs(text, stderr);
  std::fflush(stderr);
#if defined(_WIN32)
  OutputDebugStringA(text);
#endif
  std::abort();
}

#if defined(ORCHARD_ASSERTS) && ORCHARD_ASSERTS
#define ORCHARD_ASSERT(condition) \
  ((condition) ? static_cast<void>(0) : OrchardAssertFailed(#condition, __FILE__, __LINE__))
#else
// Not evaluated, but still compiled, so a check cannot rot while it is off.
#define ORCHARD_ASSERT(condition) static_cast<void>(sizeof(!(condition)))
#endif
