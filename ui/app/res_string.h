// LoadResString: every window and message-box text of OrchardUI comes through
// it, from the language library when one is loaded.
#pragma once
#include <string>

std::wstring LoadResString(unsigned id);
