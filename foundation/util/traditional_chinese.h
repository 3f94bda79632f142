// Simplified to traditional Chinese through Quillkit.dll, loaded by name for
// each conversion. Without the library every text comes back unchanged.
#pragma once
#include <string>
#include <string_view>

// The library name is a parameter only so that tests can name a missing one.
std::wstring SimplifiedToTraditional(std::wstring_view text, const wchar_t* library = L"Quillkit.dll");
// ANSI text in, ANSI text out.
std::string SimplifiedToTraditional(std::string_view ansiText);
