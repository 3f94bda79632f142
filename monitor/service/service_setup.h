// OrchardMon run by a user or another program: installs, starts, stops or
// removes the service "orchard_server_monitor", asking in message boxes
// when it was given no switch.
#pragma once
#include "monitor/service/codec/monitor_action.h"

// The program's result: 0, or 1 when the service control manager, the service
// or the program's own path cannot be had, or the service cannot be created.
// When the service is starting, this is the service's own process: it runs
// the dispatcher instead.
int RunMonitorCommand(MonitorSwitch action);
