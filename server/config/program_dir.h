// The folder of the running program, where OrchardSvc keeps its files.
#pragma once
#include <string>

// The program file's path cut at its last backslash (no trailing backslash).
std::wstring ProgramDir();
