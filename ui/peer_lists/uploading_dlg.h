// CUploadingDlg: the third tab, one row per file the P2P core is sending
// (the 304-byte records of command 98 whose send speed is not 0), with their
// count above the list, reloaded every 2 seconds while visible, sorted by
// any column, with copy and open-folder on the rows.
#pragma once
#include <vector>

#include "ui/client/codec/control_records.h"
#include "ui/peer_lists/record_list_page.h"
#include "ui/res/resource.h"

constexpr UINT_PTR kUploadListTimer = 10;
constexpr UINT kUploadListPeriodMs = 2000;

class CUploadingDlg : public CRecordListPage {
 public:
  CUploadingDlg();

  const std::vector<UploadRecord>& Records() const { return records_; }

 protected:
  BOOL OnInitDialog() override;

  bool LoadRecords() override;
  void ClearRecords() override;
  void OnRecordsShown() override { ShowCount(); }
  size_t RecordCount() const override { return records_.size(); }
  std::wstring CellText(size_t row, int column) const override;
  void SortRecords() override;
  std::string RecordPath(size_t row) const override;

 private:
  void ShowCount();

  std::vector<UploadRecord> received_;  // the files being sent in the server's order, which ties keep
  std::vector<UploadRecord> records_;   // as shown
};
