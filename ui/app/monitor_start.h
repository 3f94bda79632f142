// Starting the watchdog "OrchardMon.exe -start" beside the program, hidden.
#pragma once

// 1 when the process was created, else 0 (also when the program is missing).
int RunMonitorStart();
