// The export-window title test.
#include "ui/app/codec/export_title.h"

bool IsExportWindowTitle(std::u16string_view title) {
  return title.find(kExportFileName) != std::u16string_view::npos;
}
