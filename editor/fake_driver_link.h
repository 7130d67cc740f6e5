// A driver for tests of the live status: counters, status words and messages set by the
// test, reloads counted.
#pragma once

#include <deque>
#include <map>

#include "editor/driver_link.h"

namespace hbt::editor {

class FakeDriverLink final : public DriverLink {
 public:
  int channels = 0;       // what attach() answers
  int attach_calls = 0;
  int records = 0;
  bool readable = true;   // false: every read fails, as with a driver that stopped
  std::map<int, ChannelCounters> channel_counters;  // generation and alive counter come from below
  std::uint32_t generation = 0;     // image generation the counters are read from
  std::uint32_t alive_counter = 0;  // the poller's alive counter at the reading
  std::map<int, std::uint16_t> statuses;
  std::deque<DriverMessage> messages;
  std::vector<std::string> reloads;

  int attach() override {
    ++attach_calls;
    return channels;
  }
  int poll_record_count() override { return readable ? records : 0; }
  std::optional<ChannelCounters> counters(int index) override {
    if (!readable || !channel_counters.count(index)) return std::nullopt;
    ChannelCounters c = channel_counters[index];
    c.generation = generation;
    c.alive_counter = alive_counter;
    return c;
  }
  std::optional<std::uint16_t> status(int record) override {
    if (!readable || !statuses.count(record)) return std::nullopt;
    return statuses[record];
  }
  std::optional<DriverMessage> next_message() override {
    if (messages.empty()) return std::nullopt;
    DriverMessage m = messages.front();
    messages.pop_front();
    return m;
  }
  void reload(const std::string& path) override { reloads.push_back(path); }
};

}  // namespace hbt::editor
