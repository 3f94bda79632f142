// The pages of the main dialog's tabs; a tab whose page is not built yet stays empty.
#include "ui/dialogs/main_pages.h"

#include "ui/pages/file_pub_dlg.h"

std::unique_ptr<wtl::CModelessDialog> MakeMainPage(int index) {
  switch (index) {
    case 0:
      return std::make_unique<CFilePubDlg>();
    default:
      return nullptr;
  }
}
