// A waitable auto-reset event (one wait consumes one signal), and a flag that stays set once
// set, for the end of a thread that more than one may wait for.
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

class DoneFlag {
 public:
  void set() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
  }
  // True once set, false when the time ran out first.
  bool wait_until(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return cv_.wait_until(lock, deadline, [this] { return done_; });
  }
  bool wait_for(std::chrono::milliseconds timeout) { return wait_until(std::chrono::steady_clock::now() + timeout); }
  bool is_set() {
    std::lock_guard lock(mutex_);
    return done_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
};

}  // namespace hbt::opc
