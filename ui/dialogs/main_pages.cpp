// The tabs switch before their pages exist; each page's dialog joins here.
#include "ui/dialogs/main_pages.h"

std::unique_ptr<wtl::CModelessDialog> MakeMainPage(int /*index*/) { return nullptr; }
