#include "poller/request.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace hbt::poller {

using namespace hbt::image;

const ChannelSettings& active_settings(const ChannelRecord& channel) {
  return channel.stats.active_selector == channel.primary.port_low ? channel.primary : channel.backup;
}

bool prepare_request(Niolib& niolib, ChannelBlock& block, int channel, int k, bool is_write) {
  ChannelRecord* ch = niolib.nio_map_chan(channel);
  PollRecordHead* record = niolib.nio_map_dit(k);
  if (ch == nullptr || record == nullptr) return false;
  DeviceRecord* device = niolib.nio_map_dev(record->device_index);
  if (device == nullptr) return false;

  block.device_index = record->device_index;
  block.address_word = record->address_word;
  block.extension = record->extension;
  block.area1_size = record->areas[kAreaCurrent - 1].size;
  block.length = record->length;
  block.pc_number = device->pc_number;
  block.network_number = device->network_number;
  block.module_number = device->module_number;
  const std::size_t name = std::min(sizeof device->name, sizeof block.device_name - 1);
  std::memset(block.device_name, 0, sizeof block.device_name);
  std::memcpy(block.device_name, device->name, name);
  block.coding = device->coding;
  block.cpu_type = device->cpu_type;
  block.first_poll_record = device->first_poll_record;
  block.request_length = 0;
  block.expected_reply_length = 0;
  block.is_write = is_write ? 1 : 0;
  block.waiting = 1;
  block.prepared = 1;
  block.poll_record_index = static_cast<std::uint16_t>(k);
  block.channel_index = static_cast<std::uint16_t>(channel);

  const ChannelSettings& settings = active_settings(*ch);
  // A countdown that does not fit its type would expire at once.
  // A copy first: the settings are packed, and std::min would bind a misaligned reference.
  const std::uint32_t reply_timeout = settings.reply_timeout;
  block.reply_timeout = std::min<std::uint32_t>(reply_timeout, INT32_MAX);
  block.reply_countdown = static_cast<std::int32_t>(block.reply_timeout);
  block.retries_left = settings.retries;
  return true;
}

}  // namespace hbt::poller
