// The window that shows exported links: Notepad with the file named
// "Orchard-Export URL", found again by its title. Platform-free.
#pragma once
#include <string_view>

inline constexpr char16_t kExportFileName[] = u"Orchard-Export URL";

// True when a window title contains "Orchard-Export URL".
bool IsExportWindowTitle(std::u16string_view title);
