// ORCHARD_ASSERT is on in the test builds and ends the program naming the
// broken condition; the thread owner tells its bound thread from any other.
#include "foundation/check/orchard_assert.h"

#include <gtest/gtest.h>

#include <thread>

#include "foundation/check/thread_owner.h"

TEST(OrchardAssert, OnInTheBuildsThatRunTheTests) { EXPECT_TRUE(kOrchardAssertsOn); }

TEST(OrchardAssert, AFailedCheckEndsTheProgramNamingIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  int evaluated = 0;
  ORCHARD_ASSERT(++evaluated == 1);
  EXPECT_EQ(evaluated, 1);
  EXPECT_DEATH(ORCHARD_ASSERT(evaluated == 2), "ORCHARD_ASSERT failed: evaluated == 2 at .*orchard_assert_test.cpp");
}

TEST(ThreadOwner, OnlyTheBoundThreadIsCurrent) {
  CThreadOwner owner;
  auto elsewhere = [&owner] {
    bool current = true;
    std::thread([&] { current = owner.IsCurrent(); }).join();
    return current;
  };
  struct Row {
    const char* name;
    void (*step)(CThreadOwner&);
    bool here, there;
  } rows[] = {
      {"never bound", [](CThreadOwner&) {}, false, false},
      {"bound here", [](CThreadOwner& o) { o.Bind(); }, true, false},
      {"released", [](CThreadOwner& o) { o.Release(); }, false, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    r.step(owner);
    EXPECT_EQ(owner.IsCurrent(), r.here);
    EXPECT_EQ(elsewhere(), r.there);
  }
  std::thread([&] { owner.Bind(); }).join();
  EXPECT_FALSE(owner.IsCurrent()) << "bound by another thread";
  EXPECT_TRUE(owner.IsBound());
}
