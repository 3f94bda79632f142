// Puts the texts of the server pages' figures into their controls.
#pragma once
#include <vector>

#include "foundation/util/wide_text.h"
#include "platform/wtl/window.h"
#include "ui/settings_tab/codec/server_figures.h"

inline void ShowFieldTexts(const wtl::CWindow& page, const std::vector<FieldText>& texts) {
  for (const FieldText& field : texts) page.SetItemText(field.control, ToWide(field.text));
}
