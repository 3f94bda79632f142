// OrchardMon's decisions that need no system: the switch of its command line,
// what it does for a switch and the state of its service, and how long the
// watch pauses before it starts the server again. Platform-free.
#pragma once
#include <cstdint>
#include <string_view>

// The action codes of the command line.
enum class MonitorSwitch { kAsk = 0, kInstall = 1, kUninstall = 2, kStart = 3, kStop = 4, kInstallAuto = 5 };

// The first argument counts when it begins with "/" or "-"; the rest must be
// one of the switches exactly, in its letter case. Anything else asks.
MonitorSwitch ParseMonitorSwitch(std::u16string_view argument);

enum class ServiceCondition { kNotInstalled, kStopped, kOther };  // other: running, pending or unknown

enum class MonitorStep {
  kNothing,
  kAskInstall,    // "Install Service?", then as a stopped service with no switch
  kInstall,       // start on demand
  kInstallAuto,   // automatic start
  kAskStart,      // "Start server?", no: "Uninstall Service?"
  kStart,
  kUninstall,
  kAskStop,       // "Stop Server?"
  kStop,
};

MonitorStep ChooseMonitorStep(ServiceCondition condition, MonitorSwitch action);

// The watch starts a server again kRestartPauseMs after it exits. A server
// that ran less than kQuickExitMs counts as a quick exit; each quick exit in
// a row doubles the pause, up to kRestartPauseMaxMs, so a server that cannot
// stay up is not started in a tight loop. A longer run starts the count anew.
constexpr uint32_t kRestartPauseMs = 100;
constexpr uint32_t kQuickExitMs = 3000;
constexpr uint32_t kRestartPauseMaxMs = 60000;

struct RestartPacing {
  uint32_t quickExits = 0;
  // The pause before the next start after a run of runMs milliseconds.
  uint32_t NextPause(uint32_t runMs);
};
