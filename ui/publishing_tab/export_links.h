// Exporting links: the export dialog, command 49 for each path, and the hand-
// over of the text to the Notepad window titled "Orchard-Export URL" and, on
// request, to the clipboard.
#pragma once
#include <windows.h>

#include <string>

#include "ui/publishing_tab/output_setting_dlg.h"

// How long to look for Notepad's window after starting it, and how often.
constexpr DWORD kNotepadWaitMs = 10000;
constexpr UINT kNotepadPollMs = 100;

// Runs the export dialog; false when it was cancelled.
bool RunExportDialog(HWND parent, ExportChoice& choice);
// The links of a directory or file with the kept kind, naming and sort and
// the dialog's condition; empty when the server sent none or failed.
std::wstring RequestExportLinks(const std::wstring& path, const ExportChoice& choice);
// Shows the text in the export window (a second export replaces its text),
// or writes it to the file "Orchard-Export URL" and opens that in Notepad;
// with `copy` the text also goes to the clipboard and a message says so, over
// the export window: at once when it is there, else once the Notepad just
// started shows it (or gives up), from this thread's message loop.
void ShowLinksInNotepad(const std::wstring& text, bool copy);
// The Notepad window whose title holds "Orchard-Export URL", or null.
HWND FindExportWindow();
