// Violations of an oracle: all counted, the first few kept in detail (one per key, so that one
// channel's trouble does not hide another's).
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace hbt::soak {

struct Violations {
  long count = 0;
  std::vector<std::string> first;
  std::vector<std::string> keys;

  void add(const std::string& what, const std::string& key = "") {
    ++count;
    if (first.size() >= 8) return;
    if (!key.empty() && std::find(keys.begin(), keys.end(), key) != keys.end()) return;
    keys.push_back(key);
    first.push_back(what);
  }
};

}  // namespace hbt::soak
