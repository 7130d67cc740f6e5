// Exception reporting: points register in their poll record's exception table (nio_on), the
// poller flags changes there, nio_fetch reports the flagged points, and the next read of a
// point acknowledges its change.
#include "hostlib/host_library.h"
#include "hostlib/point_position.h"
#include "image/lock_byte.h"

namespace hbt::hostlib {

using namespace hbt::image;

namespace {

bool usable(const NioBlock* block) {
  return block != nullptr && block->address != nullptr && block->driver_area != nullptr;
}

ExceptionEntry* entry_at(const DataArea& table, std::int64_t i) {
  if (i < 0 || static_cast<std::size_t>(i + 1) * sizeof(ExceptionEntry) > table.size) return nullptr;
  return reinterpret_cast<ExceptionEntry*>(table.data + i * static_cast<std::int64_t>(sizeof(ExceptionEntry)));
}

bool registered(const ExceptionEntry* e) { return e->id != 0 || e->group != 0; }

// Analog and ASCII tables have one entry per register: a digital point has no place there.
bool digital_on_word_table(ExceptionType type, const NioFormat* format) {
  return (type == ExceptionType::Analog || type == ExceptionType::Ascii) && format->kind == kKindDigital;
}

}  // namespace

std::int16_t HostLibrary::nio_enable_options(std::int16_t options) {
  options_word_.store(options, std::memory_order_relaxed);
  return options;
}

NioStatus HostLibrary::nio_on(NioStatus* status, NioBlock* block, NioFormat* format, NioEventId* event,
                              std::int16_t length) {
  *status = kStatusOk;
  if ((options_word_.load(std::memory_order_relaxed) & 1) == 0) return kStatusOk;
  if (!usable(block) || format == nullptr) return *status = kStatusBadAddress;
  if (event == nullptr) {
    block->driver_area->exception_flag = 0;
    return kStatusOk;
  }
  block->driver_area->exception_flag = 1;
  ImageHold hold = hold_image();
  const ImageView& view = hold.view();
  const int k = resolve(view, block);
  if (k == kNotFound) return *status = kStatusBadAddress;
  const PointPosition p = locate(view, *block->address, k);
  if (!p.valid()) return *status = kStatusBadAddress;
  const auto type = static_cast<ExceptionType>(p.head->exception_type);
  if (type == ExceptionType::Disabled || digital_on_word_table(type, format)) return kStatusOk;

  const DataArea table = view.area(p.head, kAreaExceptions);
  const int index = exception_entry_index(p);
  ByteLock lock(&p.head->lock);
  ExceptionEntry* entry = entry_at(table, index);
  if (entry == nullptr) return kStatusOk;  // the table has no place for this point
  if (registered(entry)) return *status = kStatusAlreadyRegistered;
  entry->id = event->id;
  entry->group = static_cast<std::uint16_t>(event->group);
  entry->changed = 0;
  if (type == ExceptionType::Ascii) {
    // A text spanning several registers claims the entries after its own.
    const int continuation = length > 0 ? (length + 1) / 2 - 1 : 0;
    for (int j = 1; j <= continuation; ++j) {
      ExceptionEntry* next = entry_at(table, index + j);
      if (next == nullptr) break;
      if (registered(next)) {
        for (int undo = 0; undo < j; ++undo) *entry_at(table, index + undo) = ExceptionEntry{};
        return *status = kStatusAlreadyRegistered;
      }
      *next = ExceptionEntry{0, 0, kGroupContinuation};
    }
  }
  return *status = kStatusRegistered;
}

NioStatus HostLibrary::nio_off(NioStatus* status, NioBlock* block, NioFormat* format, NioEventId* event) {
  *status = kStatusOk;
  if ((options_word_.load(std::memory_order_relaxed) & 1) == 0) return kStatusOk;
  if (!usable(block) || format == nullptr) return *status = kStatusBadAddress;
  if (event == nullptr) {
    block->driver_area->exception_flag = 0;
    return kStatusOk;
  }
  ImageHold hold = hold_image();
  const ImageView& view = hold.view();
  const int k = resolve(view, block);
  if (k == kNotFound) return *status = kStatusBadAddress;
  const PointPosition p = locate(view, *block->address, k);
  if (!p.valid()) return *status = kStatusBadAddress;
  const auto type = static_cast<ExceptionType>(p.head->exception_type);
  if (type == ExceptionType::Disabled) return *status = kStatusExceptionsDisabled;
  if (digital_on_word_table(type, format)) return *status = kStatusWrongKind;

  const DataArea table = view.area(p.head, kAreaExceptions);
  const int index = exception_entry_index(p);
  bool was_changed = false;
  {
    ByteLock lock(&p.head->lock);
    ExceptionEntry* entry = entry_at(table, index);
    if (entry == nullptr || entry->id != event->id || entry->group != static_cast<std::uint16_t>(event->group))
      return kStatusOk;  // another point's registration is left alone
    was_changed = entry->changed != 0;
    *entry = ExceptionEntry{};
    if (type == ExceptionType::Ascii) {
      for (int j = index + 1; ExceptionEntry* next = entry_at(table, j); ++j) {
        if (next->group != kGroupContinuation) break;
        *next = ExceptionEntry{};
      }
    }
  }
  if (was_changed) {
    ByteLock lock(&p.control->lock);
    const std::uint16_t changed = load_changed_count(p.control);
    if (changed > 0) store_changed_count(p.control, static_cast<std::uint16_t>(changed - 1));
  }
  return kStatusOk;
}

NioStatus HostLibrary::nio_fetch(NioStatus* status, NioEventId* events, std::int16_t capacity, std::int16_t* count) {
  *status = kStatusOk;
  if (count == nullptr) return kStatusOk;
  *count = 0;
  if (events == nullptr || capacity <= 0) return kStatusOk;
  ImageHold hold = hold_image();
  const ImageView& view = hold.view();
  if (!view.valid() || view.records <= 0) return kStatusOk;
  // The poll control table is one array; its bounds are checked once, not per entry.
  PollControlEntry* const table = view.control(0);
  if (table == nullptr || view.control(view.records - 1) != table + (view.records - 1)) return kStatusOk;
  int resume = fetch_resume_.load(std::memory_order_relaxed);
  if (resume < 0 || resume >= view.records) resume = 0;
  const int start = resume;
  int n = 0;
  do {
    PollControlEntry* control = table + resume;
    // Records without pending changes cost one look at their count.
    const std::uint16_t pending = load_changed_count(control);
    if (pending != 0) {
      PollRecordHead* head = view.record(resume);
      if (head != nullptr && static_cast<ExceptionType>(head->exception_type) == ExceptionType::Disabled) {
        ByteLock lock(&control->lock);
        store_changed_count(control, 0);
      } else if (head != nullptr) {
        const DataArea entries = view.area(head, kAreaExceptions);
        ByteLock lock(&head->lock);
        int taken = 0;
        for (std::int64_t i = 0; taken < pending && n < capacity; ++i) {
          const ExceptionEntry* e = entry_at(entries, i);
          if (e == nullptr) break;
          if (e->changed) {
            events[n++] = NioEventId{e->id, 0, static_cast<std::int16_t>(e->group)};
            ++taken;
          }
        }
      }
    }
    resume = resume + 1 == view.records ? 0 : resume + 1;
  } while (n < capacity && resume != start);
  fetch_resume_.store(static_cast<std::int16_t>(resume), std::memory_order_relaxed);
  *count = static_cast<std::int16_t>(n);
  return kStatusOk;
}

}  // namespace hbt::hostlib
