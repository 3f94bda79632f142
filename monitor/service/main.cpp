// OrchardMon's entry: the crash reporter first, then the switch of the
// command line, run as a user's command or as the service itself.
#include <windows.h>

#include <string_view>

#include "foundation/util/wide_text.h"
#include "monitor/crash/crash_reporter.h"
#include "monitor/service/service_setup.h"

int wmain(int argc, wchar_t** argv) {
  InstallInvalidArgumentHandlers();
  InstallCrashReporter(0);
  const MonitorSwitch action = argc >= 2 && argv[1] != nullptr ? ParseMonitorSwitch(AsU16(argv[1])) : MonitorSwitch::kAsk;
  return RunMonitorCommand(action);
}
