// Texts that must keep their address for as long as the lists that point at them live:
// appended into blocks that are never moved.
#pragma once

#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace hbt::points {

class StringArena {
 public:
  // A NUL-terminated copy of `text`.
  const char* add(std::string_view text) {
    const std::size_t need = text.size() + 1;
    if (need > kBlockSize) {
      blocks_.push_back(std::make_unique<char[]>(need));
      char* p = blocks_.back().get();
      std::memcpy(p, text.data(), text.size());
      p[text.size()] = 0;
      // The current block stays the one to fill.
      if (blocks_.size() > 1) std::swap(blocks_[blocks_.size() - 1], blocks_[blocks_.size() - 2]);
      bytes_ += need;
      return p;
    }
    if (blocks_.empty() || used_ + need > kBlockSize) {
      blocks_.push_back(std::make_unique<char[]>(kBlockSize));
      used_ = 0;
    }
    char* p = blocks_.back().get() + used_;
    std::memcpy(p, text.data(), text.size());
    p[text.size()] = 0;
    used_ += need;
    bytes_ += need;
    return p;
  }
  std::size_t bytes() const { return bytes_; }
  std::size_t reserved() const { return blocks_.size() * kBlockSize; }

 private:
  static constexpr std::size_t kBlockSize = 64 * 1024;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t used_ = 0;
  std::size_t bytes_ = 0;
};

}  // namespace hbt::points
