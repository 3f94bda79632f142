// CLock and CLockGuard: who holds the lock when.
#include "foundation/sync/locks.h"

#include <gtest/gtest.h>

#include "foundation/sync/event_thread.h"

namespace {

// A second thread that takes the lock and signals once it has it.
template <class Lock>
struct Contender {
  Lock* lock;
  HANDLE got = EventCreate(true);
  HANDLE thread = nullptr;
  static unsigned __stdcall Run(void* p) {
    auto* c = static_cast<Contender*>(p);
    c->lock->Enter();
    EventSet(c->got, true);
    c->lock->Leave();
    return 0;
  }
  explicit Contender(Lock* l) : lock(l) { thread = ThreadStart(Run, this); }
  ~Contender() {
    ThreadWait(thread, 10000);
    ThreadClose(&thread);
    EventClose(&got);
  }
  bool Got(DWORD ms) { return EventWait(got, ms); }
};

TEST(CLockGuard, HoldsUntilLeaveAndEntersAgain) {
  CLock lock;
  {
    CLockGuard guard(lock);
    EXPECT_TRUE(guard.Held());
    Contender<CLock> other(&lock);
    EXPECT_FALSE(other.Got(100)) << "the guard holds the lock";
    guard.Leave();
    EXPECT_FALSE(guard.Held());
    EXPECT_TRUE(other.Got(10000));
    guard.Leave();  // a second leave does nothing
    guard.Enter();
    EXPECT_TRUE(guard.Held());
    guard.Enter();  // already held: no second entry to leave later
  }
  Contender<CLock> after(&lock);
  EXPECT_TRUE(after.Got(10000)) << "the guard leaves at the end of its scope";
}

TEST(CLock, SameThreadMayEnterAgain) {
  CLock lock;
  lock.Enter();
  lock.Enter();
  lock.Leave();
  {
    Contender<CLock> other(&lock);
    EXPECT_FALSE(other.Got(100)) << "still held once";
    lock.Leave();
    EXPECT_TRUE(other.Got(10000));
  }
}

TEST(CLockGuard, HoldsForItsScope) {
  CLock lock;
  Contender<CLock>* other = nullptr;
  {
    CLockGuard hold(lock);
    {
      CLockGuard again(lock);  // re-entry on the same thread
    }
    other = new Contender<CLock>(&lock);
    EXPECT_FALSE(other->Got(100)) << "still held after the inner scope";
  }
  EXPECT_TRUE(other->Got(10000)) << "released at the end of the scope";
  delete other;
}

TEST(CLock, HeldByThisThreadOnlyWhileEntered) {
  CLock lock;
  CLock guarded;
  auto heldElsewhere = [](const auto& l) {
    struct Args {
      decltype(&l) lock;
      bool held;
    } args{&l, true};
    HANDLE t = ThreadStart([](void* p) -> unsigned {
      auto* a = static_cast<Args*>(p);
      a->held = a->lock->HeldByThisThread();
      return 0;
    }, &args);
    ThreadWait(t, 10000);
    ThreadClose(&t);
    return args.held;
  };
  EXPECT_FALSE(lock.HeldByThisThread());
  lock.Enter();
  lock.Enter();
  EXPECT_TRUE(lock.HeldByThisThread());
  EXPECT_FALSE(heldElsewhere(lock));
  lock.Leave();
  EXPECT_TRUE(lock.HeldByThisThread()) << "entered twice, left once";
  lock.Leave();
  EXPECT_FALSE(lock.HeldByThisThread());

  EXPECT_FALSE(guarded.HeldByThisThread());
  {
    CLockGuard hold(guarded);
    EXPECT_TRUE(guarded.HeldByThisThread());
    EXPECT_FALSE(heldElsewhere(guarded));
    hold.Leave();
    EXPECT_FALSE(guarded.HeldByThisThread()) << "left before the end of the scope";
    hold.Enter();
    EXPECT_TRUE(guarded.HeldByThisThread());
  }
  EXPECT_FALSE(guarded.HeldByThisThread());
}

}  // namespace
