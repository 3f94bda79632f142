// CUserDlg: the second tab, one row per peer the P2P core is serving (the
// 456-byte user records of command 97), reloaded every 2 seconds while
// visible, sorted by any column, with copy and open-folder on the rows.
#pragma once
#include <vector>

#include "ui/client/codec/control_records.h"
#include "ui/peer_lists/record_list_page.h"
#include "ui/res/resource.h"

constexpr UINT_PTR kUserListTimer = 1000;
constexpr UINT kUserListPeriodMs = 2000;

class CUserDlg : public CRecordListPage {
 public:
  CUserDlg();

  const std::vector<UserRecord>& Records() const { return records_; }

 protected:
  BOOL OnInitDialog() override;

  bool LoadRecords() override;
  void ClearRecords() override;
  size_t RecordCount() const override { return records_.size(); }
  std::wstring CellText(size_t row, int column) const override;
  void SortRecords() override;
  std::string RecordPath(size_t row) const override;

 private:
  std::vector<UserRecord> received_;  // in the server's order, which ties keep
  std::vector<UserRecord> records_;   // as shown
};
