// The command gate under the sanitizers: a close waits for the command inside
// and no longer, lets none in afterwards, and a command that outlives the
// wait still leaves through a gate that is there.
#include "server/control/codec/command_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;
long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}
}  // namespace

TEST(CommandGate, CloseWaitsForTheCommandInsideWithinItsTime) {
  struct Row {
    const char* name;
    int commandMs;  // how long the command inside runs; -1 none
    uint32_t closeMs;
    bool closed;
  } rows[] = {
      {"nothing inside", -1, 1000, true},
      {"a command that ends in time", 100, 5000, true},
      {"a command that outlives the wait", 600, 100, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    auto gate = std::make_shared<CommandGate>();
    std::atomic<bool> inside{false};
    std::thread command;
    if (r.commandMs >= 0) {
      command = std::thread([gate, &inside, ms = r.commandMs] {
        ASSERT_TRUE(gate->Enter());
        inside = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        gate->Leave();
      });
      while (!inside) std::this_thread::yield();
    }
    const Clock::time_point t = Clock::now();
    EXPECT_EQ(gate->Close(r.closeMs), r.closed);
    EXPECT_LT(MsSince(t), r.closeMs + 500);
    EXPECT_FALSE(gate->Enter()) << "no command runs once the gate is closed";
    if (command.joinable()) command.join();
    EXPECT_EQ(gate->Inside(), 0);
  }
}
