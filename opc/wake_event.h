// A waitable auto-reset event: one wait consumes one signal.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace hbt::opc {

class WakeEvent {
 public:
  void signal() {
    {
      std::lock_guard lock(mutex_);
      signalled_ = true;
    }
    cv_.notify_one();
  }
  // True when signalled, false when the time ran out.
  bool wait_for(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    bool woken = cv_.wait_for(lock, timeout, [this] { return signalled_; });
    signalled_ = false;
    return woken;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace hbt::opc
