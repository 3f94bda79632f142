// The run-at-boot value: HKEY_CURRENT_USER's Run key starts OrchardUI with
// "-boot" at logon when the value "WrenSvr" is set. Nothing calls these yet.
#pragma once

// 1 when the value is there and not empty, else 0 (also when the key cannot be opened).
int GetRunAtBoot();
// Sets the value to "\"<program path>\" -boot", or deletes it; 1 when the registry call succeeded.
int SetRunAtBoot(int flag);
