// The choice of the language resource library: the candidate languages of
// the user and the system, and the first library beside the program that loads.
#pragma once
#include <windows.h>

#include <string>

#include "ui/app/codec/language_list.h"

// The process-wide candidate list.
CMultiLanguage& Languages();
// Adds the user and system user-interface languages, then the system default.
void AddUiLanguages(CMultiLanguage& languages);
// The first language library that loads, or null.
HMODULE LoadLanguageDll(const CMultiLanguage& languages, const std::wstring& programPath);
