// The gate of the control commands.
#include "server/control/codec/command_gate.h"

#include <chrono>

bool CommandGate::Enter() {
  std::lock_guard<std::mutex> hold(lock_);
  if (closed_) return false;
  ++inside_;
  return true;
}

void CommandGate::Leave() {
  std::lock_guard<std::mutex> hold(lock_);
  if (inside_ > 0) --inside_;
  left_.notify_all();
}

bool CommandGate::Close(uint32_t ms) {
  std::unique_lock<std::mutex> hold(lock_);
  closed_ = true;
  return left_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return inside_ == 0; });
}

int CommandGate::Inside() const {
  std::lock_guard<std::mutex> hold(lock_);
  return inside_;
}
