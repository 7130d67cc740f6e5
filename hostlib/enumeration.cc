// Enumeration of devices and poll records, liveness of the poller, channel statistics and
// messages from the host.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hostlib/address_text.h"
#include "hostlib/host_library.h"

namespace hbt::hostlib {

using namespace hbt::image;

namespace {

constexpr std::size_t kEntrySize = 128;
constexpr std::size_t kStatusText = 128;
constexpr int kStatisticsSize = sizeof(StatisticsBlock);

}  // namespace

NioStatus HostLibrary::nio_Enum_Devices(NioStatus* status, std::int32_t* count, char** buffer) {
  *status = kStatusBufferTooSmall;
  if (count == nullptr || buffer == nullptr) return *status;
  *status = kStatusOk;
  *buffer = nullptr;
  ImageHold hold = hold_image();
  const ImageView& view = hold.view();
  *count = view.devices;
  if (view.devices <= 0) {
    *count = 0;
    return kStatusOk;
  }
  auto* block = static_cast<char*>(std::calloc(static_cast<std::size_t>(view.devices), kEntrySize));
  if (block == nullptr) return *status = kStatusBufferTooSmall;
  int filled = 0;
  for (int c = 0; c < view.channels && filled < view.devices; ++c) {
    const ChannelRecord* ch = view.channel(c);
    if (ch == nullptr) continue;
    for (int p = 0; p < ch->device_count && filled < view.devices; ++p) {
      const DeviceRecord* dev = view.device(ch->first_device + p);
      if (dev == nullptr) {
        std::free(block);
        return *status = kStatusBufferTooSmall;
      }
      const std::string_view name = device_name(dev);
      name.copy(block + kEntrySize * static_cast<std::size_t>(filled), std::min(name.size(), kEntrySize - 1));
      ++filled;
    }
  }
  std::lock_guard lock(enumeration_mutex_);
  last_enumeration_ = block;
  *buffer = block;
  return kStatusOk;
}

NioStatus HostLibrary::nio_Enum_PollRecs(NioStatus* status, const char* device, std::int32_t* count, char** buffer) {
  *status = kStatusBufferTooSmall;
  if (device == nullptr || count == nullptr || buffer == nullptr) return *status;
  *buffer = nullptr;
  *count = 0;
  ImageHold hold = hold_image();
  const ImageView& view = hold.view();
  int channel = 0, position = 0;
  if (!find_device(view, std::string_view(device, strnlen(device, 31)), &channel, &position)) return *status;
  const DeviceRecord* dev = view.device(view.channel(channel)->first_device + position);
  if (dev == nullptr) return *status;
  const int n = dev->poll_record_count;
  auto* block = static_cast<char*>(std::calloc(n > 0 ? static_cast<std::size_t>(n) : 1, kEntrySize));
  if (block == nullptr) return *status;
  for (int i = 0; i < n; ++i) {
    const PollRecordHead* rec = view.record(dev->first_poll_record + i);
    if (rec == nullptr) {
      std::free(block);
      return *status;
    }
    std::string text = range_text(rec->address_word, rec->length, static_cast<std::uint8_t>(rec->extension & 0xFF));
    std::memcpy(block + kEntrySize * static_cast<std::size_t>(i), text.data(), std::min(text.size(), kEntrySize - 1));
  }
  std::lock_guard lock(enumeration_mutex_);
  last_enumeration_ = block;
  *count = n;
  *buffer = block;
  return *status = kStatusOk;
}

void HostLibrary::nio_Free(void* buffer) {
  std::lock_guard lock(enumeration_mutex_);
  // Only the latest buffer is the library's to free.
  if (buffer != nullptr && buffer == last_enumeration_) {
    std::free(buffer);
    last_enumeration_ = nullptr;
  }
}

std::int32_t HostLibrary::nio_find_dev(const char* device) {
  if (device == nullptr) return 0;
  ImageHold hold = hold_image();
  int channel = 0, position = 0;
  return find_device(hold.view(), std::string_view(device, strnlen(device, 31)), &channel, &position) ? 1 : 0;
}

std::int32_t HostLibrary::nio_num_pollblocks() {
  std::shared_lock lock(image_mutex_);
  return niolib_.poll_record_count();
}

std::uint16_t HostLibrary::nio_get_Watchdog() {
  ImageHold hold = hold_image();
  return hold.view().valid() ? hold.view().header->watchdog : 0;
}

std::int32_t HostLibrary::nio_get_ServerStatus(char* text, std::int32_t* changed) {
  if (text != nullptr) std::snprintf(text, kStatusText, "%s Version %s", kProductName, kVersion);
  if (changed != nullptr) {
    ImageHold hold = hold_image();
    if (hold.view().valid()) {
      const auto watchdog = static_cast<std::int16_t>(hold.view().header->watchdog);
      std::lock_guard lock(watchdog_mutex_);
      // Each slot holds the watchdog of two calls ago, so a caller polling steadily sees a
      // change as long as the poller ticks once per two calls.
      std::int16_t& saved = saved_watchdog_[watchdog_calls_ & 1];
      *changed = watchdog != saved ? 1 : 0;
      saved = watchdog;
      watchdog_calls_ = static_cast<std::int16_t>(watchdog_calls_ + 1);
    }
  }
  return 1;
}

NioStatus HostLibrary::nio_read_stats(NioStatus* status, std::int16_t channel, std::int16_t* selector,
                                      std::uint8_t* block) {
  *status = kStatusOk;
  ImageHold hold = hold_image();
  const ChannelRecord* ch = channel >= 0 ? hold.view().channel(channel) : nullptr;
  if (ch == nullptr || block == nullptr) return *status = kStatusBadRequest;
  std::memcpy(block, ch, kStatisticsSize);
  if (selector != nullptr) *selector = static_cast<std::int8_t>(ch->stats.active_selector);
  return kStatusOk;
}

NioStatus HostLibrary::nio_reset_stats(NioStatus* status, std::int16_t channel) {
  *status = kStatusOk;
  ImageHold hold = hold_image();
  ChannelRecord* ch = channel >= 0 ? hold.view().channel(channel) : nullptr;
  if (ch == nullptr || ch->stats.active_selector == kChannelNotInService) return *status = kStatusBadRequest;
  std::memset(reinterpret_cast<std::uint8_t*>(ch) + 2, 0, kStatisticsSize - 2);
  return kStatusOk;
}

void HostLibrary::nio_SendMsg(std::int16_t colour, const char* text) {
  if (text == nullptr) return;
  // The host's text is a message, not a format; no more of it is read than a message holds.
  messages_.message(static_cast<std::uint16_t>(colour), std::string_view(text, strnlen(text, 255)));
}

}  // namespace hbt::hostlib
