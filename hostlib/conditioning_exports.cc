// nio_psig, nio_dsig, nio_popt, nio_dopt and their enumerations: they work on the caller's
// records and the constant tables only.
#include <cstring>

#include "hostlib/host_library.h"
#include "hostlib/signal_conditioning.h"

namespace hbt::hostlib {

namespace {

constexpr std::size_t kNameField = 16;
constexpr std::uint32_t kOptionsCapacityNeeded = 256;

bool usable(const NioBlock* block) {
  return block != nullptr && block->address != nullptr && block->driver_area != nullptr;
}

// Live-zero and square-root forms need a point that may carry them (subkind 2 may not).
bool refused_for_subkind(std::int16_t code, std::uint8_t subkind) {
  return subkind == 2 && code >= kSigLv12 && code <= kSigSq15;
}

}  // namespace

NioStatus HostLibrary::nio_psig(NioStatus* status, NioBlock* block, NioFormat* format, const char* text) {
  *status = kStatusOk;
  if (!usable(block) || format == nullptr || text == nullptr) return *status = kStatusBadConditioning;
  const std::int16_t code = find_sig_cond(text);
  if (code == kSigUnknown) {
    // A name no entry matches is refused, and the point keeps no conditioning.
    block->address->sigcond = kSigNone;
    return *status = kStatusBadConditioning;
  }
  if (refused_for_subkind(code, format->subkind)) return *status = kStatusBadConditioning;
  block->address->sigcond = code;
  return kStatusOk;
}

NioStatus HostLibrary::nio_dsig(NioStatus* status, NioBlock* block, char* out, std::uint16_t size) {
  *status = kStatusOk;
  const std::size_t n = std::min<std::size_t>(size, kNameField);
  if (out == nullptr || n < 4) return *status = kStatusBufferTooSmall;
  if (!usable(block)) return *status = kStatusBadAddress;
  char field[kNameField] = {};
  std::strncpy(field, sig_cond_name(block->address->sigcond), kNameField - 1);
  std::memcpy(out, field, n);
  return kStatusOk;
}

NioStatus HostLibrary::nio_EnumSigCond(NioStatus* status, std::uint32_t* count, std::uint32_t* bytes, char* buffer) {
  if (status == nullptr) return kStatusOk;
  *status = kStatusOk;
  if (count == nullptr || bytes == nullptr || buffer == nullptr || *bytes == 0) return *status = kStatusEnumArguments;
  const std::uint32_t capacity = *bytes;
  std::uint32_t used = 0, names = 0;
  for (const SigCondEntry& e : kSigCondTable) {
    const auto length = static_cast<std::uint32_t>(std::strlen(e.name));
    if (used + length >= capacity) break;
    std::memcpy(buffer + used, e.name, length + 1);
    used += length + 1;
    ++names;
  }
  *count = names;
  *bytes = used;
  return kStatusOk;
}

NioStatus HostLibrary::nio_SigCondSize(NioStatus* status, std::uint32_t* bytes) {
  if (status == nullptr) return kStatusOk;
  *status = kStatusOk;
  if (bytes == nullptr) return *status = kStatusEnumArguments;
  *bytes = sig_cond_names_size();
  return kStatusOk;
}

NioStatus HostLibrary::nio_popt(NioStatus* status, NioBlock* block, NioFormat* format, const char* text) {
  *status = kStatusOk;
  if (!usable(block) || format == nullptr || text == nullptr) return *status = kStatusBadConditioning;
  if (format->kind != kKindAnalog) return kStatusOk;
  if (strnlen(text, kOptionsTextMax + 1) > kOptionsTextMax) {
    report(messages_, image::kColourInfo, "nio_popt() Hardware options too long - %.*s",
           static_cast<int>(kOptionsTextMax), text);
    return *status = kStatusBadConditioning;
  }
  parse_options(block->address->sigcond, text, &block->driver_area->option_low, &block->driver_area->option_range);
  return kStatusOk;
}

NioStatus HostLibrary::nio_dopt(NioStatus* status, NioBlock* block, NioFormat* format, char* out, std::int16_t size) {
  *status = kStatusOk;
  const int n = std::min<int>(size, static_cast<int>(kOptionsField));
  if (out == nullptr || n <= 3) return *status = kStatusBufferTooSmall;
  if (!usable(block) || format == nullptr) return *status = kStatusBadAddress;
  if (format->kind != kKindAnalog) {
    std::memcpy(out, "NA", 3);
    return kStatusOk;
  }
  format_options(block->address->sigcond, block->driver_area->option_low, block->driver_area->option_range, out,
                 static_cast<std::size_t>(n));
  return kStatusOk;
}

NioStatus HostLibrary::nio_EnumOptions(NioStatus* status, std::uint32_t* count, std::uint32_t* bytes, char* buffer) {
  if (status == nullptr) return kStatusOk;
  *status = kStatusOk;
  if (count == nullptr || bytes == nullptr || buffer == nullptr || *bytes < kOptionsCapacityNeeded)
    return *status = kStatusEnumArguments;
  std::memcpy(buffer, kOptionsTemplate, sizeof kOptionsTemplate);
  *count = 1;
  *bytes = sizeof kOptionsTemplate;
  return kStatusOk;
}

NioStatus HostLibrary::nio_OptionsSize(NioStatus* status, std::uint32_t* bytes) {
  if (status == nullptr) return kStatusOk;
  *status = kStatusOk;
  if (bytes == nullptr) return *status = kStatusEnumArguments;
  *bytes = kOptionsField;
  return kStatusOk;
}

}  // namespace hbt::hostlib
