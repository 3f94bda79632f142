// The pages of the main dialog's tabs.
#include "ui/dialogs/main_pages.h"

#include "ui/settings_tab/config_dlg.h"
#include "ui/peer_lists/uploading_dlg.h"
#include "ui/peer_lists/user_dlg.h"
#include "ui/publishing_tab/file_pub_dlg.h"

std::unique_ptr<wtl::CModelessDialog> MakeMainPage(int index) {
  switch (index) {
    case 0:
      return std::make_unique<CFilePubDlg>();
    case 1:
      return std::make_unique<CUserDlg>();
    case 2:
      return std::make_unique<CUploadingDlg>();
    case 3:
      return std::make_unique<CConfigDlg>();
    default:
      return nullptr;
  }
}
