// A message sink that keeps every message, for tests that check what a component said.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "image/message_sink.h"

namespace hbt::testsupport {

class RecordingSink final : public image::MessageSink {
 public:
  struct Entry {
    std::uint16_t colour;
    std::string text;
  };
  void message(std::uint16_t colour, std::string_view text) override {
    std::lock_guard lock(mutex_);
    entries_.push_back({colour, std::string(text)});
  }
  std::vector<Entry> entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  bool contains(const std::string& text) const { return count(text) > 0; }
  int count(const std::string& text) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto& e : entries_) n += e.text == text;
    return n;
  }
  // Colour of the first message equal to `text`, or 0.
  std::uint16_t colour_of(const std::string& text) const {
    std::lock_guard lock(mutex_);
    for (const auto& e : entries_)
      if (e.text == text) return e.colour;
    return 0;
  }
  std::string all() const {
    std::lock_guard lock(mutex_);
    std::string out;
    for (const auto& e : entries_) out += e.text + "\n";
    return out;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace hbt::testsupport
