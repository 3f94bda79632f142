// RunUi: the close switch, or the login dialog, the main dialog and the message loop.
#pragma once
#include <string>

int RunUi(const std::wstring& commandLine, int showCommand);
