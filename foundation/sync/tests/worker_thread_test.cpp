// CWorkerThread: start, stop within the wait, and a thread that outlives it.
#include "foundation/sync/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

struct Job {
  CWorkerThread worker;
  DWORD lingerMs = 0;                 // how long the thread goes on after the stop
  HANDLE done = EventCreate(true);    // set by the thread as its last step
  std::atomic<DWORD> waitAfterStop{0xFFFFFFFF};
  std::atomic<bool> stopSeenAfter{false};  // StopRequested, asked again after the linger
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
  job->stopSeenAfter = job->worker.StopRequested(0);
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

// A thread let go after its wait goes on looking at StopRequested: it must
// still read "stop", or it would work on while the program shuts down.
TEST(CWorkerThread, AThreadLetGoStillSeesTheStop) {
  Job job;
  job.lingerMs = 300;
  ASSERT_TRUE(job.worker.Start(JobThread, &job));
  HANDLE stop = job.worker.StopEvent();
  EXPECT_FALSE(job.worker.Stop(20));
  ASSERT_TRUE(EventWait(job.done, 10000));
  EXPECT_TRUE(job.stopSeenAfter.load());
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

// The lines a bounded stop wrote, as "level:text".
std::vector<std::string> g_stopLines;
void RecordStopLine(int level, const char* line) { g_stopLines.push_back(std::to_string(level) + ":" + line); }

TEST(CWorkerThread, BoundedStopLogsItsWaitAndAThreadLeftRunning) {
  const ThreadStopLog log{RecordStopLine, "waiting", "left running"};
  struct Row {
    const char* name;
    DWORD lingerMs, firstMs, laterMs;
    bool stopped;
    std::vector<std::string> lines;
  } rows[] = {
      {"ends within the first wait", 0, 10000, 5000, true, {}},
      {"ends within the second wait", 300, 20, 10000, true, {"1:waiting"}},
      {"outlives both waits", 1500, 20, 100, false, {"1:waiting", "3:left running"}},
      {"outlives a single wait", 800, 20, 0, false, {"3:left running"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    g_stopLines.clear();
    Job job;
    job.lingerMs = row.lingerMs;
    ASSERT_TRUE(job.worker.Start(JobThread, &job));
    const int leftBefore = ThreadsLeftRunning();
    HANDLE stop = job.worker.StopEvent();
    EXPECT_EQ(job.worker.Stop(row.firstMs, row.laterMs, log), row.stopped);
    EXPECT_EQ(g_stopLines, row.lines);
    EXPECT_EQ(ThreadsLeftRunning() - leftBefore, row.stopped ? 0 : 1);
    EXPECT_FALSE(job.worker.Running());
    ASSERT_TRUE(EventWait(job.done, 10000));
    EXPECT_TRUE(job.stopSeenAfter.load()) << "the thread still sees that it was asked to stop";
    if (!row.stopped) CloseHandle(stop);  // let go by the worker; the test ends what it started
  }
}

TEST(CWorkerThread, RequestStopEndsTheThreadForALaterStop) {
  Job job;
  ASSERT_TRUE(job.worker.Start(JobThread, &job));
  job.worker.RequestStop();
  ASSERT_TRUE(ThreadWait(job.worker.Thread(), 10000));
  EXPECT_TRUE(job.worker.Running()) << "not collected before its Stop";
  EXPECT_TRUE(job.worker.Ended());
  EXPECT_TRUE(job.worker.Stop(0));
  EXPECT_FALSE(job.worker.Ended());
}

}  // namespace
