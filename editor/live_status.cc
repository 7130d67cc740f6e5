#include "editor/live_status.h"

#include <cstdio>

#include "image/layout.h"

namespace hbt::editor {

int state_icon(std::uint16_t status_word) {
  int state = status_word & 0x1FFF;
  if (state == 0) return kIconGood;
  if (state == image::kStatusCommFailure) return kIconCommFailure;
  if (state == image::kStatusAccessExpired || state == image::kStatusNotPolled) return kIconNotPolled;
  return kIconUnknown;
}

std::string traffic_text(int transmitted, int received, int polls_per_second) {
  char text[64];
  std::snprintf(text, sizeof text, "TX=%d RX=%d Polls/Sec=%d", transmitted, received, polls_per_second);
  return text;
}

void LiveStatus::start() {
  if (image_channels_ == 0) image_channels_ = link_.attach();
}

int LiveStatus::status_icon_for(const CIORec& record, int image_records) {
  int number = record.record_number();
  if (number < 0 || number >= image_records) return kIconUnknown;
  auto status = link_.status(number);
  return status ? state_icon(*status) : kIconUnknown;
}

LiveStatus::Tick LiveStatus::tick(const CDidDoc& doc) {
  Tick result;
  // A second attempt at the first tick; after that the editor stops asking.
  if (image_channels_ == 0) {
    image_channels_ = link_.attach();
    if (image_channels_ == 0) image_channels_ = -1;
  }
  int index = -1;
  for (std::size_t i = 0; i < doc.channels().size(); ++i) {
    if (doc.channels()[i].get() == doc.current_channel()) index = static_cast<int>(i);
  }
  std::optional<ChannelCounters> counters;
  if (image_channels_ > 0 && index >= 0 && index < image_channels_) counters = link_.counters(index);
  if (counters) {
    // A count of another channel, of an earlier run of the poller, or from before a missed
    // tick says nothing about this one: no rate until the next tick.
    int rate = 0;
    if (previous_ && previous_->channel == index && previous_->counters.generation == counters->generation &&
        counters->alive_counter >= previous_->counters.alive_counter) {
      // 16-bit counters wrap; their difference over the 2 s tick is taken on 16 bits too.
      rate = static_cast<std::uint16_t>(counters->transmitted - previous_->counters.transmitted) / 2;
    }
    previous_ = Reading{index, *counters};
    result.traffic = traffic_text(counters->transmitted, counters->received, rate);
  } else {
    previous_.reset();
  }
  result.changed_rows = read_rows(doc);
  return result;
}

std::vector<int> LiveStatus::read_rows(const CDidDoc& doc) {
  std::vector<int> changed;
  const CDevice* device = doc.current_device();
  std::size_t rows = device ? device->iorecs().size() : 0;
  if (device != shown_device_ || shown_.size() != rows) {
    shown_device_ = device;
    shown_.assign(rows, 0);  // 0 is no icon: every row is drawn
  }
  int image_records = image_channels_ > 0 && rows > 0 ? link_.poll_record_count() : 0;
  for (std::size_t i = 0; i < rows; ++i) {
    int icon = status_icon_for(*device->iorecs()[i], image_records);
    if (icon != shown_[i]) {
      shown_[i] = icon;
      changed.push_back(static_cast<int>(i));
    }
  }
  return changed;
}

int LiveStatus::row_icon(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= shown_.size() || shown_[row] == 0) return kIconUnknown;
  return shown_[static_cast<std::size_t>(row)];
}

}  // namespace hbt::editor
