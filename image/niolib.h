// NIOLIB: how every program finds, loads, attaches and navigates the shared image.
//
// The driver variant (the poller) creates the image region and reads the configuration file
// into it; the client variant (host library, editor, tools) opens the region the poller
// made, follows reloads and starts the poller when nobody runs it. One object per process
// (or per independent user in tests); it is used from one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "image/layout.h"
#include "image/message_sink.h"

namespace hbt::platform {
class SharedRegion;
}

namespace hbt::image {

enum class NiolibVariant { kDriver, kClient };

struct NiolibOptions {
  NiolibVariant variant = NiolibVariant::kClient;
  // The editor's copy names its poll control entry failures.
  bool editor = false;
  // Client variant: start "DriverExe" when this process creates the pointer block.
  bool start_poller = true;
  // When false, only an existing pointer block is opened (observers that must neither create
  // the block nor start the poller).
  bool create_pointer_block = true;
  std::string acronym = kAcronym;
};

// Registry key of the driver's values "ConfigFile" and "DriverExe" (under HKLM).
inline constexpr char kDriverConfigKey[] = "Software\\Velmora\\Brenlow\\Config";

// Name of the pointer block region ("HBT_TO_IOC") and of the image of a generation ("HBT1").
std::string pointer_block_name(const std::string& acronym);
std::string image_name(const std::string& acronym, std::uint32_t generation);

class Niolib {
 public:
  Niolib(NiolibOptions options, MessageSink& sink);
  ~Niolib();  // unmaps the image and gives up the pointer block
  Niolib(const Niolib&) = delete;
  Niolib& operator=(const Niolib&) = delete;

  // Creates or opens the driver pointer block; a fresh block is initialised and, in the
  // client variant, the poller program is started. Null when it cannot be had.
  PointerBlock* open_pointer_block();
  PointerBlock* pointer_block() const { return block_; }

  bool MapToDIT();
  // Maps and examines the image; false (with its message) when it is missing or refused.
  bool init_dit();
  // The image header, mapping it first when needed; clients follow reloads here.
  ImageHeader* nio_map_hdr();
  // Client: drops a stale generation and maps the current one.
  bool ReMapDIT();

  ChannelRecord* nio_map_chan(int i);
  DeviceRecord* nio_map_dev(int j);
  PollControlEntry* nio_map_ptr(int k);  // poll control entry
  PollRecordHead* nio_map_dit(int k);
  // Data area `kind` (1..5) of poll record k; any other kind gives the record itself.
  std::uint8_t* nio_find_data(int k, int kind);

  // Small accessors through nio_map_chan.
  int nio_num_channels();
  int channel_first_poll_record(int i);  // -1 when out of range or without poll records
  int channel_device_count(int i);
  int channel_poll_record_count(int i);
  std::uint32_t channel_runtime_ref(int i);

  // Client: starts the "DriverExe" command line as a detached process, then waits 2 s.
  void start_poller_program();

  // Client: asks the poller to run (1) or stop (0) and waits until it has. 1 on success.
  int nio_StartStop(int run);
  // Client: stop, then start: the poller reloads the configuration file in between.
  int ReloadConfiguration(const char* a, const char* b);

  // Host library: client attach and detach (client count and usage countdown).
  void attach_client();
  void detach_client();

  // Enables the message ring and, optionally, the poller's file log.
  void enable_message_ring(bool file_log);

  // Driver: unmaps the image, advances the map generation (1, 2, 3, 1, ...), loads the
  // configuration file anew and publishes the loaded generation.
  bool nio_poll_reload();

  // State.
  bool mapped() const { return mapped_; }
  ImageHeader* header() const { return header_; }
  std::uint8_t* image_base() const { return base_; }
  std::size_t image_size() const { return image_size_; }
  int channel_count() const { return channel_count_; }
  int device_count() const { return device_count_; }
  int poll_record_count() const { return poll_record_count_; }
  std::uint32_t mapped_generation() const { return mapped_generation_; }
  const NiolibOptions& options() const { return options_; }

  // Whether [p, p + n) lies inside the mapped image.
  bool in_image(const void* p, std::size_t n) const;

 private:
  bool map_driver();
  bool map_client();
  void unmap_image();
  std::uint8_t* at_image_offset(std::uint32_t offset, std::size_t n) const;

  NiolibOptions options_;
  MessageSink& sink_;
  std::unique_ptr<platform::SharedRegion> block_region_;
  PointerBlock* block_ = nullptr;
  std::unique_ptr<platform::SharedRegion> image_region_;
  std::uint8_t* base_ = nullptr;
  std::size_t image_size_ = 0;
  ImageHeader* header_ = nullptr;
  bool mapped_ = false;
  bool attached_ = false;
  int channel_count_ = 0;
  int device_count_ = 0;
  int poll_record_count_ = 0;
  std::uint32_t mapped_generation_ = 0;
  int last_index_ = 9999;
  PollRecordHead* last_record_ = nullptr;
};

}  // namespace hbt::image
