// The peer list: its columns, loading and cells.
#include "ui/peer_lists/user_dlg.h"

#include "foundation/util/wide_text.h"
#include "ui/client/control_client.h"
#include "ui/peer_lists/codec/peer_rows.h"
#include "ui/peer_lists/list_helpers.h"

namespace {

constexpr DWORD kListStyles = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;  // 0x10021
static_assert(kListStyles == 0x10021);

// Wide enough for a whole address, version, file id and a usual file name;
// the narrow columns hold figures.
const ListColumn kColumns[kUserColumns] = {
    {IDS_COL_PEER_ID, 180},    {IDS_COL_ADDRESS, 150},    {IDS_COL_TRANSPORT, 80},  {IDS_COL_VERSION, 200},
    {IDS_COL_FID, 240},        {IDS_COL_FILE, 240},       {IDS_COL_SEND_SPEED, 80}, {IDS_COL_SENT, 80},
    {IDS_COL_REQUESTS, 80},    {IDS_COL_CACHE_HITS, 100}, {IDS_COL_HIT_RATE, 100},  {IDS_COL_DISK_READS, 80},
    {IDS_COL_CACHE_READS, 90}, {IDS_COL_CACHE_USE, 90},   {IDS_COL_NAT, 80}};

}  // namespace

CUserDlg::CUserDlg()
    : CRecordListPage(IDD_USERDLG, IDC_USER_LIST, kUserCopyColumns, kUserListTimer, FailedRefresh::kClearRows) {}

BOOL CUserDlg::OnInitDialog() {
  StartList(kListStyles);
  // No image list: the strip has no picture of a peer, and a folder on every
  // row would say something false.
  InsertListColumns(list_, kColumns, kUserColumns);
  // The rows show at once rather than at the first tick.
  RefreshList(true);
  StartTimer(kUserListPeriodMs);
  return TRUE;
}

bool CUserDlg::LoadRecords() {
  // A failure means the records are gone (the core logged out, the channel failed).
  std::vector<UserRecord> loaded;
  if (GetUserList(loaded) != 1) return false;
  received_ = std::move(loaded);
  return true;
}

void CUserDlg::ClearRecords() {
  received_.clear();
  records_.clear();
}

std::wstring CUserDlg::CellText(size_t row, int column) const {
  return ToWide(UserCellText(records_[row], column, ansi_));
}

void CUserDlg::SortRecords() {
  records_ = received_;
  SortRows(records_, sort_, CompareUserRecords);
}

std::string CUserDlg::RecordPath(size_t row) const { return UserRecordPath(records_[row]); }
