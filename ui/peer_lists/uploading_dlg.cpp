// The upload list: its columns, the files being sent and their count.
#include "ui/peer_lists/uploading_dlg.h"

#include "foundation/util/wide_text.h"
#include "ui/app/res_string.h"
#include "ui/client/control_client.h"
#include "ui/peer_lists/codec/peer_rows.h"
#include "ui/peer_lists/list_helpers.h"

namespace {

constexpr DWORD kListStyles =
    LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE | LVS_EX_DOUBLEBUFFER;  // 0x10061
static_assert(kListStyles == 0x10061);

// Wide enough for a whole file id and a usual file name.
const ListColumn kColumns[kUploadColumns] = {{IDS_COL_FID, 240},           {IDS_COL_NAME, 260},
                                             {IDS_COL_SIZE, 80},           {IDS_COL_HANDSHAKES, 80},
                                             {IDS_COL_BLOCK_REQUESTS, 80}, {IDS_COL_UPLOADED, 80},
                                             {IDS_COL_UPLOAD_SPEED, 80}};

}  // namespace

CUploadingDlg::CUploadingDlg()
    : CRecordListPage(IDD_UPLOADINGDLG, IDC_UPLOAD_LIST, kUploadCopyColumns, kUploadListTimer,
                      FailedRefresh::kKeepRows) {}

BOOL CUploadingDlg::OnInitDialog() {
  StartList(kListStyles);
  layout_.Add(IDC_UPLOAD_COUNT, kAnchorLeft | kAnchorRight);
  list_.ModifyStyle(LVS_SINGLESEL, 0);
  ShowCount();
  InsertListColumns(list_, kColumns, kUploadColumns);
  RefreshList(true);
  StartTimer(kUploadListPeriodMs);
  return TRUE;
}

bool CUploadingDlg::LoadRecords() {
  std::vector<UploadRecord> loaded;
  if (GetUploadingList(loaded) != 1) return false;  // the rows stay as they were
  received_.clear();
  for (const UploadRecord& record : loaded) {
    if (IsUploading(record)) received_.push_back(record);
  }
  return true;
}

void CUploadingDlg::ClearRecords() {
  received_.clear();
  records_.clear();
}

void CUploadingDlg::ShowCount() {
  SetItemText(IDC_UPLOAD_COUNT, LoadResString(IDS_UPLOADING_FILES) + L":" + std::to_wstring(records_.size()));
}

std::wstring CUploadingDlg::CellText(size_t row, int column) const {
  return ToWide(UploadCellText(records_[row], column, ansi_));
}

void CUploadingDlg::SortRecords() {
  records_ = received_;
  SortRows(records_, sort_, CompareUploadRecords);
}

std::string CUploadingDlg::RecordPath(size_t row) const { return UploadRecordPath(records_[row]); }
