// Named shared-memory regions with the lifetime rule of the system this driver came from:
// a region exists exactly while some live process holds it. A holder that crashes releases
// its hold with its death, so it never leaves a stale "existing" region behind.
//
// Names get the HBT_NAMESPACE prefix (see environment.h). Regions are readable and writable
// by their creator and the driver's group (file_sharing.h), never by everybody. Thread-safe: each
// SharedRegion object belongs to one thread at a time; different objects are independent.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace hbt::platform {

// The step of an open that failed: getting hold of the region, or mapping it.
enum class RegionStep { kHold, kMap };

class SharedRegion {
 public:
  // Opens the region, creating it zero-filled with `size` bytes when no live process holds
  // it. *existed tells which happened. An existing region keeps its own size, which may
  // differ from `size`. A fresh region is handed to `initialise` (when given) before any
  // other process can open it. Returns null on failure with the error number in *error and
  // the step that failed in *failed_step.
  static std::unique_ptr<SharedRegion> create_or_open(
      std::string_view name, std::size_t size, bool* existed, int* error = nullptr,
      const std::function<void(void* data, std::size_t size)>& initialise = {},
      RegionStep* failed_step = nullptr);

  // Opens the region only if some live process holds it; null otherwise (error ENOENT).
  static std::unique_ptr<SharedRegion> open_existing(std::string_view name, int* error = nullptr);

  // Whether a live process holds the region (without holding it).
  static bool exists(std::string_view name);

  // Unmaps and gives up the hold; the last holder removes the name.
  ~SharedRegion();
  SharedRegion(const SharedRegion&) = delete;
  SharedRegion& operator=(const SharedRegion&) = delete;

  void* data() const { return data_; }
  std::size_t size() const { return size_; }
  const std::string& name() const { return name_; }

 private:
  SharedRegion(std::string name, int fd, void* data, std::size_t size)
      : name_(std::move(name)), fd_(fd), data_(data), size_(size) {}

  std::string name_;  // with the namespace prefix
  int fd_;
  void* data_;
  std::size_t size_;
};

}  // namespace hbt::platform
