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
// The first top-level Notepad window whose title holds the text; null when none.
HWND FindNotepadWindow(const wchar_t* titlePart);
// True when nothing was aborted.
bool MoveToRecycleBin(const std::vector<std::wstring>& paths);

// The geometry of the first physical drive; false when it cannot be opened.
bool GetDiskGeometry(DISK_GEOMETRY* geometry);
// Free and total bytes summed over the fixed drives.
void GetDiskSpace(uint64_t* freeBytes, uint64_t* totalBytes);
