// The message boxes of the settings pages: a check that stops a save, and
// the settings the server did not take, each with the reason.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Why a command of the settings pages did not succeed: the server's own
// explanation when it sent one (a refused port), else the string of the
// result (no connection, the P2P core not logged in, another status).
std::wstring RefusalText(int result, const std::wstring& serverText = std::wstring());

// A message box over the page with caption string 128.
void ShowSettingMessage(HWND owner, const std::wstring& text);
// One box listing every refusal of a save; nothing when there is none.
void ShowRefusals(HWND owner, const std::vector<std::wstring>& refusals);
// The box of a P2P port the server did not take: the reason alone, without a caption.
void ShowPortRefusal(HWND owner, const std::wstring& text);
