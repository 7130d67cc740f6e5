#include "image/niolib.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "image/image_check.h"
#include "image/lock_byte.h"
#include "platform/clock.h"
#include "platform/error_text.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/shared_region.h"

namespace hbt::image {

namespace reg = platform::registry;

namespace {

constexpr std::size_t kRegistryBufferChars = 127;  // the original's 128-byte buffers
constexpr int kStartStopPolls = 100;
constexpr int kStartStopPollMs = 50;
constexpr int kPollerStartWaitMs = 2000;

std::optional<std::string> driver_value(const char* name) {
  auto value = reg::get_string(reg::Hive::LocalMachine, kDriverConfigKey, name);
  if (value && value->size() > kRegistryBufferChars) value->resize(kRegistryBufferChars);
  return value;
}

void copy_to_field(char* field, std::size_t field_size, const std::string& text) {
  std::size_t n = std::min(text.size(), field_size - 1);
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, field_size - n);
}

void initialise_pointer_block(void* data, std::size_t size) {
  std::memset(data, 0, size);
  auto* block = static_cast<PointerBlock*>(data);
  block->unused0 = 1;
  block->command = kCommandRun;
  block->state = kStateNotStarted;
  block->alive_counter = 0;
  block->client_usage_countdown = kInitialClientUsageTicks;
  block->loaded_generation = 0;
  block->map_generation = 0;
  block->client_count = 0;
  block->ring_enabled = 1;
}

bool read_whole_file(int fd, std::uint8_t* to, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd, to + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;  // the file shrank under us
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::uint32_t next_generation(std::uint32_t generation) {
  std::uint32_t next = generation + 1;
  return next > 3 ? 1 : next;
}

}  // namespace

std::string pointer_block_name(const std::string& acronym) { return acronym + kPointerBlockSuffix; }

std::string image_name(const std::string& acronym, std::uint32_t generation) {
  return acronym + std::to_string(generation);
}

Niolib::Niolib(NiolibOptions options, MessageSink& sink) : options_(std::move(options)), sink_(sink) {}

Niolib::~Niolib() {
  detach_client();
  unmap_image();
  block_ = nullptr;
  block_region_.reset();
}

PointerBlock* Niolib::open_pointer_block() {
  if (block_) return block_;
  bool existed = true;
  const std::string name = pointer_block_name(options_.acronym);
  block_region_ = options_.create_pointer_block
                      ? platform::SharedRegion::create_or_open(name, kPointerBlockSize, &existed, nullptr,
                                                               initialise_pointer_block)
                      : platform::SharedRegion::open_existing(name);
  if (!block_region_) return nullptr;
  if (block_region_->size() < kPointerBlockSize) {
    block_region_.reset();
    return nullptr;
  }
  block_ = static_cast<PointerBlock*>(block_region_->data());
  if (!existed && options_.variant == NiolibVariant::kClient && options_.start_poller) start_poller_program();
  return block_;
}

bool Niolib::MapToDIT() {
  // The acronym is checked first, so that a bad one never creates a region.
  if (options_.acronym.size() != 3) {
    report(sink_, kColourError, "MapToDIT() failed to open DIT Table - Bad Accronym");
    return false;
  }
  if (!block_) open_pointer_block();
  if (!block_) {
    report(sink_, kColourError, "MapToDIT() failed to open driver pointer");
    return false;
  }
  return options_.variant == NiolibVariant::kDriver ? map_driver() : map_client();
}

bool Niolib::map_driver() {
  auto path = driver_value("ConfigFile");
  if (!path) {
    report(sink_, kColourError, "Failed to open Registry Config File path");
    return false;
  }
  std::string name = image_name(options_.acronym, block_->map_generation);
  report(sink_, kColourInfo, "MapToDIT() Opening file %s to map %s", path->c_str(), name.c_str());
  // Read-only is enough: the poller never writes the file.
  int fd = open(path->c_str(), O_RDONLY | O_CLOEXEC);
  copy_to_field(block_->config_path, sizeof block_->config_path, *path);
  if (fd < 0) {
    int error = errno;
    report(sink_, kColourError, "Failed to open file %s - %s", path->c_str(),
           platform::system_error_text(error).c_str());
    return false;
  }
  struct stat st{};
  std::size_t size = fstat(fd, &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0;

  unmap_image();
  // A generation whose region some client still holds with another size cannot take this
  // file; move on to the next generation, which the client will then follow.
  int error = 0;
  platform::RegionStep failed_step = platform::RegionStep::kHold;
  for (int attempt = 0; attempt < 3 && size > 0; ++attempt) {
    bool existed = false;
    image_region_ = platform::SharedRegion::create_or_open(name, size, &existed, &error, {}, &failed_step);
    if (!image_region_ || image_region_->size() == size) break;
    image_region_.reset();
    block_->map_generation = next_generation(block_->map_generation);
    block_->loaded_generation = block_->map_generation;
    name = image_name(options_.acronym, block_->map_generation);
  }
  if (!image_region_) {
    close(fd);
    if (size > 0 && failed_step == platform::RegionStep::kMap)
      report(sink_, kColourError, "MapToDriver() MapViewOfFile failed Err=%d", error);
    else
      report(sink_, kColourError, "MapToDriver() Driver file is not loaded");
    return false;
  }
  base_ = static_cast<std::uint8_t*>(image_region_->data());
  image_size_ = size;
  if (!read_whole_file(fd, base_, size)) {
    int error = errno;
    report(sink_, kColourError, "Failed to read file %s - %s", path->c_str(),
           platform::system_error_text(error).c_str());
  }
  close(fd);
  mapped_generation_ = block_->map_generation;
  copy_to_field(block_->image_name, 8, name);
  return true;
}

bool Niolib::map_client() {
  std::string name = image_name(options_.acronym, block_->map_generation);
  unmap_image();
  int error = 0;
  image_region_ = platform::SharedRegion::open_existing(name, &error);
  if (!image_region_) {
    if (error == ENOENT)
      report(sink_, kColourWarning, "MapToDIT() Map %s Does not exist", name.c_str());
    else
      report(sink_, kColourError, "MapToDIT() MapViewOfFile failed");
    return false;
  }
  base_ = static_cast<std::uint8_t*>(image_region_->data());
  image_size_ = image_region_->size();
  report(sink_, kColourInfo, "Application %s connecting Map %s", platform::program_file_name().c_str(),
         name.c_str());
  return true;
}

void Niolib::unmap_image() {
  mapped_ = false;
  header_ = nullptr;
  base_ = nullptr;
  image_size_ = 0;
  last_index_ = 9999;
  last_record_ = nullptr;
  image_region_.reset();
}

bool Niolib::init_dit() {
  if (!MapToDIT()) return false;
  std::string detail;
  ImageVerdict verdict = check_image(base_, image_size_, &detail);
  if (verdict != ImageVerdict::kAccepted) {
    mapped_ = false;
    header_ = nullptr;
    report(sink_, kColourError, "%s", verdict_message(verdict));
    if (!detail.empty()) report(sink_, kColourError, "%s", detail.c_str());
    return false;
  }
  header_ = reinterpret_cast<ImageHeader*>(base_ + kFilePrefixSize);
  channel_count_ = static_cast<std::int8_t>(header_->channel_count);
  device_count_ = header_->device_count;
  poll_record_count_ = header_->poll_record_count;
  mapped_ = true;
  mapped_generation_ = block_->map_generation;
  last_index_ = 9999;
  last_record_ = nullptr;
  return true;
}

ImageHeader* Niolib::nio_map_hdr() {
  if (!mapped_) {
    init_dit();
    if (!mapped_) {
      platform::sleep_ms(100);
      init_dit();
      if (!mapped_) {
        report(sink_, kColourError, "nio_map_hdr() failed");
        return nullptr;
      }
    }
  }
  if (options_.variant == NiolibVariant::kClient) ReMapDIT();
  return header_;
}

bool Niolib::ReMapDIT() {
  if (!block_) return false;
  auto generation = [&] { return std::atomic_ref<std::uint32_t>(block_->map_generation).load(); };
  auto loaded = [&] { return std::atomic_ref<std::uint32_t>(block_->loaded_generation).load(); };
  auto alive = [&] { return std::atomic_ref<std::uint32_t>(block_->alive_counter).load(); };
  if (mapped_generation_ != generation()) {
    unmap_image();
    platform::sleep_ms(10);
  }
  if (loaded() != generation()) {
    std::uint32_t last_alive = alive();
    for (int waits = 1; loaded() != generation(); ++waits) {
      platform::sleep_ms(100);
      std::uint32_t now = alive();
      if (now == last_alive && waits > 10) {
        report(sink_, kColourError, "ReMapDIT() Driver not running");
        return false;
      }
      last_alive = now;
    }
  }
  // Mapping again on every call would cost a region open per access; only a dropped or
  // never mapped image needs it.
  if (!mapped_) init_dit();
  block_->client_usage_countdown = kClientUsageTicks;
  return mapped_;
}

bool Niolib::in_image(const void* p, std::size_t n) const {
  auto* q = static_cast<const std::uint8_t*>(p);
  return base_ != nullptr && q >= base_ && q <= base_ + image_size_ && n <= static_cast<std::size_t>(base_ + image_size_ - q);
}

std::uint8_t* Niolib::at_image_offset(std::uint32_t offset, std::size_t n) const {
  std::uint8_t* p = base_ + kFilePrefixSize + offset;
  return in_image(p, n) ? p : nullptr;
}

ChannelRecord* Niolib::nio_map_chan(int i) {
  ImageHeader* h = nio_map_hdr();
  if (h == nullptr || i < 0 || i >= channel_count_) {
    report(sink_, kColourError, "nio_map_chan(%d) NIOLIB Bad Handle", i);
    return nullptr;
  }
  std::uint32_t offset;
  std::memcpy(&offset, base_ + kFilePrefixSize + h->channel_table_offset + 4 * i, 4);
  return reinterpret_cast<ChannelRecord*>(at_image_offset(offset, sizeof(ChannelRecord)));
}

DeviceRecord* Niolib::nio_map_dev(int j) {
  ImageHeader* h = mapped_ ? header_ : nio_map_hdr();
  if (h == nullptr || j < 0 || j >= device_count_) {
    report(sink_, kColourError, "nio_map_dev() NIOLIB Bad Handle");
    return nullptr;
  }
  std::uint32_t offset;
  std::memcpy(&offset, base_ + kFilePrefixSize + h->device_table_offset + 4 * j, 4);
  return reinterpret_cast<DeviceRecord*>(at_image_offset(offset, sizeof(DeviceRecord)));
}

PollControlEntry* Niolib::nio_map_ptr(int k) {
  ImageHeader* h = mapped_ ? header_ : nio_map_hdr();
  if (h == nullptr || k < 0 || k >= poll_record_count_) {
    if (options_.editor) report(sink_, kColourError, "nio_map_ptr() NIOLIB Bad Handle");
    return nullptr;
  }
  return reinterpret_cast<PollControlEntry*>(base_ + kFilePrefixSize + h->poll_control_table_offset +
                                             sizeof(PollControlEntry) * static_cast<std::size_t>(k));
}

PollRecordHead* Niolib::nio_map_dit(int k) {
  PollControlEntry* entry = nio_map_ptr(k);
  PollRecordHead* record =
      entry ? reinterpret_cast<PollRecordHead*>(at_image_offset(entry->record_offset, sizeof(PollRecordHead)))
            : nullptr;
  if (record == nullptr) {
    report(sink_, kColourError, "nio_map_dit(%d) NIOLIB Bad Handle", k);
    last_index_ = 9999;
    last_record_ = nullptr;
    return nullptr;
  }
  last_index_ = k;
  last_record_ = record;
  return record;
}

std::uint8_t* Niolib::nio_find_data(int k, int kind) {
  if (k != last_index_ || last_record_ == nullptr) {
    if (options_.variant == NiolibVariant::kClient && !options_.editor)
      report(sink_, kColourWarning, "nio_find_data(%d,%d) different from map %d", k, kind, last_index_);
    else
      report(sink_, kColourWarning, "nio_find_data(%d,%d) different from map", k, kind);
    nio_map_dit(k);
  }
  if (last_record_ == nullptr) {
    report(sink_, kColourError, "nio_find_data(%d,%d) FAILED", k, kind);
    return nullptr;
  }
  auto* record = reinterpret_cast<std::uint8_t*>(last_record_);
  if (kind < kAreaCurrent || kind > kAreaExceptions) return record;
  const DataAreaRef& area = last_record_->areas[kind - 1];
  std::uint8_t* data = record + area.offset;
  if (!in_image(data, area.size)) {
    report(sink_, kColourError, "nio_find_data(%d,%d) FAILED", k, kind);
    return nullptr;
  }
  return data;
}

int Niolib::nio_num_channels() {
  if (channel_count_ == 0) nio_map_hdr();
  return channel_count_;
}

int Niolib::channel_first_poll_record(int i) {
  if (i < 0 || i >= nio_num_channels()) return -1;
  ChannelRecord* ch = nio_map_chan(i);
  if (ch == nullptr || ch->poll_record_count == 0) return -1;
  return ch->first_poll_record;
}

int Niolib::channel_device_count(int i) {
  ChannelRecord* ch = nio_map_chan(i);
  return ch ? ch->device_count : 0;
}

int Niolib::channel_poll_record_count(int i) {
  ChannelRecord* ch = nio_map_chan(i);
  return ch ? ch->poll_record_count : 0;
}

std::uint32_t Niolib::channel_runtime_ref(int i) {
  ChannelRecord* ch = nio_map_chan(i);
  return ch ? ch->runtime_ref : 0;
}

void Niolib::start_poller_program() {
  auto command = driver_value("DriverExe");
  if (!command) return;
  // The working directory is the program's own; the result of the start is not examined,
  // the caller finds out by the image appearing or not.
  platform::start_detached(*command, "");
  platform::sleep_ms(kPollerStartWaitMs);
}

int Niolib::nio_StartStop(int run) {
  report(sink_, kColourNotice, "nio_StartStop()");
  if (!block_) init_dit();
  if (!block_) return 0;
  const std::uint16_t wanted = run ? kStateRunning : kStateStopped;
  std::atomic_ref<std::uint16_t>(block_->command).store(run ? kCommandRun : kCommandStop);
  for (int poll = 0; poll < kStartStopPolls; ++poll) {
    if (std::atomic_ref<std::uint16_t>(block_->state).load() == wanted) return 1;
    platform::sleep_ms(kStartStopPollMs);
  }
  if (std::atomic_ref<std::uint16_t>(block_->state).load() == wanted) return 1;
  report(sink_, kColourError, "nio_stop() Failed !");
  return 0;
}

int Niolib::ReloadConfiguration(const char* a, const char* b) {
  report(sink_, kColourInfo, "ReloadConfiguration(%s,%s)", a ? a : "", b ? b : "");
  if (nio_StartStop(0)) nio_StartStop(1);
  return 1;
}

void Niolib::attach_client() {
  if (attached_ || !mapped_ || !block_) return;
  block_->client_usage_countdown = kClientUsageTicks;
  std::uint32_t count = shared_counter(block_->client_count).fetch_add(1) + 1;
  attached_ = true;
  report(sink_, kColourNotice, "Conneting %d Clients Connected", static_cast<int>(count));
}

void Niolib::detach_client() {
  if (!attached_ || !block_) return;
  block_->client_usage_countdown = kClientUsageTicks;
  std::uint32_t count = shared_counter(block_->client_count).fetch_sub(1) - 1;
  attached_ = false;
  report(sink_, kColourNotice, "Disconnecting %d Clients Connected", static_cast<int>(count));
}

void Niolib::enable_message_ring(bool file_log) {
  if (!block_) open_pointer_block();
  if (!block_) return;
  block_->ring_enabled = 1;
  if (file_log) block_->file_log = 1;
}

bool Niolib::nio_poll_reload() {
  unmap_image();
  if (!block_) open_pointer_block();
  if (!block_) return false;
  block_->map_generation = next_generation(block_->map_generation);
  init_dit();
  std::atomic_ref<std::uint32_t>(block_->loaded_generation).store(block_->map_generation);
  report(sink_, kColourNotice, "nio_poll_reload()");
  return mapped_;
}

}  // namespace hbt::image
