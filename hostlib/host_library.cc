// Process attach and detach, the image hold, and addresses: parsing, display and resolution.
#include "hostlib/host_library.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "hostlib/address_text.h"
#include "image/lock_byte.h"
#include "platform/clock.h"

namespace hbt::hostlib {

using namespace hbt::image;

namespace {

NiolibOptions client_options(const HostOptions& options) {
  NiolibOptions o;
  o.variant = NiolibVariant::kClient;
  o.start_poller = options.start_poller;
  return o;
}

std::uint32_t shared_load(const std::uint32_t& field) {
  return std::atomic_ref<std::uint32_t>(const_cast<std::uint32_t&>(field)).load(std::memory_order_acquire);
}

std::string upper_case(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace

HostOptions load_options_from_environment() {
  HostOptions options;
  const char* registration_only = std::getenv("HBT_REGISTRATION_ONLY");
  if (registration_only != nullptr && *registration_only != '\0' && std::strcmp(registration_only, "0") != 0) {
    options.attach_at_load = false;
    options.start_poller = false;
  }
  return options;
}

HostLibrary::HostLibrary(HostOptions options) : options_(options), niolib_(client_options(options), messages_) {
  if (!options_.attach_at_load) return;
  std::unique_lock lock(image_mutex_);
  // Opening the block first lets the attach messages reach the ring; a block this process
  // creates also starts the poller.
  niolib_.open_pointer_block();
  messages_.set_pointer_block(niolib_.pointer_block());
  niolib_.nio_map_hdr();
  if (niolib_.mapped()) {
    niolib_.attach_client();
    client_attached_ = true;
  }
}

HostLibrary::~HostLibrary() {
  std::unique_lock lock(image_mutex_);
  if (client_attached_) niolib_.detach_client();
}

bool HostLibrary::image_current() const {
  const PointerBlock* block = niolib_.pointer_block();
  if (!niolib_.mapped() || block == nullptr) return false;
  std::uint32_t generation = shared_load(block->map_generation);
  return generation == niolib_.mapped_generation() && shared_load(block->loaded_generation) == generation;
}

ImageView HostLibrary::make_view() const {
  ImageView v;
  v.block = niolib_.pointer_block();
  v.base = niolib_.image_base();
  v.size = niolib_.image_size();
  v.header = niolib_.mapped() ? niolib_.header() : nullptr;
  v.channels = niolib_.channel_count();
  v.devices = niolib_.device_count();
  v.records = niolib_.poll_record_count();
  v.generation = niolib_.mapped_generation();
  return v;
}

ImageHold HostLibrary::hold_image() {
  // While a remap waits, new readers queue behind it instead of taking the shared side: a
  // stream of readers on many threads would otherwise keep a reload out for ever.
  if (remap_waiting_.load(std::memory_order_acquire) == 0) {
    std::shared_lock lock(image_mutex_);
    if (image_current()) {
      // Using the image proves use, as re-attaching does; a store only now and then keeps
      // readers on many threads from fighting over the cache line.
      std::atomic_ref<std::int32_t> usage(niolib_.pointer_block()->client_usage_countdown);
      if (usage.load(std::memory_order_relaxed) < kClientUsageTicks / 2)
        usage.store(kClientUsageTicks, std::memory_order_relaxed);
      return ImageHold(std::move(lock), make_view());
    }
  }
  remap_waiting_.fetch_add(1, std::memory_order_acq_rel);
  {
    std::unique_lock lock(image_mutex_);
    if (!image_current()) {
      niolib_.nio_map_hdr();
      messages_.set_pointer_block(niolib_.pointer_block());
    }
  }
  remap_waiting_.fetch_sub(1, std::memory_order_acq_rel);
  std::shared_lock lock(image_mutex_);
  return ImageHold(std::move(lock), make_view());
}

bool HostLibrary::find_device(const ImageView& view, std::string_view name, int* channel, int* position) const {
  if (name.empty() || name.size() > 30) return false;
  std::string wanted = upper_case(name);
  int found = -1;
  for (int j = 0; j < view.devices && found < 0; ++j)
    if (device_name(view.device(j)) == wanted) found = j;
  if (found < 0) return false;
  for (int c = 0; c < view.channels; ++c) {
    const ChannelRecord* ch = view.channel(c);
    if (ch != nullptr && ch->first_device <= found && found < ch->first_device + ch->device_count) {
      *channel = c;
      *position = found - ch->first_device;
      return true;
    }
  }
  return false;
}

int HostLibrary::find_poll_record(const ImageView& view, int device, std::uint32_t reg, std::uint8_t ex_number) const {
  const DeviceRecord* dev = view.device(device);
  if (dev == nullptr) return kNotFound;
  const std::uint32_t type = reg >> 28;
  const std::int64_t offset = reg & 0xFFFFFF;
  for (int k = dev->first_poll_record; k < dev->first_poll_record + dev->poll_record_count; ++k) {
    const PollRecordHead* rec = view.record(k);
    if (rec == nullptr || (rec->address_word >> 28) != type || (rec->extension & 0xFF) != ex_number) continue;
    const std::int64_t start = address_start(rec->address_word);
    // Signed arithmetic: a one-register record of a 32-bit type covers nothing rather than
    // everything.
    const std::int64_t last = start + rec->length - 1 - (is_32_bit(static_cast<DataType>(rec->data_type)) ? 1 : 0);
    if (offset >= start && offset <= last) return k;
  }
  return kNotFound;
}

int HostLibrary::resolve(const ImageView& view, NioBlock* block) {
  if (!view.valid()) return kNotFound;
  NioAddress* a = block->address;
  std::uint32_t h = a->handle;
  if ((h & kHandleResolved) && ((h >> kHandleGenerationShift) & 3) == (view.generation & 0xFFFF)) {
    int k = static_cast<int>(h & kHandleRecordMask);
    if (k < view.records) return k;
  }
  const NioDriverArea* d = block->driver_area;
  std::string_view name(d->device, strnlen(d->device, sizeof d->device));
  int channel = 0, position = 0;
  if (name.size() == sizeof d->device || !find_device(view, name, &channel, &position)) {
    // Byte 3 at 255 marks the point as already reported, so the message comes once.
    if ((h >> 24) != kDeviceUndefined)
      report(messages_, kColourInfo, "IO Address Err: Device name not found - %s", std::string(name).c_str());
    a->handle = (std::uint32_t{kDeviceUndefined} << 24) | (kChannelUnresolved << kHandleChannelShift) | (h & 0xFFFF);
    return kNotFound;
  }
  h = static_cast<std::uint32_t>(position) << 24 | static_cast<std::uint32_t>(channel) << kHandleChannelShift;
  a->handle = h;
  const ChannelRecord* ch = view.channel(channel);
  int k = find_poll_record(view, ch->first_device + position, a->reg, a->ex_number);
  if (k == kNotFound) return kNotFound;
  a->handle = h | kHandleResolved | (view.generation & 3) << kHandleGenerationShift | static_cast<std::uint32_t>(k);
  return k;
}

NioStatus HostLibrary::nio_paddr(NioStatus* status, NioBlock* block, NioFormat* format, const char* address) {
  *status = kStatusOk;
  if (block == nullptr || block->address == nullptr || block->driver_area == nullptr || format == nullptr ||
      address == nullptr)
    return *status = kStatusBadAddress;
  const std::size_t length = strnlen(address, kAddressTextMax + 1);
  if (length > kAddressTextMax) {
    // Only a bounded part of an over-long text is read, even for the message.
    report(messages_, kColourInfo, "IO Address Error : Incorrect Address Format - %.64s", address);
    return *status = kStatusBadAddress;
  }
  if (length == 0) {
    block->address->handle = (block->address->handle & 0x00FFFFFF) | std::uint32_t{kDeviceUndefined} << 24;
    return kStatusOk;
  }
  const std::string text = upper_case(std::string_view(address, length));
  std::size_t sep = 0;
  while (sep < text.size() && !is_separator(text[sep])) ++sep;
  if (sep == text.size()) return *status = kStatusBadAddress;
  const std::string device = text.substr(0, sep);
  const std::string rest = text.substr(sep + 1);

  bool data_not_found = false;
  {
    ImageHold hold = hold_image();
    const ImageView& view = hold.view();
    int channel = 0, position = 0;
    if (device.size() > kDeviceTextMax || !find_device(view, device, &channel, &position)) {
      report(messages_, kColourInfo, "IO Address Error : device %s Not found", address);
      return *status = kStatusBadAddress;
    }
    RegisterPart part;
    if (rest.size() > kRestTextMax || !parse_register_part(rest, format->kind, &part)) {
      report(messages_, kColourInfo, "IO Address Error : Incorrect Address Format - %s", address);
      return *status = kStatusBadAddress;
    }
    NioAddress a = *block->address;
    a.handle = static_cast<std::uint32_t>(position) << 24 | static_cast<std::uint32_t>(channel) << kHandleChannelShift;
    a.reg = register_word(part);
    a.ex_number = part.ex_number;
    int k = find_poll_record(view, view.channel(channel)->first_device + position, a.reg, a.ex_number);
    if (k == kNotFound) {
      report(messages_, kColourInfo, "*IO Address Error; Data not found -%s", address);
      data_not_found = true;
    } else {
      a.handle |= kHandleResolved | (view.generation & 3) << kHandleGenerationShift | static_cast<std::uint32_t>(k);
      *block->address = a;
      std::memset(block->driver_area->device, 0, kDeviceNameField);
      std::memcpy(block->driver_area->device, device.data(), std::min(device.size(), kDeviceNameField - 1));
      format->kind = part.kind;
    }
  }
  if (data_not_found) {
    platform::sleep_ms(10);
    return *status = kStatusBadAddress;
  }
  return kStatusOk;
}

NioStatus HostLibrary::nio_daddr(NioStatus* status, NioBlock* block, NioFormat* format, char* out,
                                 std::uint16_t size) {
  *status = kStatusOk;
  if (out == nullptr || size < kDeviceNameField) return *status = kStatusBufferTooSmall;
  if (block == nullptr || block->address == nullptr || block->driver_area == nullptr || format == nullptr)
    return *status = kStatusBadAddress;
  const NioAddress& a = *block->address;
  const unsigned device = a.handle >> 24;
  const int channel = static_cast<int>((a.handle >> kHandleChannelShift) & 31);
  std::string text = "--UNDEFINED--";
  if (device != kDeviceUndefined) {
    ImageHold hold = hold_image();
    const ChannelRecord* ch = hold.view().channel(channel);
    if (ch != nullptr && device < ch->device_count) {
      const NioDriverArea& d = *block->driver_area;
      text = display_address(std::string_view(d.device, strnlen(d.device, sizeof d.device)), a.reg, a.ex_number,
                             format->kind);
    }
  }
  char result[kDeviceNameField] = {};
  std::memcpy(result, text.data(), std::min(text.size(), kDeviceNameField - 1));
  std::memcpy(out, result, kDeviceNameField);
  return kStatusOk;
}

}  // namespace hbt::hostlib
