// The main window's 2000 ms status tick: traffic counters of the current channel and the
// state icons of the current device's poll records, read from the running driver.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "editor/document.h"
#include "editor/driver_link.h"

namespace hbt::editor {

// State icons of the poll-record list (1-based, as the list's image strip).
enum StateIcon : int { kIconGood = 1, kIconCommFailure = 2, kIconNotPolled = 3, kIconUnknown = 4 };

// Icon for a poll record's status word (its low 13 bits are the state).
int state_icon(std::uint16_t status_word);

// "TX=%d RX=%d Polls/Sec=%d".
std::string traffic_text(int transmitted, int received, int polls_per_second);

class LiveStatus {
 public:
  explicit LiveStatus(DriverLink& link) : link_(link) {}

  // When the main window is created: the first attempt to attach.
  void start();

  struct Tick {
    std::optional<std::string> traffic;  // new text for the message pane, if any
    std::vector<int> changed_rows;       // rows of the poll-record list to draw again
  };
  // One status tick for the document's current channel and device.
  Tick tick(const CDidDoc& doc);
  // The rows part of a tick alone: the current device's states read now, for a list that
  // was just drawn for another channel or device (or had rows added or removed). Returns
  // the rows whose icon changed.
  std::vector<int> read_rows(const CDidDoc& doc);

  // The icon now shown for row `row` of the current device (after the tick's redraws).
  int row_icon(int row) const;
  // Rows are compared with what was last shown; a new list (another device, records added
  // or removed) starts over and draws every row.
  void forget_rows() { shown_.clear(); shown_device_ = nullptr; }

  // Channel count of the running image: > 0 attached, 0 not yet, -1 given up.
  int image_channels() const { return image_channels_; }

 private:
  int status_icon_for(const CIORec& record, int image_records);

  // The traffic counters of the last tick, for the rate of the next one. A rate needs two
  // readings of the same channel in the same run of the poller, two seconds apart.
  struct Reading {
    int channel = -1;
    ChannelCounters counters;
  };

  DriverLink& link_;
  int image_channels_ = 0;
  std::optional<Reading> previous_;
  const CDevice* shown_device_ = nullptr;
  std::vector<int> shown_;  // icon last shown per row
};

}  // namespace hbt::editor
