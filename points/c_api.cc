// The C interface: argument checks, and no exception ever leaves the library.
#include <cstring>
#include <new>
#include <string>

#include "hbt_points.h"
#include "points/session.h"

using hbt::points::Session;
using hbt::points::SessionOptions;

struct hbt_points {
  std::unique_ptr<Session> session;
};

namespace {

thread_local std::string open_error;

constexpr std::uint32_t kOptionsSizeBefore = offsetof(hbt_points_options, update_ms) + sizeof(std::uint32_t);

template <typename F>
std::int32_t guarded(hbt_points* s, F f) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    if (s) s->session->set_error("out of memory");
    return HBT_POINTS_E_MEMORY;
  } catch (const std::exception& e) {
    if (s) s->session->set_error(e.what());
    return HBT_POINTS_E_ARGUMENT;
  } catch (...) {
    return HBT_POINTS_E_ARGUMENT;
  }
}

}  // namespace

extern "C" {

HBT_POINTS_EXPORT int32_t hbt_points_open(const hbt_points_options* options, hbt_points** out) {
  if (out == nullptr) return HBT_POINTS_E_ARGUMENT;
  *out = nullptr;
  open_error.clear();
  try {
    SessionOptions o;
    if (options != nullptr) {
      if (options->size < kOptionsSizeBefore) {
        open_error = "hbt_points_options.size is too small";
        return HBT_POINTS_E_ARGUMENT;
      }
      if (options->host_library) o.host_library = options->host_library;
      if (options->tag_file) o.tag_file = options->tag_file;
      o.update_ms = options->update_ms;
      o.stall_ms = options->size >= offsetof(hbt_points_options, stall_ms) + sizeof(std::uint32_t) ? options->stall_ms : 0;
    }
    std::int32_t result = HBT_POINTS_OK;
    auto session = Session::open(o, &result, &open_error);
    if (!session) return result == HBT_POINTS_OK ? HBT_POINTS_E_NO_DRIVER : result;
    *out = new hbt_points{std::move(session)};
    return HBT_POINTS_OK;
  } catch (const std::bad_alloc&) {
    open_error = "out of memory";
    return HBT_POINTS_E_MEMORY;
  } catch (const std::exception& e) {
    open_error = e.what();
    return HBT_POINTS_E_NO_DRIVER;
  } catch (...) {
    open_error = "failed";
    return HBT_POINTS_E_NO_DRIVER;
  }
}

HBT_POINTS_EXPORT void hbt_points_close(hbt_points* s) {
  try {
    delete s;
  } catch (...) {
  }
}

HBT_POINTS_EXPORT const char* hbt_points_last_error(const hbt_points* s) {
  if (s == nullptr) return open_error.c_str();
  return s->session->last_error();
}

HBT_POINTS_EXPORT int32_t hbt_points_state(hbt_points* s, hbt_driver_state* state) {
  if (s == nullptr || state == nullptr || state->size < offsetof(hbt_driver_state, status_text))
    return HBT_POINTS_E_ARGUMENT;
  return guarded(s, [&] { return s->session->state(state); });
}

HBT_POINTS_EXPORT int32_t hbt_points_list(hbt_points* s, uint32_t* generation, const hbt_device_info** devices,
                                          uint32_t* device_count, const hbt_record_info** records,
                                          uint32_t* record_count, const hbt_point_info** points,
                                          uint32_t* point_count) {
  if (s == nullptr) return HBT_POINTS_E_ARGUMENT;
  return guarded(s, [&] {
    return s->session->list(generation, devices, device_count, records, record_count, points, point_count);
  });
}

HBT_POINTS_EXPORT int32_t hbt_points_read(hbt_points* s, const uint32_t* ids, uint32_t count, hbt_point_value* out) {
  if (s == nullptr || (count > 0 && (ids == nullptr || out == nullptr))) return HBT_POINTS_E_ARGUMENT;
  return guarded(s, [&] { return s->session->read(ids, count, out); });
}

HBT_POINTS_EXPORT int32_t hbt_points_changes(hbt_points* s, uint64_t* cursor, hbt_point_value* out, uint32_t capacity,
                                             uint32_t* count, uint32_t* more) {
  if (s == nullptr || cursor == nullptr || count == nullptr || more == nullptr || (capacity > 0 && out == nullptr))
    return HBT_POINTS_E_ARGUMENT;
  return guarded(s, [&] { return s->session->changes(cursor, out, capacity, count, more); });
}

HBT_POINTS_EXPORT int32_t hbt_points_wait(hbt_points* s, uint32_t timeout_ms) {
  if (s == nullptr) return HBT_POINTS_E_ARGUMENT;
  return guarded(s, [&] { return s->session->wait(timeout_ms); });
}

HBT_POINTS_EXPORT int32_t hbt_points_write(hbt_points* s, const hbt_point_value* values, uint32_t count,
                                           int32_t* results) {
  if (s == nullptr || (count > 0 && (values == nullptr || results == nullptr))) return HBT_POINTS_E_ARGUMENT;
  return guarded(s, [&] { return s->session->write(values, count, results); });
}

HBT_POINTS_EXPORT int32_t hbt_points_channels(hbt_points* s, hbt_channel_diag* out, uint32_t capacity,
                                              uint32_t* count) {
  if (s == nullptr || count == nullptr) return HBT_POINTS_E_ARGUMENT;
  return guarded(s, [&] { return s->session->channels(out, capacity, count); });
}

HBT_POINTS_EXPORT int32_t hbt_points_messages(hbt_points* s, uint64_t* cursor, hbt_message* out, uint32_t capacity,
                                              uint32_t* count) {
  if (s == nullptr || cursor == nullptr || count == nullptr || (capacity > 0 && out == nullptr))
    return HBT_POINTS_E_ARGUMENT;
  return guarded(s, [&] { return s->session->messages(cursor, out, capacity, count); });
}

}  // extern "C"
