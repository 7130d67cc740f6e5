#include "opc/address_space.h"

#include <cstring>
#include <mutex>

#include "opc/library.h"

namespace hbt::opc {
namespace {

constexpr std::size_t kEntrySize = 128;

// The host library frees only the buffer of its latest enumeration, so an enumeration and the
// release of its buffer must not interleave with another thread's.
std::mutex enumeration_mutex;

template <class Enumerate>
HRESULT copy_entries(Enumerate enumerate, std::vector<std::string>* out) {
  const HostApi& host = library().host;
  std::lock_guard lock(enumeration_mutex);
  NioStatus status = 0;
  std::int32_t count = 0;
  char* buffer = nullptr;
  enumerate(&status, &count, &buffer);
  HRESULT result = status == 0 && (count <= 0 || buffer) ? S_OK : E_FAIL;
  if (result == S_OK) {
    try {
      for (std::int32_t i = 0; i < count; ++i) {
        const char* entry = buffer + kEntrySize * static_cast<std::size_t>(i);
        out->emplace_back(entry, strnlen(entry, kEntrySize));
      }
    } catch (const std::bad_alloc&) {
      result = E_OUTOFMEMORY;
    }
  }
  if (buffer && host.Free) host.Free(buffer);
  return result;
}

}  // namespace

HRESULT list_devices(std::vector<std::string>* names) {
  const HostApi& host = library().host;
  if (!host.Enum_Devices) return E_FAIL;
  return copy_entries([&](NioStatus* s, std::int32_t* n, char** b) { host.Enum_Devices(s, n, b); }, names);
}

HRESULT list_ranges(const std::string& device, std::vector<std::string>* ranges) {
  const HostApi& host = library().host;
  if (!host.Enum_PollRecs) return E_FAIL;
  return copy_entries([&](NioStatus* s, std::int32_t* n, char** b) { host.Enum_PollRecs(s, device.c_str(), n, b); },
                      ranges);
}

}  // namespace hbt::opc
