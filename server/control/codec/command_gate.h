// CommandGate: the commands running on the control channel's thread, so that
// the stop sequence frees nothing a command still uses. Once closed no new
// command enters; Close waits a bounded time for those inside. Platform-free.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

class CommandGate {
 public:
  // False once closed: the command is not run.
  bool Enter();
  void Leave();
  // Closes the gate and waits up to ms for the commands inside to leave;
  // false when one is still inside.
  bool Close(uint32_t ms);
  int Inside() const;

 private:
  mutable std::mutex lock_;
  std::condition_variable left_;
  int inside_ = 0;
  bool closed_ = false;
};
