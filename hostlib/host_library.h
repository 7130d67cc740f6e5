// The host library's process-wide state and the logic behind every nio_* export. One object
// per process (the shared library makes it when it is loaded); tests make their own.
//
// Threading: the exports may be called from any thread. The VARIANT exports serialise
// themselves on the library's critical section (the timestamp reference and the element
// index of array accesses are shared); the others take no library-wide lock. The image
// mapping is guarded by a reader-writer lock: every export holds it shared while it touches
// the image, and a remap after a reload of the poller takes it exclusively, so no export ever
// reads through a view that is being unmapped. Poll records and poll control entries are
// guarded between processes by their lock bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string_view>

#include "com/filetime.h"
#include "com/variant.h"
#include "hostlib/image_view.h"
#include "hostlib/message_routine.h"
#include "hostlib/nio_types.h"
#include "image/niolib.h"

namespace hbt::hostlib {

struct HostOptions {
  // Start "DriverExe" when this process is the first to open the driver pointer block.
  bool start_poller = true;
  // Attach the image (and count this process as a client) when the library is loaded. A
  // library loaded only to be registered leaves the driver alone; its exports still attach
  // on first use.
  bool attach_at_load = true;
};

// The options of the library's own process attach: a registration program that loads the
// library only to call its registration entry points sets HBT_REGISTRATION_ONLY=1 first, and
// then neither the image is attached nor the poller started.
HostOptions load_options_from_environment();

// A shared hold on the mapped image; the view stays valid while it lives.
class ImageHold {
 public:
  ImageHold(std::shared_lock<std::shared_mutex> lock, ImageView view) : lock_(std::move(lock)), view_(view) {}
  const ImageView& view() const { return view_; }

 private:
  std::shared_lock<std::shared_mutex> lock_;
  ImageView view_;
};

inline constexpr int kNotFound = 0xFFFF;

class HostLibrary {
 public:
  // Process attach: attaches the image (starting the poller if need be) and counts this
  // process as a client.
  explicit HostLibrary(HostOptions options = {});
  // Process detach: gives up the client count.
  ~HostLibrary();
  HostLibrary(const HostLibrary&) = delete;
  HostLibrary& operator=(const HostLibrary&) = delete;

  // Addresses.
  NioStatus nio_paddr(NioStatus* status, NioBlock* block, NioFormat* format, const char* address);
  NioStatus nio_daddr(NioStatus* status, NioBlock* block, NioFormat* format, char* out, std::uint16_t size);

  // Reads and exception reporting.
  NioStatus nio_read(NioStatus* status, NioBlock* block, NioFormat* format, NioValue* value);
  NioStatus nio_readEx(NioStatus* status, NioBlock* block, NioFormat* format, com::FILETIME* timestamp,
                       std::uint16_t* quality, std::int32_t count, com::VARIANT* value);
  std::int16_t nio_enable_options(std::int16_t options);
  NioStatus nio_on(NioStatus* status, NioBlock* block, NioFormat* format, NioEventId* event, std::int16_t length);
  NioStatus nio_off(NioStatus* status, NioBlock* block, NioFormat* format, NioEventId* event);
  NioStatus nio_fetch(NioStatus* status, NioEventId* events, std::int16_t capacity, std::int16_t* count);

  // Writes.
  NioStatus nio_send(NioStatus* status, NioBlock* block, NioFormat* format, NioValue* value);
  NioStatus nio_sendEx(NioStatus* status, NioBlock* block, NioFormat* format, std::int32_t count,
                       com::VARIANT* value);
  NioStatus nio_sendVQT(NioStatus* status, NioBlock* block, NioFormat* format, std::int32_t count,
                        com::VARIANT* value);

  // Signal conditioning and hardware options (the caller's records only).
  NioStatus nio_psig(NioStatus* status, NioBlock* block, NioFormat* format, const char* text);
  NioStatus nio_dsig(NioStatus* status, NioBlock* block, char* out, std::uint16_t size);
  NioStatus nio_EnumSigCond(NioStatus* status, std::uint32_t* count, std::uint32_t* bytes, char* buffer);
  NioStatus nio_SigCondSize(NioStatus* status, std::uint32_t* bytes);
  NioStatus nio_popt(NioStatus* status, NioBlock* block, NioFormat* format, const char* text);
  NioStatus nio_dopt(NioStatus* status, NioBlock* block, NioFormat* format, char* out, std::int16_t size);
  NioStatus nio_EnumOptions(NioStatus* status, std::uint32_t* count, std::uint32_t* bytes, char* buffer);
  NioStatus nio_OptionsSize(NioStatus* status, std::uint32_t* bytes);

  // Enumeration, status and statistics.
  NioStatus nio_Enum_Devices(NioStatus* status, std::int32_t* count, char** buffer);
  NioStatus nio_Enum_PollRecs(NioStatus* status, const char* device, std::int32_t* count, char** buffer);
  void nio_Free(void* buffer);
  std::int32_t nio_find_dev(const char* device);
  std::int32_t nio_num_pollblocks();
  std::uint16_t nio_get_Watchdog();
  std::int32_t nio_get_ServerStatus(char* text, std::int32_t* changed);
  NioStatus nio_read_stats(NioStatus* status, std::int16_t channel, std::int16_t* selector, std::uint8_t* block);
  NioStatus nio_reset_stats(NioStatus* status, std::int16_t channel);
  void nio_SendMsg(std::int16_t colour, const char* text);

  MessageRoutine& messages() { return messages_; }
  // Whether this process counted itself as a client at attach.
  bool client_attached() const { return client_attached_; }

  // The current image, attached or re-attached first when needed. The view is empty when
  // the image cannot be had.
  ImageHold hold_image();

 private:
  bool image_current() const;
  ImageView make_view() const;

  // Resolution of a point's address to its poll record; updates the handle word.
  int resolve(const ImageView& view, NioBlock* block);
  bool find_device(const ImageView& view, std::string_view name, int* channel, int* position) const;
  int find_poll_record(const ImageView& view, int device, std::uint32_t reg, std::uint8_t ex_number) const;

  NioStatus read_point(const ImageView& view, NioStatus* status, NioBlock* block, NioFormat* format,
                       NioValue* value);
  NioStatus send_point(const ImageView& view, NioStatus* status, NioBlock* block, NioFormat* format,
                       NioValue* value);
  NioStatus send_array(NioStatus* status, NioBlock* block, NioFormat* format, std::int32_t count,
                       com::VARIANT* value);
  NioStatus send_variant(NioStatus* status, NioBlock* block, NioFormat* format, std::int32_t count,
                         com::VARIANT* value, bool quiet_bool);
  com::FILETIME timestamp(const ImageView& view, int record);

  HostOptions options_;
  MessageRoutine messages_;
  image::Niolib niolib_;
  mutable std::shared_mutex image_mutex_;
  std::atomic<int> remap_waiting_{0};
  bool client_attached_ = false;

  std::atomic<std::int16_t> options_word_{0};
  std::atomic<std::int16_t> fetch_resume_{0};

  // The critical section of the VARIANT exports, and what it guards.
  std::mutex critical_section_;
  std::int64_t reference_time_ = 0;  // FILETIME ticks
  std::uint32_t reference_tick_ = 0;
  bool have_reference_ = false;

  std::mutex enumeration_mutex_;
  void* last_enumeration_ = nullptr;

  std::mutex watchdog_mutex_;
  std::int16_t watchdog_calls_ = 0;
  std::int16_t saved_watchdog_[2] = {0, 0};
};

}  // namespace hbt::hostlib
