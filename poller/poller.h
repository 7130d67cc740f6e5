// Process-wide state of the poller: its image access, its messages and its channels.
#pragma once

#include <array>
#include <memory>

#include "image/layout.h"
#include "image/niolib.h"
#include "poller/channel_block.h"
#include "poller/channel_schedule.h"
#include "poller/message_routine.h"

namespace hbt::poller {

inline constexpr std::uint8_t kChannelInService = 0;
inline constexpr std::uint8_t kChannelNotPolled = 0xFF;

struct Poller {
  explicit Poller(MessageRoutine& routine)
      : messages(routine), niolib({image::NiolibVariant::kDriver}, routine) {
    in_service.fill(kChannelNotPolled);
  }

  MessageRoutine& messages;
  image::Niolib niolib;
  std::array<std::uint8_t, image::kMaxChannels> in_service;
  std::array<ChannelSchedule, image::kMaxChannels> schedules{};
  std::array<std::unique_ptr<ChannelBlock>, image::kMaxChannels> blocks{};
};

// The channel record's run-time reference to a block is a handle, never a pointer: the
// record lives in shared memory that other processes read.
inline std::uint32_t channel_block_handle(int channel) { return static_cast<std::uint32_t>(channel) + 1; }

}  // namespace hbt::poller
