// The values every D register of mcsim held over time, read from the history file the
// simulator appends to ("MS TYPE NUMBER VALUE" per change, monotonic milliseconds).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace hbt::soak {

class RegisterHistory {
 public:
  explicit RegisterHistory(std::string path = "") : path_(std::move(path)) {}

  // Takes in the complete lines written since the last call.
  void catch_up();
  // One change, as a history line gives it (lines of other register types are not kept).
  void add(double t, std::uint32_t n, std::uint16_t v);

  // Whether register n held v at some time within [from, to] (0 before its first change).
  bool held(std::uint32_t n, std::uint16_t v, double from, double to) const;
  // Whether register n changed to v at or after `from`.
  bool became(std::uint32_t n, std::uint16_t v, double from) const;
  // The last time register n held v at or before `to` (when it stopped holding it); -1 if never.
  double last_held(std::uint32_t n, std::uint16_t v, double to) const;
  std::uint16_t latest(std::uint32_t n) const;
  long lines() const { return lines_; }

 private:
  struct Change {
    double t;
    std::uint16_t v;
  };
  std::string path_;
  std::size_t offset_ = 0;
  std::map<std::uint32_t, std::vector<Change>> changes_;
  long lines_ = 0;
};

}  // namespace hbt::soak
