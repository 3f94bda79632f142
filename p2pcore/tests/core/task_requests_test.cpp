// The session's request queue: a finish record reaches its download task and
// replaces the one before; one for no task is let go.
#include <gtest/gtest.h>

#include <cstring>

#include "p2pcore/ke/task_requests.h"

namespace {

uint8_t* record(uint8_t fill) {
  uint8_t* r = new uint8_t[p2p::kFinishRecordSize];
  std::memset(r, fill, p2p::kFinishRecordSize);
  return r;
}

}  // namespace

TEST(TaskRequests, FinishRecordsReachTheirTask) {
  p2p::task_requests q;
  p2p::p2p_task* task = new p2p::p2p_task;
  p2p::p2p_task* other = new p2p::p2p_task;
  q.queue(p2p::kRequestAddTask, nullptr, task);
  q.queue(p2p::kRequestFinish, record(0x11), task);
  q.queue(p2p::kRequestFinish, record(0x22), other);  // not added: let go
  q.run();
  std::vector<uint8_t> got;
  ASSERT_TRUE(q.finish_record(task, &got));
  EXPECT_EQ(got, std::vector<uint8_t>(p2p::kFinishRecordSize, 0x11));
  EXPECT_FALSE(q.finish_record(other, &got));

  q.queue(p2p::kRequestFinish, record(0x33), task);
  q.run();
  ASSERT_TRUE(q.finish_record(task, &got));
  EXPECT_EQ(got.front(), 0x33);  // the latest record

  q.queue(p2p::kRequestDeleteTask, nullptr, task);
  q.run();
  EXPECT_FALSE(q.finish_record(task, &got));
  delete other;
}
