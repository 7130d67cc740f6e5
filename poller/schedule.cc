#include "poller/schedule.h"

#include <algorithm>
#include <cstring>

#include "image/lock_byte.h"
#include "poller/frames.h"
#include "poller/record_view.h"
#include "poller/request.h"
#include "poller/writes.h"

namespace hbt::poller {

using namespace hbt::image;

namespace {

// Name and first poll record of the device of record k, for messages.
struct DeviceLabel {
  char name[sizeof(DeviceRecord::name) + 1] = {};
  int first = 0;
};

DeviceLabel device_label(Niolib& niolib, const PollRecordHead& head, int k) {
  DeviceLabel label;
  label.first = k;
  if (DeviceRecord* device = niolib.nio_map_dev(head.device_index)) {
    std::memcpy(label.name, device->name, sizeof device->name);
    label.first = device->first_poll_record;
  }
  return label;
}

}  // namespace

void set_status(PollContext& ctx, int channel, int k, std::uint16_t status) {
  std::optional<RecordView> view = view_record(ctx.niolib, k);
  ChannelRecord* ch = ctx.niolib.nio_map_chan(channel);
  if (!view || ch == nullptr) return;
  PollRecordHead& head = *view->head;
  const std::uint16_t old = head.status;
  head.status = status;
  if (old == kStatusGood && status == kStatusGood) return;
  if ((old == kStatusGood) != (status == kStatusGood) && view->exception_type() != ExceptionType::Disabled) {
    int flagged;
    {
      ByteLock lock(&head.lock);
      flagged = view->exceptions.flag_all_registered();
    }
    add_changed(view->entry, flagged);
  }
  if (status == kStatusCommFailure) {
    if (ch->display_alarms && old != kStatusCommFailure) {
      const DeviceLabel label = device_label(ctx.niolib, head, k);
      report(ctx.sink, kColourError, "Communication Failure Chan %d Dev =%s Pollrec %d", channel + 1, label.name,
             k - label.first + 1);
    }
    view->entry->poll_countdown = static_cast<std::int32_t>(active_settings(*ch).delay);
  } else if (status == kStatusGood && old == kStatusCommFailure && ch->display_alarms) {
    const DeviceLabel label = device_label(ctx.niolib, head, k);
    report(ctx.sink, kColourInfo, "Communication Recovered Chan %d Dev =%s Pollrec %d", channel + 1, label.name,
           k - label.first + 1);
  }
}

void set_device_failed(PollContext& ctx, int channel, int k) {
  ChannelRecord* ch = ctx.niolib.nio_map_chan(channel);
  PollRecordHead* failed = ctx.niolib.nio_map_dit(k);
  if (ch == nullptr || failed == nullptr) return;
  const RecordRange range = channel_records(ctx.niolib, *ch);
  DeviceRecord* device = ctx.niolib.nio_map_dev(failed->device_index);
  if (device == nullptr || !range.contains(k)) {
    set_status(ctx, channel, k, kStatusCommFailure);
    return;
  }
  // The device's records as the image places them, never past its channel's.
  const int first = std::max<int>(device->first_poll_record, range.first);
  const int end = std::min<int>(device->first_poll_record + device->poll_record_count, range.first + range.count);
  for (int r = first; r < end; ++r) {
    if (r != k) {
      PollRecordHead* head = ctx.niolib.nio_map_dit(r);
      PollControlEntry* entry = ctx.niolib.nio_map_ptr(r);
      if (head == nullptr || entry == nullptr || head->device_index != failed->device_index) continue;
      if (entry->polled != 1 || entry->access_expired != 0) continue;
    }
    set_status(ctx, channel, r, kStatusCommFailure);
  }
  // A record outside the device's stated range still fails itself.
  if (k < first || k >= end) set_status(ctx, channel, k, kStatusCommFailure);
}

bool read_scan(PollContext& ctx, ChannelSchedule& schedule, ChannelBlock& block, int channel) {
  ChannelRecord* ch = ctx.niolib.nio_map_chan(channel);
  if (ch == nullptr) return false;
  const RecordRange range = channel_records(ctx.niolib, *ch);
  PollControlEntry* entries = control_entries(ctx.niolib, range.first, range.count);
  if (entries == nullptr) return false;
  const int start = range.contains(schedule.read_cursor) ? schedule.read_cursor : range.first;
  int k = start;
  do {
    PollControlEntry& e = entries[k - range.first];
    if (e.poll_countdown <= 0) {
      if (e.access_countdown <= 0) {
        if (e.access_expired == 0) {
          // Nobody read the record within its access time: stop polling it until a client
          // access reloads the countdown.
          e.access_expired = 1;
          if (PollRecordHead* head = ctx.niolib.nio_map_dit(k); head && head->status == kStatusGood)
            head->status = kStatusAccessExpired;
        }
      } else if (e.polled == 1 && prepare_request(ctx.niolib, block, channel, k, false)) {
        build_read_request(block);
        TransportEnv env = ctx.transport(*ch);
        const bool sent = send_read_request(block, env);
        // A read that waits for its connection goes out as soon as there is one: its poll
        // time runs from now as well.
        if (PollRecordHead* head = ctx.niolib.nio_map_dit(k)) e.poll_countdown = head->poll_time;
        schedule.read_cursor = static_cast<std::uint16_t>(sent ? range.next(k) : k);
        return true;
      }
    }
    k = range.next(k);
  } while (k != start);
  schedule.read_cursor = static_cast<std::uint16_t>(start);
  return false;
}

bool write_scan(PollContext& ctx, ChannelSchedule& schedule, ChannelBlock& block, int channel) {
  ChannelRecord* ch = ctx.niolib.nio_map_chan(channel);
  if (ch == nullptr) return false;
  const RecordRange range = channel_records(ctx.niolib, *ch);
  PollControlEntry* entries = control_entries(ctx.niolib, range.first, range.count);
  if (entries == nullptr) return false;
  const int start = range.contains(schedule.write_cursor) ? schedule.write_cursor : range.first;
  int k = start;
  do {
    if (entries[k - range.first].write_request_count > 0) {
      switch (issue_next_write(ctx, block, channel, k)) {
        case WriteAnswer::kDone:
          schedule.write_cursor = static_cast<std::uint16_t>(range.next(k));
          return true;
        case WriteAnswer::kMorePending:
          schedule.write_cursor = static_cast<std::uint16_t>(k);
          return true;
        case WriteAnswer::kNothingFound:
          break;
      }
    }
    k = range.next(k);
  } while (k != start);
  schedule.write_cursor = static_cast<std::uint16_t>(start);
  return false;
}

void choose_next_request(PollContext& ctx, ChannelSchedule& schedule, ChannelBlock& block, int channel,
                         bool writes_pending, bool reads_possible) {
  auto reads = [&] { return reads_possible && read_scan(ctx, schedule, block, channel); };
  auto writes = [&] { return writes_pending && write_scan(ctx, schedule, block, channel); };
  if (!schedule.reads_first && !writes_pending) schedule.reads_first = 1;
  if (schedule.reads_first) {
    if (reads())
      schedule.reads_first = 0;
    else if (!writes())
      schedule.reads_first = 0;
  } else {
    if (writes())
      schedule.reads_first = 1;
    else if (!reads())
      schedule.reads_first = 1;
  }
}

}  // namespace hbt::poller
