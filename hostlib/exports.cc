// The exports of HBTSTSR.so. The library attaches to the image when it is loaded into a
// process and detaches when it is unloaded; each export forwards to the process's
// HostLibrary. Nothing thrown inside ever leaves an export: a failure becomes the status the
// export reports for a request it cannot serve.
#include <new>

#include "hostlib/host_library.h"
#include "hostlib/nio_exports.h"

namespace {

using hbt::hostlib::HostLibrary;

HostLibrary* library = nullptr;

__attribute__((constructor)) void process_attach() {
  try {
    library = new HostLibrary(hbt::hostlib::load_options_from_environment());
  } catch (...) {
    library = nullptr;
  }
}

__attribute__((destructor)) void process_detach() {
  try {
    delete library;
  } catch (...) {
  }
  library = nullptr;
}

// Runs `call` with a status word that is never null; `failure` is the status when the library
// is missing or something was thrown.
template <typename Call>
NioStatus guarded(NioStatus* status, NioStatus failure, Call call) {
  NioStatus local = 0;
  NioStatus* s = status ? status : &local;
  if (library == nullptr) return *s = failure;
  try {
    return call(s);
  } catch (...) {
    return *s = failure;
  }
}

template <typename Result, typename Call>
Result guarded_value(Result failure, Call call) {
  if (library == nullptr) return failure;
  try {
    return call();
  } catch (...) {
    return failure;
  }
}

constexpr NioStatus kAddressFailure = hbt::hostlib::kStatusBadAddress;
constexpr NioStatus kRequestFailure = hbt::hostlib::kStatusBadRequest;
constexpr NioStatus kBufferFailure = hbt::hostlib::kStatusBufferTooSmall;
constexpr NioStatus kEnumFailure = hbt::hostlib::kStatusEnumArguments;

}  // namespace

extern "C" {

NioStatus nio_paddr(NioStatus* status, NioBlock* block, NioFormat* format, const char* address) {
  return guarded(status, kAddressFailure, [&](NioStatus* s) { return library->nio_paddr(s, block, format, address); });
}

NioStatus nio_daddr(NioStatus* status, NioBlock* block, NioFormat* format, char* out, std::uint16_t size) {
  return guarded(status, kBufferFailure, [&](NioStatus* s) { return library->nio_daddr(s, block, format, out, size); });
}

NioStatus nio_read(NioStatus* status, NioBlock* block, NioFormat* format, NioValue* value) {
  return guarded(status, kAddressFailure, [&](NioStatus* s) { return library->nio_read(s, block, format, value); });
}

NioStatus nio_readEx(NioStatus* status, NioBlock* block, NioFormat* format, hbt::com::FILETIME* timestamp,
                     std::uint16_t* quality, std::int32_t count, hbt::com::VARIANT* value) {
  return guarded(status, kRequestFailure, [&](NioStatus* s) {
    return library->nio_readEx(s, block, format, timestamp, quality, count, value);
  });
}

std::int16_t nio_enable_options(void*, std::int16_t options) {
  return guarded_value<std::int16_t>(0, [&] { return library->nio_enable_options(options); });
}

NioStatus nio_on(NioStatus* status, NioBlock* block, NioFormat* format, NioEventId* event, std::int16_t length) {
  return guarded(status, kAddressFailure, [&](NioStatus* s) { return library->nio_on(s, block, format, event, length); });
}

NioStatus nio_off(NioStatus* status, NioBlock* block, NioFormat* format, NioEventId* event) {
  return guarded(status, kAddressFailure, [&](NioStatus* s) { return library->nio_off(s, block, format, event); });
}

NioStatus nio_fetch(NioStatus* status, void*, NioEventId* events, std::int16_t capacity, std::int16_t* count) {
  if (count != nullptr) *count = 0;
  return guarded(status, 0, [&](NioStatus* s) { return library->nio_fetch(s, events, capacity, count); });
}

NioStatus nio_send(NioStatus* status, NioBlock* block, NioFormat* format, NioValue* value) {
  return guarded(status, kAddressFailure, [&](NioStatus* s) { return library->nio_send(s, block, format, value); });
}

NioStatus nio_sendEx(NioStatus* status, NioBlock* block, NioFormat* format, void*, std::int32_t count,
                     hbt::com::VARIANT* value) {
  return guarded(status, kRequestFailure, [&](NioStatus* s) { return library->nio_sendEx(s, block, format, count, value); });
}

NioStatus nio_sendVQT(NioStatus* status, NioBlock* block, NioFormat* format, std::int32_t count, void* vqt) {
  return guarded(status, kRequestFailure, [&](NioStatus* s) {
    return library->nio_sendVQT(s, block, format, count, static_cast<hbt::com::VARIANT*>(vqt));
  });
}

NioStatus nio_psig(NioStatus* status, NioBlock* block, NioFormat* format, const char* text) {
  return guarded(status, hbt::hostlib::kStatusBadConditioning,
                 [&](NioStatus* s) { return library->nio_psig(s, block, format, text); });
}

NioStatus nio_dsig(NioStatus* status, NioBlock* block, NioFormat*, char* out, std::uint16_t size) {
  return guarded(status, kBufferFailure, [&](NioStatus* s) { return library->nio_dsig(s, block, out, size); });
}

NioStatus nio_EnumSigCond(NioStatus* status, std::uint32_t* count, std::uint32_t* bytes, char* buffer) {
  if (status == nullptr) return 0;
  return guarded(status, kEnumFailure, [&](NioStatus* s) { return library->nio_EnumSigCond(s, count, bytes, buffer); });
}

NioStatus nio_SigCondSize(NioStatus* status, std::uint32_t* bytes) {
  if (status == nullptr) return 0;
  return guarded(status, kEnumFailure, [&](NioStatus* s) { return library->nio_SigCondSize(s, bytes); });
}

NioStatus nio_popt(NioStatus* status, NioBlock* block, NioFormat* format, const char* text) {
  return guarded(status, hbt::hostlib::kStatusBadConditioning,
                 [&](NioStatus* s) { return library->nio_popt(s, block, format, text); });
}

NioStatus nio_dopt(NioStatus* status, NioBlock* block, NioFormat* format, char* out, std::int16_t size) {
  return guarded(status, kBufferFailure, [&](NioStatus* s) { return library->nio_dopt(s, block, format, out, size); });
}

NioStatus nio_EnumOptions(NioStatus* status, std::uint32_t* count, std::uint32_t* bytes, char* buffer) {
  if (status == nullptr) return 0;
  return guarded(status, kEnumFailure, [&](NioStatus* s) { return library->nio_EnumOptions(s, count, bytes, buffer); });
}

NioStatus nio_OptionsSize(NioStatus* status, std::uint32_t* bytes) {
  if (status == nullptr) return 0;
  return guarded(status, kEnumFailure, [&](NioStatus* s) { return library->nio_OptionsSize(s, bytes); });
}

NioStatus nio_Enum_Devices(NioStatus* status, std::int32_t* count, char** buffer) {
  return guarded(status, kBufferFailure, [&](NioStatus* s) { return library->nio_Enum_Devices(s, count, buffer); });
}

NioStatus nio_Enum_PollRecs(NioStatus* status, const char* device, std::int32_t* count, char** buffer) {
  return guarded(status, kBufferFailure,
                 [&](NioStatus* s) { return library->nio_Enum_PollRecs(s, device, count, buffer); });
}

void nio_Free(void* buffer) {
  guarded_value<int>(0, [&] {
    library->nio_Free(buffer);
    return 0;
  });
}

std::int32_t nio_find_dev(const char* device) {
  return guarded_value<std::int32_t>(0, [&] { return library->nio_find_dev(device); });
}

std::int32_t nio_num_pollblocks() {
  return guarded_value<std::int32_t>(0, [&] { return library->nio_num_pollblocks(); });
}

std::uint16_t nio_get_Watchdog() {
  return guarded_value<std::uint16_t>(0, [&] { return library->nio_get_Watchdog(); });
}

std::int32_t nio_get_ServerStatus(char* text, std::int32_t* changed) {
  guarded_value<int>(0, [&] { return library->nio_get_ServerStatus(text, changed); });
  return 1;
}

NioStatus nio_read_stats(NioStatus* status, void*, std::int16_t channel, std::int16_t* selector, std::uint8_t* block) {
  return guarded(status, kRequestFailure,
                 [&](NioStatus* s) { return library->nio_read_stats(s, channel, selector, block); });
}

NioStatus nio_reset_stats(NioStatus* status, void*, std::int16_t channel) {
  return guarded(status, kRequestFailure, [&](NioStatus* s) { return library->nio_reset_stats(s, channel); });
}

void nio_SendMsg(std::int16_t colour, const char* text) {
  guarded_value<int>(0, [&] {
    library->nio_SendMsg(colour, text);
    return 0;
  });
}

// One entry behind five names in the host's interface: nothing to do, success.
static NioStatus nothing_to_do(NioStatus* status) {
  if (status != nullptr) *status = 0;
  return 0;
}
NioStatus nio_CleanUp(NioStatus* status) { return nothing_to_do(status); }
NioStatus nio_getsub(NioStatus* status) { return nothing_to_do(status); }
NioStatus nio_reset(NioStatus* status) { return nothing_to_do(status); }
NioStatus nio_tick_enable(NioStatus* status) { return nothing_to_do(status); }
NioStatus nio_tick_disable(NioStatus* status) { return nothing_to_do(status); }
void nio_tick() {}
void nio_reload_dit() {}

}  // extern "C"
