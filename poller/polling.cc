#include "poller/polling.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "image/lock_byte.h"

namespace hbt::poller {

using namespace hbt::image;

namespace {

void set_up_channel(Poller& poller, int i, ChannelRecord* ch) {
  auto block = std::unique_ptr<ChannelBlock>(new (std::nothrow) ChannelBlock());
  if (!block) {
    report(poller.messages, kColourError, "MCB Allocation Failure Channel %d", i + 1);
    poller.in_service[i] = kChannelNotPolled;
    return;
  }
  ChannelSchedule& schedule = poller.schedules[i];
  schedule.reads_first = 1;
  schedule.read_cursor = schedule.write_cursor = ch->first_poll_record;

  // The primary settings block becomes the active one for the whole run.
  ch->stats.active_selector = 0;
  ch->primary.port_low = 0;
  ch->backup.port_low = 1;
  ch->runtime_ref = channel_block_handle(i);

  block->channel_index = static_cast<std::uint16_t>(i);
  block->port = static_cast<std::uint16_t>(ch->ip_port);
  block->ip_address = ch->ip_address;
  block->protocol = ch->ip_protocol != 0 ? 1 : 0;
  block->remote.sin_family = AF_INET;
  block->remote.sin_port = htons(block->port);
  block->remote.sin_addr.s_addr = htonl(block->ip_address);
  block->connection_state = kConnectionNone;
  // Connection messages come before any request names a device: they name the channel's first.
  if (DeviceRecord* device = poller.niolib.nio_map_dev(ch->first_device)) {
    const std::size_t name = std::min(sizeof device->name, sizeof block->device_name - 1);
    std::memcpy(block->device_name, device->name, name);
  }
  const std::uint32_t ip = block->ip_address;
  report(poller.messages, kColourInfo, "Creating address for %u.%u.%u.%u ", ip >> 24, (ip >> 16) & 0xFF,
         (ip >> 8) & 0xFF, ip & 0xFF);
  poller.blocks[i] = std::move(block);
}

// Flags every registered exception entry of a record so that each client hears of the stop.
void flag_registered_entries(Niolib& niolib, int k, PollRecordHead* record) {
  if (static_cast<ExceptionType>(record->exception_type) == ExceptionType::Disabled) return;
  PollControlEntry* entry = niolib.nio_map_ptr(k);
  auto* entries = reinterpret_cast<ExceptionEntry*>(reinterpret_cast<std::uint8_t*>(record) + record->areas[4].offset);
  const int count = record->areas[4].size / sizeof(ExceptionEntry);
  int registered = 0;
  {
    ByteLock record_lock(&record->lock);
    for (int e = 0; e < count; ++e) {
      if (entries[e].id != 0) {
        entries[e].changed = 1;
        ++registered;
      }
    }
  }
  if (entry) {
    ByteLock entry_lock(&entry->lock);
    entry->changed_count = static_cast<std::uint16_t>(registered);
  }
}

}  // namespace

void start_polling(Poller& poller) {
  Niolib& niolib = poller.niolib;
  report(poller.messages, kColourInfo, "%s V %s started.", kAcronym, kVersion);
  for (int i = 0; i < niolib.channel_count(); ++i) {
    poller.in_service[i] = kChannelInService;
    ChannelRecord* ch = niolib.nio_map_chan(i);
    if (ch == nullptr || ch->poll_record_count == 0) {
      poller.in_service[i] = kChannelNotPolled;
      continue;
    }
    set_up_channel(poller, i, ch);
  }
  if (ImageHeader* header = niolib.header()) header->flags |= kPollingFlag;
}

void stop_polling(Poller& poller) {
  Niolib& niolib = poller.niolib;
  for (int i = 0; i < niolib.channel_count(); ++i) {
    if (poller.in_service[i] != kChannelInService) continue;
    ChannelRecord* ch = niolib.nio_map_chan(i);
    if (ch == nullptr) continue;
    const int first = ch->first_poll_record;
    for (int k = first; k < first + ch->poll_record_count; ++k) {
      PollRecordHead* record = niolib.nio_map_dit(k);
      if (record == nullptr) continue;
      record->status = kStatusNotPolled;
      flag_registered_entries(niolib, k, record);
    }
    if (poller.blocks[i]) {
      close_channel_socket(*poller.blocks[i]);
      poller.blocks[i].reset();
      ch->runtime_ref = 0;
    }
  }
  poller.in_service.fill(kChannelNotPolled);
  if (ImageHeader* header = niolib.header()) {
    ByteLock lock(&header->lock);
    header->flags &= static_cast<std::uint8_t>(~kPollingFlag);
  }
  report(poller.messages, kColourInfo, "%s V %s stopped.", kAcronym, kVersion);
}

void nio_poll_reload(Poller& poller) { poller.niolib.nio_poll_reload(); }

}  // namespace hbt::poller
