// The window module: the program's instance and the instance that dialog
// templates, menus and strings are loaded from (a language library, or the
// program itself).
#pragma once
#include <windows.h>

namespace wtl {

void InitModule(HINSTANCE instance);
HINSTANCE ModuleInstance();
// The resource instance; the program's own instance until a language library replaces it.
HINSTANCE ResourceInstance();
// Returns the previous resource instance.
HINSTANCE SetResourceInstance(HINSTANCE instance);

}  // namespace wtl
