// Hand-over of link lists to the clipboard and Notepad, the recycle bin, and
// the disk figures of the server information page.
#pragma once
#include <windows.h>
#include <winioctl.h>

#include <cstdint>
#include <string>
#include <vector>

// Puts the text on the clipboard, opens the file in the system's Notepad and
// tells the user that the list can be pasted.
void CopyAddressListToNotepad(const std::wstring& text, const std::wstring& file);
// Opens the clipboard for `owner`, empties it and gives it the text as
// CF_UNICODETEXT. False when the clipboard could not be had or took nothing.
bool CopyTextToClipboard(HWND owner, const std::wstring& text);
// The clipboard's CF_UNICODETEXT; empty when there is none or it cannot be opened.
std::wstring ClipboardText();
// The first top-level Notepad window, in z-order, whose title holds the text;
// null when none.
HWND FindNotepadWindow(const wchar_t* titlePart);
// The same with a test of the title (read up to 260 characters).
HWND FindNotepadWindow(bool (*titleMatches)(const wchar_t* title));
// True when nothing was aborted.
bool MoveToRecycleBin(const std::vector<std::wstring>& paths);

// The geometry of the first physical drive; false when it cannot be opened.
bool GetDiskGeometry(DISK_GEOMETRY* geometry);
// Free and total bytes summed over the fixed drives.
void GetDiskSpace(uint64_t* freeBytes, uint64_t* totalBytes);
