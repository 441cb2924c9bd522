// The state of a simulated device behind its own lock: tests read and edit
// it while the simulator answers on another thread.
#pragma once

#include <mutex>

template <typename StateType>
class LockedState {
 public:
  using State = StateType;

  // Runs `f` on the state under the lock.
  template <typename F>
  auto with(F f) {
    std::lock_guard<std::mutex> lock(mu_);
    return f(state_);
  }
  State snapshot() const {
    std::lock_guard<std::mutex> lock(mu_);
    return state_;
  }

 protected:
  mutable std::mutex mu_;
  State state_;
};
