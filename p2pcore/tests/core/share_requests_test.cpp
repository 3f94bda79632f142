// Block and verify requests through the share list and its block cache:
// refusals, shortened reads, reads longer than a cache block, the
// pause-upload rule, the speed limit, and the file handle that a read in
// flight keeps alive while its share is paused or deleted.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "p2pcore/ke/ShareResources_new.h"
#include "p2pcore/tests/core/core_fixture.h"

namespace {

using p2p::get_high_priority_file_manager;
using p2p::get_shareres_manager;
using p2p::shared_file;

struct read_result {
  volatile bool done = false;
  uint32_t requested = 0, bytes_read = 0, error = 0;
  std::vector<uint8_t> data;
  long open_files_inside = -1;
};

void on_read(const uint8_t* data, uint32_t requested, uint32_t bytes_read, uint32_t error, int, uintptr_t user1,
             uintptr_t) {
  read_result* r = reinterpret_cast<read_result*>(user1);
  r->requested = requested;
  r->bytes_read = bytes_read;
  r->error = error;
  if (error == 0) r->data.assign(data, data + requested);
  r->open_files_inside = shared_file::open_count();
  r->done = true;
}

class ShareRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    content = core_test::pattern(5000);
    path = files.write("movie.wmv", content);
    m = get_shareres_manager();
    m->pause_upload = 0;
    m->set_upload_speed_limit(0);
    ASSERT_EQ(m->add_share(path.c_str(), content.size(), f.data(), 0), 0);
  }
  void TearDown() override {
    m->delete_share_byfid(f.data(), 0);
    m->set_upload_speed_limit(0x40000000);
    m->pause_upload = 0;
  }
  // Non-zero when started: the length when the cache served it at once.
  int upload(uint64_t offset, uint32_t length, read_result& r) {
    return m->req_upload_data(f.data(), 77, offset, length, on_read, reinterpret_cast<uintptr_t>(&r), 0);
  }
  core_test::scratch files;
  std::vector<uint8_t> content;
  std::string path;
  std::vector<uint8_t> f = core_test::fid(3);
  p2p::shareres_manager* m = nullptr;
};

TEST_F(ShareRequests, ReadsAndRefusals) {
  struct Row { const char* name; uint64_t offset; uint32_t length; bool started; uint32_t delivered; };
  const Row rows[] = {
      {"first block", 0, 1024, true, 1024},
      {"inner block", 2048, 1024, true, 1024},
      {"runs past the end: shortened", 4096, 1024, true, 904},
      {"offset at the size", 5000, 1024, false, 0},
      {"offset beyond the size", 1ull << 40, 1024, false, 0},
      {"length that would wrap", 4999, 0xFFFFFFFF, true, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    read_result res;
    const int started = upload(r.offset, r.length, res);
    EXPECT_EQ(started != 0, r.started);
    if (!r.started) continue;
    core_test::wait_alertable(res.done);
    ASSERT_TRUE(res.done);
    EXPECT_EQ(res.error, 0u);
    EXPECT_EQ(res.requested, r.delivered);
    EXPECT_GE(res.bytes_read, r.delivered);
    EXPECT_TRUE(std::equal(res.data.begin(), res.data.end(), content.begin() + long(r.offset)));
  }
  read_result unknown;
  EXPECT_EQ(m->req_upload_data(core_test::fid(200).data(), 1, 0, 10, on_read, reinterpret_cast<uintptr_t>(&unknown), 0),
            0);
  share_file_info row;
  ASSERT_EQ(m->copy_share_filelist(&row, 1), 1);
  EXPECT_EQ(uint32_t(row.requests), 4u);
  EXPECT_EQ(uint64_t(row.uploaded), 1024u + 1024 + 904 + 1);
}

TEST_F(ShareRequests, ReadsLongerThanACacheBlock) {
  // A 600 KiB file: a read longer than a cache block is read whole into a
  // buffer of its own; no read is longer than the file.
  const std::vector<uint8_t> big = core_test::pattern(600 << 10);
  const std::vector<uint8_t> id = core_test::fid(21);
  ASSERT_EQ(m->add_share(files.write("big.wmv", big).c_str(), big.size(), id.data(), 0), 0);
  const uint32_t block = m->cache_block_size();
  struct Row { const char* name; uint64_t offset; uint32_t length; uint32_t delivered; };
  const Row rows[] = {
      {"one cache block", 0, block, block},
      {"a cache block across a boundary", 1000, block, block},
      {"one byte more", 0, block + 1, block + 1},
      {"a verify range of 300,000 bytes", 4096, 300000, 300000},
      {"what a 32-bit length field allows: cut at the end of the file", 0, 0xFFFFFFFFu, 600 << 10},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    read_result res;
    EXPECT_NE(m->req_upload_data(id.data(), 1, r.offset, r.length, on_read, reinterpret_cast<uintptr_t>(&res), 0), 0);
    read_result verify;
    EXPECT_NE(m->req_verify_data(id.data(), 1, r.offset, r.length, on_read, reinterpret_cast<uintptr_t>(&verify), 0),
              0);
    core_test::wait_alertable(res.done);
    core_test::wait_alertable(verify.done);
    ASSERT_TRUE(res.done && verify.done);
    EXPECT_EQ(res.error, 0u);
    EXPECT_EQ(res.requested, r.delivered);
    EXPECT_EQ(res.data.size(), r.delivered);
    EXPECT_TRUE(std::equal(res.data.begin(), res.data.end(), big.begin() + long(r.offset)));
    EXPECT_EQ(verify.data, res.data);
  }
  m->delete_share_byfid(id.data(), 0);

  // A UDP run of 16 blocks where the cache blocks are 4 KiB.
  p2p::share_hash_manager* bucket = m->bucket_for(id.data());
  const uint64_t capacity = bucket->cache()->capacity();
  bucket->configure_cache(1 << 20, 4096);
  ASSERT_EQ(m->add_share(files.write("big.wmv", big).c_str(), big.size(), id.data(), 0), 0);
  read_result run;
  EXPECT_NE(m->req_upload_data(id.data(), 1, 32 * 1024, 16 * 1024, on_read, reinterpret_cast<uintptr_t>(&run), 0), 0);
  core_test::wait_alertable(run.done);
  ASSERT_TRUE(run.done);
  EXPECT_EQ(run.error, 0u);
  EXPECT_TRUE(run.data.size() == 16 * 1024 && std::equal(run.data.begin(), run.data.end(), big.begin() + 32 * 1024));
  m->delete_share_byfid(id.data(), 0);
  bucket->configure_cache(capacity, block);
}

TEST_F(ShareRequests, PauseUploadServesOnlyRecentlyRequestedFiles) {
  m->pause_upload = 1;
  read_result r1, r2, v;
  EXPECT_EQ(upload(0, 100, r1), 0);
  EXPECT_EQ(get_high_priority_file_manager()->note_request(f.data(), 8), 1);
  EXPECT_EQ(upload(0, 100, r2), 1);
  core_test::wait_alertable(r2.done);
  EXPECT_TRUE(r2.done);
  EXPECT_EQ(m->req_verify_data(f.data(), 77, 0, 100, on_read, reinterpret_cast<uintptr_t>(&v), 0), 0);
  // Another file is now refused by kind 16 while the list holds this one.
  EXPECT_EQ(get_high_priority_file_manager()->note_request(core_test::fid(9).data(), 16), 0);
  EXPECT_EQ(get_high_priority_file_manager()->note_request(f.data(), 16), 1);
  get_high_priority_file_manager()->clear(0);
}

TEST_F(ShareRequests, SpeedLimitRefusesWholeRequests) {
  m->set_upload_speed_limit(1500);
  read_result a, b;
  EXPECT_EQ(upload(0, 1000, a), 1);
  EXPECT_EQ(upload(1000, 1000, b), 0);  // would pass 1500 in this second: dropped, never cut
  core_test::wait_alertable(a.done);
  EXPECT_TRUE(a.done);
}

TEST_F(ShareRequests, ReadInFlightKeepsItsHandle) {
  const long before = shared_file::open_count();
  struct Case { const char* name; bool remove; };
  for (Case c : {Case{"pause", false}, Case{"delete", true}}) {
    SCOPED_TRACE(c.name);
    read_result r;
    ASSERT_EQ(upload(0, 4096, r), 1);  // from disk: pausing dropped the cached block
    EXPECT_EQ(shared_file::open_count(), before + 1);
    // The share lets go of its handle at once; the read still holds it.
    const bool let_go = c.remove ? m->delete_share_byfid(f.data(), 0) : m->pause_share_byfid(f.data(), 1);
    EXPECT_TRUE(let_go);
    EXPECT_EQ(shared_file::open_count(), before + 1);
    core_test::wait_alertable(r.done);
    ASSERT_TRUE(r.done);
    EXPECT_EQ(r.open_files_inside, before + 1);  // valid while the completion runs
    EXPECT_TRUE(r.error == 0 || r.error == ERROR_OPERATION_ABORTED) << r.error;
    if (r.error == 0) {
      EXPECT_TRUE(std::equal(r.data.begin(), r.data.end(), content.begin()));
    }
    EXPECT_EQ(shared_file::open_count(), before);  // closed by the last holder
    read_result refused;
    EXPECT_EQ(upload(0, 10, refused), 0);  // paused or gone
    if (!c.remove) {
      EXPECT_TRUE(m->pause_share_byfid(f.data(), 0));
    }
  }
  // Resumed after a pause, the next request opens the file again.
  ASSERT_EQ(m->add_share(path.c_str(), content.size(), f.data(), 0), 0);
  EXPECT_TRUE(m->pause_share_byfid(f.data(), 1));
  EXPECT_TRUE(m->pause_share_byfid(f.data(), 0));
  read_result again;
  EXPECT_EQ(upload(0, 10, again), 1);
  core_test::wait_alertable(again.done);
  EXPECT_EQ(again.error, 0u);
}

TEST_F(ShareRequests, QueryCountsOnlyFirstLookups) {
  char path_out[255];
  uint64_t size = 0;
  int first = 0, later = 1;
  EXPECT_TRUE(m->query_share_counted(f.data(), path_out, &size, &first));
  EXPECT_TRUE(m->query_share_counted(f.data(), path_out, &size, &later));
  EXPECT_FALSE(m->query_share_counted(f.data(), nullptr, &size, &first));
  EXPECT_FALSE(m->query_share_counted(core_test::fid(200).data(), path_out, &size, &first));
  EXPECT_EQ(std::string(path_out), path);
  EXPECT_EQ(size, content.size());
  share_file_info row;
  ASSERT_EQ(m->copy_share_filelist(&row, 1), 1);
  EXPECT_EQ(uint32_t(row.handshakes), 1u);
}

}  // namespace

namespace {

TEST_F(ShareRequests, TheShareListIsLockedBeforeABucketNeverAfter) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  p2p::share_hash_manager* b = m->bucket_for(f.data());
  // In order, and re-entered while a bucket is held: as the insert's hand-over does.
  m->lock();
  b->lock();
  m->lock();
  m->unlock();
  b->unlock();
  m->unlock();
  EXPECT_DEATH(
      {
        b->lock();
        m->lock();
      },
      "ORCHARD_ASSERT failed: held_by_this_thread\\(\\)");
  // A bucket's table is touched only under its lock.
  EXPECT_DEATH(b->find_share(f.data()), "ORCHARD_ASSERT failed");
}

TEST_F(ShareRequests, RecordedTimeIsKeptAndOldHandlesCloseAtTheReportPass) {
  // A share from a share-list file keeps the time its record carries.
  const std::vector<uint8_t> other = core_test::fid(40);
  p2p::share_hash_manager* b = m->bucket_for(other.data());
  const uint64_t recorded = 0x01D2000000000000ull;
  // In the locks' order: the insert hands the item to the share list under its lock.
  m->lock();
  b->lock();
  EXPECT_EQ(b->insert_share(&recorded, path.c_str(), content.size(), other.data(), 0, 5, 0), 0);
  p2p::share_item* item = b->find_share(other.data());
  b->unlock();
  m->unlock();
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(uint64_t(item->head.last_write), recorded);

  // A handle nobody asked for in 7200 s closes on the next report pass.
  read_result r;
  ASSERT_EQ(upload(0, 10, r), 1);
  core_test::wait_alertable(r.done);
  const long open = shared_file::open_count();
  p2p::share_hash_manager* mine = m->bucket_for(f.data());
  mine->lock();
  p2p::share_item* shared = mine->find_share(f.data());
  ASSERT_NE(shared, nullptr);
  ASSERT_NE(shared->file, nullptr);
  shared->head.last_access = uint32_t(time(nullptr)) - 7201;
  mine->unlock();
  struct quiet_link : p2p::share_report_link {
    uint8_t node_type() override { return 5; }
    uint64_t node_id() override { return 1; }
    void send_to_sp(const std::vector<uint8_t>&) override {}
    bool send_to_up(const std::vector<uint8_t>&) override { return true; }
    void stamp_up_tick() override {}
  } link;
  m->reset_shareres_stat();
  m->send_shareres_to_sp(link);
  EXPECT_EQ(shared_file::open_count(), open - 1);
  read_result again;
  EXPECT_NE(upload(0, 10, again), 0);  // served, from the cache or the file
  EXPECT_EQ(shared_file::open_count(), open);  // the request opened the file again
  core_test::wait_alertable(again.done);
  EXPECT_EQ(again.error, 0u);
  m->delete_share_byfid(other.data(), 0);
}

TEST_F(ShareRequests, DeleteWithFlagRemovesTheFile) {
  EXPECT_TRUE(m->delete_share_byfid(f.data(), 1));
  EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(m->delete_share_byfid(f.data(), 1));
}

}  // namespace
