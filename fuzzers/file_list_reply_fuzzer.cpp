// Fuzz target: a list reply of the control channel (commands 33, 34, 35) as
// the publishing page shows it. Every text of a record ends within its field,
// the cells and links are built from any bytes, and the list's comparisons
// stay antisymmetric and sort into order in both directions.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "ui/client/codec/control_codec.h"
#include "ui/peer_lists/codec/column_sort.h"
#include "ui/publishing_tab/codec/file_rows.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> body(data, data + size);
  const ReplyReader reply(body.data(), body.size());

  std::vector<CPublishDir> dirs;
  ReadRecordList(reply, dirs);
  for (const CPublishDir& dir : dirs) {
    const std::u16string path = DirRecordPath(dir);
    FUZZ_CHECK(path.size() <= kPathUnits && path.find(u'\0') == std::u16string::npos);
    FUZZ_CHECK(DirectoryItemText(path).size() <= path.size() + 3);
  }

  std::vector<CPublishItem> files;
  const size_t n = ReadRecordList(reply, files);
  FUZZ_CHECK(n == files.size() && 6 + n * sizeof(CPublishItem) <= body.size() + (n == 0 ? 6 : 0));
  FtpLinkSettings ftp;
  ftp.host = u"ftp.example";
  ftp.port = 0;
  ftp.shares = {{u"D:\\Video", u"C:\\ftp\\5D41402A", 0}, {u"D:\\", u"", 1}};
  for (const CPublishItem& file : files) {
    const std::u16string path = RecordPath(file);
    FUZZ_CHECK(path.size() <= kPathUnits && path.find(u'\0') == std::u16string::npos);
    const int image = FileRowImage(file);
    FUZZ_CHECK(image == kImageDirectory || image == kImageFile || image == kImagePublished || image == kImageChanged);
    const std::u16string fid = FidText(file);
    FUZZ_CHECK(fid.empty() || fid.size() == 32);
    FUZZ_CHECK(FileP2pLink(file).rfind(u"vxhd://", 0) == 0);
    FUZZ_CHECK(path.empty() || FileFtpLink(path, ftp).rfind(u"ftp://ftp.example/", 0) == 0);
    (void)FileStateTextId(file.state);
  }

  const size_t pairs = std::min<size_t>(files.size(), 12);
  for (int view = kViewDirectory; view <= kViewUnpublished; ++view) {
    for (int column = 0; column < kFileListColumns; ++column) {
      for (size_t i = 0; i < pairs; ++i) {
        FUZZ_CHECK(CompareFileRecords(files[i], files[i], column, view) == 0);
        for (size_t j = i + 1; j < pairs; ++j) {
          FUZZ_CHECK(CompareFileRecords(files[i], files[j], column, view) ==
                     -CompareFileRecords(files[j], files[i], column, view));
        }
      }
    }
  }
  if (!files.empty()) {
    const uint8_t last = body.back();
    const ColumnSort sort{last % kFileListColumns, (last >> 3) & 1};
    const int view = (last & 0x80) != 0 ? kViewUnpublished : kViewDirectory;
    auto compare = [view](const CPublishItem& a, const CPublishItem& b, int column) {
      return CompareFileRecords(a, b, column, view);
    };
    SortRows(files, sort, compare);
    for (size_t i = 1; i < files.size(); ++i) {
      const int order = compare(files[i - 1], files[i], sort.column);
      FUZZ_CHECK(sort.ascending != 0 ? order <= 0 : order >= 0);
    }
  }
  return 0;
}
