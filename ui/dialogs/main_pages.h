// The pages inside the main dialog's tabs: 0 files, 1 peers, 2 uploads, 3 status and settings.
#pragma once
#include <memory>

#include "platform/wtl/dialog.h"

constexpr int kMainPageCount = 4;

// A new, not yet created page for tab `index`; null for an index without a tab.
std::unique_ptr<wtl::CModelessDialog> MakeMainPage(int index);
