#include "poller/writes.h"

#include <algorithm>
#include <bit>
#include <optional>
#include <vector>

#include "image/lock_byte.h"
#include "poller/byte_order.h"
#include "poller/convert.h"
#include "poller/frames.h"
#include "poller/mc_codes.h"
#include "poller/record_view.h"
#include "poller/request.h"

namespace hbt::poller {

using namespace hbt::image;

namespace {

constexpr std::uint16_t kWholeWord = 0xFFFF;

// 16-bit word w of an area, when the area holds it.
std::optional<std::uint16_t> word_at(std::span<const std::uint8_t> area, std::size_t w) {
  if (2 * w + 2 > area.size()) return std::nullopt;
  return load16(&area[2 * w]);
}

void set_flag(RecordView& view, std::size_t w, std::uint16_t value) { store16(&view.write_flags[2 * w], value); }

struct Built {
  int served = 0;           // pending bits served (subtracted from the write request count)
  bool request = false;     // a frame is ready to send
};

// A run of consecutive set bits of a bit device's word.
Built digital_write(PollContext& ctx, ChannelBlock& block, RecordView& view, std::size_t w, std::uint16_t mask) {
  Built built;
  const int j = std::countr_zero(mask);
  const int n = std::countr_one(static_cast<std::uint16_t>(mask >> j));
  const std::uint16_t run = static_cast<std::uint16_t>(((1u << n) - 1) << j);
  set_flag(view, w, static_cast<std::uint16_t>(mask & ~run));
  built.served = n;
  const std::optional<std::uint16_t> values = word_at(view.write_values, w);
  if (!values) return built;
  const std::uint32_t head = view.start() + 16 * static_cast<std::uint32_t>(w) + static_cast<std::uint32_t>(j);
  report(ctx.sink, kColourInfo, "Digital Write %s:%s:%d len=%d", block.device_name,
         register_type_name(view.register_type()), static_cast<int>(head), n);
  std::uint8_t bits[16];
  for (int b = 0; b < n; ++b) bits[b] = static_cast<std::uint8_t>((*values >> (j + b)) & 1);
  WriteData data;
  data.head = head;
  data.bit_units = true;
  data.bits = std::span<const std::uint8_t>(bits, static_cast<std::size_t>(n));
  built.request = build_write_request(block, data);
  return built;
}

// A run of whole registers (16-bit data) or whole 32-bit values from flag w on.
Built analog_write(PollContext& ctx, ChannelBlock& block, RecordView& view, std::size_t w, std::size_t run) {
  Built built;
  const bool wide = is_32_bit(static_cast<DataType>(view.head->data_type));
  const std::size_t value_bytes = wide ? 4 : 2;
  // As much of the run as area 2 holds and one request can carry; the rest stays flagged.
  const std::size_t in_area = view.write_values.size() / value_bytes > w ? view.write_values.size() / value_bytes - w : 0;
  run = std::min({run, in_area, max_write_points(block, false) / (wide ? 2 : 1)});
  if (run == 0) {
    // The value is not in area 2: nothing can be sent for this flag.
    set_flag(view, w, 0);
    built.served = 16;
    return built;
  }
  report(ctx.sink, kColourInfo, "Analog Write %s:%s:%d len=%d", block.device_name,
         register_type_name(view.register_type()), static_cast<int>(view.start() + w), static_cast<int>(run));
  std::vector<std::uint16_t> words(run * value_bytes / 2);
  for (std::size_t i = 0; i < words.size(); ++i) words[i] = load16(&view.write_values[w * value_bytes + 2 * i]);
  for (std::size_t i = 0; i < run; ++i) set_flag(view, w + i, 0);
  built.served = static_cast<int>(16 * run);
  WriteData data;
  data.head = view.start() + static_cast<std::uint32_t>(wide ? 2 * w : w);
  data.words = words;
  built.request = build_write_request(block, data);
  return built;
}

// Single bits of a register: merged with the value last polled, sent as the whole register.
// Unlocks the record before its bookkeeping.
Built bit_in_word_write(PollContext& ctx, ChannelBlock& block, RecordView& view, std::size_t w, std::uint16_t mask,
                        std::optional<ByteLock>& record_lock) {
  Built built;
  built.served = std::popcount(mask);
  report(ctx.sink, kColourInfo, "Bit in word Write %s:%s:%d", block.device_name,
         register_type_name(view.register_type()), static_cast<int>(view.start() + w));
  set_flag(view, w, 0);
  const std::optional<std::uint16_t> old = word_at(view.values, w);
  const std::optional<std::uint16_t> wanted = word_at(view.write_values, w);
  if (!old || !wanted) {
    record_lock.reset();
    return built;
  }
  const std::uint16_t merged = static_cast<std::uint16_t>((*old & ~mask) | (*wanted & mask));
  int flagged = 0;
  switch (view.exception_type()) {
    case ExceptionType::Disabled:
      break;
    case ExceptionType::Digital:
      flagged = compare_digital(merged, *old, view.exceptions, 16 * w);
      break;
    default:
      // One entry per register: the register changed as a whole.
      if (merged != *old) flagged = view.exceptions.flag_if_registered(w);
      break;
  }
  store16(&view.values[2 * w], merged);
  if (block.cpu_type == static_cast<std::uint16_t>(CpuType::QSeries)) store16(&view.write_values[2 * w], merged);
  record_lock.reset();
  add_changed(view.entry, flagged);
  const std::uint16_t one[1] = {merged};
  WriteData data;
  data.head = view.start() + static_cast<std::uint32_t>(w);
  data.words = one;
  built.request = build_write_request(block, data);
  return built;
}

}  // namespace

WriteAnswer issue_next_write(PollContext& ctx, ChannelBlock& block, int channel, int k) {
  std::optional<RecordView> view = view_record(ctx.niolib, k);
  ChannelRecord* ch = ctx.niolib.nio_map_chan(channel);
  if (!view || ch == nullptr || !prepare_request(ctx.niolib, block, channel, k, true)) return WriteAnswer::kNothingFound;

  std::optional<ByteLock> record_lock(std::in_place, &view->head->lock);
  const std::size_t flags = view->write_flags.size() / 2;
  std::size_t w = 0;
  while (w < flags && load16(&view->write_flags[2 * w]) == 0) ++w;
  if (w == flags) {
    block.waiting = 0;
    return WriteAnswer::kNothingFound;
  }
  const std::uint16_t flag = load16(&view->write_flags[2 * w]);
  std::size_t run = 0;
  while (w + run < flags && load16(&view->write_flags[2 * (w + run)]) == kWholeWord) ++run;

  Built built;
  if (!is_word_device(view->register_type()))
    built = digital_write(ctx, block, *view, w, flag);
  else if (flag == kWholeWord)
    built = analog_write(ctx, block, *view, w, run);
  else
    built = bit_in_word_write(ctx, block, *view, w, flag, record_lock);
  record_lock.reset();

  if (built.request) {
    TransportEnv env = ctx.transport(*ch);
    send_write_request(block, env);
  } else {
    block.waiting = 0;
  }

  bool more;
  {
    ByteLock entry_lock(&view->entry->lock);
    PollControlEntry& e = *view->entry;
    // A client may have raised a flag before its count: never count below zero.
    e.write_request_count = static_cast<std::uint16_t>(std::max(0, e.write_request_count - built.served));
    e.poll_countdown = 0;
    more = e.write_request_count != 0 && w != flags - 1;
  }
  if (!built.request) return WriteAnswer::kNothingFound;
  return more ? WriteAnswer::kMorePending : WriteAnswer::kDone;
}

}  // namespace hbt::poller
