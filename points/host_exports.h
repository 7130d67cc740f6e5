// The host library's exports the points library calls, as a table of entry points: filled from
// HBTSTSR.so loaded with dlopen (as a SCADA host loads it), or by tests from a host library
// object of their own. Loading the library attaches the process as a client of the driver and
// starts the poller when nobody runs it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "hostlib/nio_types.h"

namespace hbt::points {

using hostlib::NioBlock;
using hostlib::NioFormat;
using hostlib::NioStatus;
using hostlib::NioValue;

struct HostExports {
  NioStatus (*paddr)(NioStatus* status, NioBlock* block, NioFormat* format, const char* address) = nullptr;
  NioStatus (*psig)(NioStatus* status, NioBlock* block, NioFormat* format, const char* text) = nullptr;
  NioStatus (*popt)(NioStatus* status, NioBlock* block, NioFormat* format, const char* text) = nullptr;
  NioStatus (*read)(NioStatus* status, NioBlock* block, NioFormat* format, NioValue* value) = nullptr;
  NioStatus (*send)(NioStatus* status, NioBlock* block, NioFormat* format, NioValue* value) = nullptr;
  NioStatus (*Enum_Devices)(NioStatus* status, std::int32_t* count, char** buffer) = nullptr;
  NioStatus (*Enum_PollRecs)(NioStatus* status, const char* device, std::int32_t* count, char** buffer) = nullptr;
  void (*Free)(void* buffer) = nullptr;
  std::int32_t (*find_dev)(const char* device) = nullptr;
  std::int32_t (*get_ServerStatus)(char* text, std::int32_t* changed) = nullptr;
  NioStatus (*read_stats)(NioStatus* status, void* reserved, std::int16_t channel, std::int16_t* selector,
                          std::uint8_t* block) = nullptr;

  bool complete() const;
};

// HBTSTSR.so, loaded for as long as the object lives.
class LoadedHostLibrary {
 public:
  // `path` empty: $HBT_HOSTLIB, else HBTSTSR.so beside the object that holds this code (or in
  // ../lib from it), else the loader's search path. Null with *error set on failure.
  static std::unique_ptr<LoadedHostLibrary> load(const std::string& path, std::string* error);
  ~LoadedHostLibrary();
  LoadedHostLibrary(const LoadedHostLibrary&) = delete;
  LoadedHostLibrary& operator=(const LoadedHostLibrary&) = delete;

  const HostExports& exports() const { return exports_; }
  const std::string& path() const { return path_; }

 private:
  LoadedHostLibrary() = default;
  void* handle_ = nullptr;
  std::string path_;
  HostExports exports_;
};

std::string default_host_library_path();

}  // namespace hbt::points
