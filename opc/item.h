// COPCDrvItem: one point of a group, bound to the host library through its own NioAddress,
// NioDriverArea and NioFormat, with its cached value, quality and deadband.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "hostlib/nio_types.h"
#include "opc/com_base.h"
#include "opc/handle_table.h"
#include "opc/host_api.h"

namespace hbt::opc {

class COPCDrvGroup;

inline constexpr std::uint16_t kPendingData = 0x1;
inline constexpr std::uint16_t kPendingDataTime = 0x2;
inline constexpr std::uint16_t kPendingBoth = kPendingData | kPendingDataTime;

// Where a client read takes its value from: the cache, the device (through the cache), or
// what the change scan last found, which is what the subscription reports.
enum class ReadSource { kCache, kDevice, kReported };

// One value as a client receives it: converted to the requested type, with its quality,
// timestamp and per-item result. The value is owned by whoever receives the struct.
struct ItemRead {
  VARIANT value;  // VT_EMPTY when the conversion failed
  std::uint16_t quality;
  FILETIME timestamp;
  HRESULT result;
};

class COPCDrvItem {
 public:
  // `group` is null for a scratch item that binds silently (item properties, item I/O).
  explicit COPCDrvItem(COPCDrvGroup* group);
  ~COPCDrvItem();
  COPCDrvItem(const COPCDrvItem&) = delete;
  COPCDrvItem& operator=(const COPCDrvItem&) = delete;

  // Binds the item to a definition and fills `result`; the result code of the binding.
  HRESULT bind(const OPCITEMDEF& def, OPCHANDLE server_handle, OPCITEMRESULT* result);
  // A copy for a cloned group: the same binding and client view, a handle of its own.
  void clone_from(const COPCDrvItem& source, OPCHANDLE server_handle, float percent_deadband);

  // The item keeps its server handle from the table until it is destroyed.
  void hold_handle(HandleLease lease) { handle_lease_ = std::move(lease); }

  void set_active(bool active);
  // OPC_E_BADTYPE when an empty value cannot become the type.
  HRESULT set_requested_type(VARTYPE vt);
  static bool type_acceptable(VARTYPE vt);

  // Deadband; false when the item is not analog.
  bool is_analog() const { return format_.kind == hostlib::kKindAnalog; }
  void set_deadband(float percent, bool explicit_value);
  float percent_deadband() const { return percent_deadband_; }
  float absolute_deadband() const { return absolute_deadband_; }
  bool deadband_explicit() const { return deadband_explicit_; }

  OPCITEMATTRIBUTES attributes() const;  // strings empty, not allocated

  OPCHANDLE server_handle() const { return server_handle_; }
  OPCHANDLE client_handle() const { return client_handle_; }
  void set_client_handle(OPCHANDLE h) { client_handle_ = h; }
  bool active() const { return active_; }
  std::uint16_t quality() const { return quality_; }
  VARTYPE canonical_type() const { return canonical_type_; }
  VARTYPE requested_type() const { return requested_type_; }
  std::uint16_t element_count() const { return element_count_; }
  const NioFormat& format() const { return format_; }
  const char* units() const { return units_; }
  std::string open_label() const;
  std::string close_label() const;
  float egu_low() const { return format_.egu_low; }
  float egu_span() const { return format_.egu_span; }
  bool cache_valid() const { return cache_valid_; }
  const VARIANT& cached_value() const { return value_; }

  // Runs `call(NioBlock*, NioFormat*)` on the item's host records under the item's lock: the
  // host library's display exports of item properties.
  template <class Call>
  auto with_host_records(Call call) {
    std::lock_guard lock(mutex_);
    return call(&block_, &format_);
  }

  // --- Value I/O (item_io.cc). Each call holds the item's lock for its whole duration, so
  // it is safe from any thread; the group lock may be held by the caller, never the reverse.

  // A client read: with kDevice the item is first read from the device into its cache (even
  // when inactive); then the cached value converted to the requested type into `*value`
  // (cleared first), with quality and timestamp. Returns the per-item result: S_OK, or
  // OPC_S_INACTIVEITEM for a cache read of an inactive item. kReported delivers what the last
  // change scan found (value, quality, timestamp) and reads nothing.
  HRESULT read(ReadSource source, VARIANT* value, std::uint16_t* quality, FILETIME* timestamp);
  ItemRead read(ReadSource source);
  // Device read into the cache only (nio_readEx): the quality and host status always follow
  // the host; the cached value, its type and the cache-valid flag only on a good or
  // uncertain host quality with status 0. The quality becomes 0x1C while the poller's
  // watchdog stands still (the value the image still holds is kept all the same).
  void read_device();
  // Queues a write through nio_sendEx / nio_sendVQT: OPC_E_BADTYPE for VT_EMPTY (no host
  // call), E_FAIL for a nonzero host status, else S_OK.
  HRESULT write(const VARIANT& value);
  HRESULT write_vqt(const OPCITEMVQT& vqt);

  // The change scan of a group update pass (group lock held): an active item is read from
  // the device and compared with what the subscription last reported (type, quality, host
  // status, pending bits, and the value against the deadband), never with the cache, which
  // client reads refresh between passes. On a change the new value becomes the cache and the
  // report, and both pending bits are set. `prime_bits` are pending bits every active item
  // takes first. False for inactive items.
  bool scan_for_change(std::uint16_t prime_bits = 0);

  // Pending-notification bits (kPendingData, kPendingDataTime) owed to the DA 1.0 streams.
  std::uint16_t pending() const;
  void set_pending(std::uint16_t bits);
  void clear_pending(std::uint16_t bits);
  NioStatus host_status() const;
  FILETIME timestamp() const;

  // A scratch item for a one-off read or write by item ID (IOPCItemIO, item properties):
  // not in any group, binds silently, inactive. Null with `*result` set when the ID does not
  // bind (or memory runs out).
  static std::unique_ptr<COPCDrvItem> scratch(LPCWSTR item_id, VARTYPE requested, HRESULT* result);

 private:
  HRESULT fail(const std::string& message, HRESULT code);
  // nio_readEx into `value` and `stamp`; the quality (0x1C while the poller stands still) and
  // host status follow the host. True when the value read is good or uncertain with status 0.
  // Item mutex held.
  bool host_read_locked(VARIANT* value, FILETIME* stamp);
  // The two halves of a client read, with the item's mutex held.
  void read_device_locked();
  void deliver_locked(const VARIANT& from, VARIANT* out) const;

  NioAddress address_{};
  NioDriverArea driver_area_{};
  NioBlock block_{nullptr, &address_, &driver_area_};
  NioFormat format_{hostlib::kKindAutomatic, 1, 100.0f, 0.0f, 0};
  char units_[5] = {};
  // Contact labels of a digital item, kept beside the format rather than over its range
  // fields, which this host library's format has no room for.
  char open_label_[8] = {};
  char close_label_[8] = {};
  NioStatus host_status_ = 0;
  std::uint16_t quality_ = 0;
  std::uint16_t element_count_ = 1;
  COPCDrvGroup* group_;
  OPCHANDLE server_handle_ = 0;
  HandleLease handle_lease_;
  OPCHANDLE client_handle_ = 0;
  VARTYPE canonical_type_ = VT_EMPTY;
  VARTYPE requested_type_ = VT_EMPTY;
  bool active_ = false;
  bool cache_valid_ = false;
  VARIANT value_{};
  FILETIME timestamp_{};
  std::uint16_t pending_ = 0;
  // What the change scan last found, kept apart from the cache: the subscription's view.
  bool reported_ = false;
  VARIANT reported_value_{};  // VT_EMPTY while no usable value was found
  std::uint16_t reported_quality_ = 0;
  NioStatus reported_status_ = 0;
  FILETIME reported_timestamp_{};
  float percent_deadband_ = 0.0f;
  float absolute_deadband_ = 0.0f;
  bool deadband_explicit_ = false;
  mutable std::mutex mutex_;  // the cached value and every nio_* call of the item
};

}  // namespace hbt::opc
