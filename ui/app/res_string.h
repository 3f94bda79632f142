// LoadResString: every window and message-box text of OrchardUI comes through
// it, from the language library when one is loaded.
#pragma once
#include <string>
#include <string_view>

std::wstring LoadResString(unsigned id);
// The string with its one "%s" or "%d" replaced by `value`; a language
// library's text is never handed to a printf as a format.
std::wstring FormatResString(unsigned id, std::wstring_view value);
