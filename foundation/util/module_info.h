// Version, error and processor texts of the running programs.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// The file version of the module's version resource; false when it has none.
bool GetModuleVersion(HMODULE module, uint16_t version[4]);
// "%d.%d.%d.%d" of that version, "0.0.0.0" when there is none.
std::string GetModuleVersionText(HMODULE module);
// "errorcode:%d, description: %s" of the last error.
std::string GetLastErrorText();
// The processor's name from the registry; empty when it is missing.
std::wstring GetCpuName();
