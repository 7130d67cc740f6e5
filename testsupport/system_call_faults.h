// Makes chosen calls of the platform's system-call table fail for the life of one object.
#pragma once

#include <atomic>
#include <cerrno>
#include <functional>
#include <memory>
#include <utility>

#include "platform/system_calls.h"

namespace hbt::testsupport {

// Replaces one entry of the table; the original comes back with the object's end.
template <typename Signature>
class CallOverride {
 public:
  CallOverride(std::function<Signature>& entry, std::function<Signature> replacement)
      : entry_(entry), original_(entry) {
    entry_ = std::move(replacement);
  }
  ~CallOverride() { entry_ = original_; }
  CallOverride(const CallOverride&) = delete;
  CallOverride& operator=(const CallOverride&) = delete;
  const std::function<Signature>& original() const { return original_; }

 private:
  std::function<Signature>& entry_;
  std::function<Signature> original_;
};

// Counts the calls of one entry and makes the calls numbered `first` to `last` (1-based)
// fail with `error`, returning `failure`; the others go to the real call.
template <typename Result, typename... Args>
class FailCalls {
 public:
  FailCalls(std::function<Result(Args...)>& entry, int first, int last, int error, Result failure)
      : state_(std::make_shared<State>()),
        override_(entry, [state = state_, original = entry, first, last, error, failure](Args... args) -> Result {
          const int n = ++state->calls;
          if (n >= first && n <= last) {
            ++state->failed;
            errno = error;
            return failure;
          }
          return original(args...);
        }) {}
  int calls() const { return state_->calls.load(); }
  int failed() const { return state_->failed.load(); }

 private:
  struct State {
    std::atomic<int> calls{0};
    std::atomic<int> failed{0};
  };
  std::shared_ptr<State> state_;
  CallOverride<Result(Args...)> override_;
};

template <typename Result, typename... Args>
FailCalls(std::function<Result(Args...)>&, int, int, int, Result) -> FailCalls<Result, Args...>;

}  // namespace hbt::testsupport
