// The user interface's one switch: "close" after "/" or "-", exactly. Platform-free.
#pragma once
#include <string_view>

bool IsCloseSwitch(std::u16string_view commandLine);
