// The session's request queue: a finish record reaches its download task and
// replaces the one before; one for no task, or one the task cannot read, is
// let go; a deleted task is no longer reached.
#include <gtest/gtest.h>

#include <cstring>

#include "p2pcore/ke/task_requests.h"
#include "p2pcore/wire/wire_bytes.h"

namespace {

// A finish record: flag, unit 1024, width 8, the ranges, zero-filled to its size.
uint8_t* record(uint32_t flag, std::vector<std::pair<uint32_t, uint32_t>> ranges, uint16_t width = 8) {
  uint8_t* r = new uint8_t[p2p::kFinishRecordSize]();
  p2p::store_le(r, flag, 4);
  p2p::store_le(r + 4, 1024, 4);
  p2p::store_le(r + 8, width, 2);
  p2p::store_le(r + 10, ranges.size(), 2);
  for (size_t i = 0; i < ranges.size(); ++i) {
    p2p::store_le(r + 12 + 8 * i, ranges[i].first, 4);
    p2p::store_le(r + 16 + 8 * i, ranges[i].second, 4);
  }
  return r;
}

p2p::p2phandle* new_task(uint8_t n) {
  p2p::task_setup s;
  s.file_hash[0] = n;
  s.file_size = 100 * 1024;
  return new p2p::p2phandle(s);
}

using ranges = std::vector<std::pair<uint64_t, uint64_t>>;

}  // namespace

TEST(TaskRequests, FinishRecordsReachTheirTask) {
  p2p::task_requests q;
  p2p::p2phandle* task = new_task(1);
  p2p::p2phandle* other = new_task(2);  // never added
  q.add(task);
  q.queue(p2p::kRequestFinish, record(0x11, {{0, 10}}), task);
  q.queue(p2p::kRequestFinish, record(0x22, {{0, 99}}), other);  // not a task: let go
  q.run();
  EXPECT_EQ(task->own_have_map().flag, 0x11);
  EXPECT_EQ(task->own_have_map().ranges, (ranges{{0, 10}}));
  EXPECT_TRUE(other->own_have_map().ranges.empty());

  q.queue(p2p::kRequestFinish, record(0x33, {{0, 20}, {30, 40}}), task);
  q.run();
  EXPECT_EQ(task->own_have_map().flag, 0x33);  // the latest record
  EXPECT_EQ(task->own_have_map().ranges, (ranges{{0, 20}, {30, 40}}));
  q.queue(p2p::kRequestFinish, record(0x44, {{0, 1}}, 3), task);  // width 3: unreadable, the map stays
  q.run();
  EXPECT_EQ(task->own_have_map().flag, 0x33);

  q.queue(p2p::kRequestDeleteTask, nullptr, task);
  q.run();
  EXPECT_FALSE(q.has_task(task));
  EXPECT_FALSE(q.with_handle(task, [](p2p::p2phandle&) {}));
  // Requests for the deleted task are let go.
  EXPECT_TRUE(q.queue(p2p::kRequestFinish, record(0x55, {{0, 1}}), task));
  q.run();
  delete other;
}

TEST(TaskRequests, NothingRunsAfterTheSchedulerEnded) {
  p2p::task_requests q;
  p2p::p2phandle* task = new_task(3);
  q.add(task);
  q.run();
  ASSERT_TRUE(q.has_task(task));
  q.drop_all();  // the scheduler thread ends: every task is freed
  EXPECT_FALSE(q.with_handle(task, [](p2p::p2phandle&) {}));
  uint8_t* late = record(1, {});
  EXPECT_FALSE(q.queue(p2p::kRequestFinish, late, task)) << "a delete_p2p_task waiting on this would wait forever";
  delete[] late;
}
