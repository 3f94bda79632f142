// CWorkerThread: start, stop within the wait, and a thread that outlives it.
#include "foundation/sync/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

struct Job {
  CWorkerThread worker;
  DWORD lingerMs = 0;                 // how long the thread goes on after the stop
  HANDLE done = EventCreate(true);    // set by the thread as its last step
  std::atomic<DWORD> waitAfterStop{0xFFFFFFFF};
  std::atomic<int> steps{0};
  ~Job() { EventClose(&done); }
};

unsigned __stdcall JobThread(void* p) {
  auto* job = static_cast<Job*>(p);
  HANDLE stop = job->worker.StopEvent();
  while (!job->worker.StopRequested(10)) ++job->steps;
  Sleep(job->lingerMs);
  // A thread that outlived its owner's wait still uses its event.
  job->waitAfterStop = WaitForSingleObject(stop, 0);
  EventSet(job->done, true);
  return 0;
}

TEST(CWorkerThread, StopWithinTheWaitClosesHandles) {
  Job job;
  ASSERT_TRUE(job.worker.Start(JobThread, &job));
  EXPECT_TRUE(job.worker.Running());
  EXPECT_FALSE(job.worker.Start(JobThread, &job)) << "already running";
  EXPECT_TRUE(job.worker.Stop(10000));
  EXPECT_FALSE(job.worker.Running());
  EXPECT_EQ(job.worker.StopEvent(), nullptr);
  EXPECT_EQ(job.waitAfterStop.load(), WAIT_OBJECT_0);
}

TEST(CWorkerThread, ThreadOutlivingTheWaitKeepsItsHandles) {
  Job job;
  job.lingerMs = 500;
  ASSERT_TRUE(job.worker.Start(JobThread, &job));
  HANDLE stop = job.worker.StopEvent();
  EXPECT_FALSE(job.worker.Stop(50)) << "the thread is still running";
  EXPECT_FALSE(job.worker.Running());
  EXPECT_EQ(job.worker.StopEvent(), nullptr);
  ASSERT_TRUE(EventWait(job.done, 10000));
  EXPECT_EQ(job.waitAfterStop.load(), WAIT_OBJECT_0) << "its stop event must still be open";
  EXPECT_EQ(WaitForSingleObject(stop, 0), WAIT_OBJECT_0);
  CloseHandle(stop);
}

TEST(CWorkerThread, StopsWhenNeverStartedAndStartsAgain) {
  Job job;
  EXPECT_TRUE(job.worker.Stop(10));
  ASSERT_TRUE(job.worker.Start(JobThread, &job));
  EXPECT_TRUE(job.worker.Stop(10000));
  EventSet(job.done, false);
  job.waitAfterStop = 0xFFFFFFFF;
  ASSERT_TRUE(job.worker.Start(JobThread, &job)) << "a stopped worker starts again";
  EXPECT_FALSE(job.worker.StopRequested(0));
  EXPECT_TRUE(job.worker.Stop(10000));
  EXPECT_EQ(job.waitAfterStop.load(), WAIT_OBJECT_0);
}

}  // namespace
