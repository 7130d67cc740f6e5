// The records a host passes to the nio_* exports, in the byte layouts the host keeps with its
// points, and the status words the exports answer with. Shared by the library, its tests and
// the programs that load it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hbt::hostlib {

// The 16-bit status word every per-point export sets (0 = success).
using NioStatus = std::int16_t;

inline constexpr NioStatus kStatusOk = 0;
inline constexpr NioStatus kStatusBufferTooSmall = 100;    // output buffer missing or too small
inline constexpr NioStatus kStatusEnumArguments = 203;     // enumeration without buffer or room
inline constexpr NioStatus kStatusBadRequest = 510;        // kind, array or buffer not usable
inline constexpr NioStatus kStatusBadAddress = 514;        // address not resolvable / outside the record
inline constexpr NioStatus kStatusBadConditioning = 516;   // conditioning refused for the point
inline constexpr NioStatus kStatusWrongKind = 519;         // kind not valid for the data type
inline constexpr NioStatus kStatusRegistered = 520;        // nio_on: registered
inline constexpr NioStatus kStatusExceptionsDisabled = 521;
inline constexpr NioStatus kStatusAlreadyRegistered = 522;

// Value statuses (NioValue::status) beyond the poll record's own status words.
inline constexpr std::int16_t kValueBadFloat = 2185;   // stored float is NaN, infinite or denormal
inline constexpr std::int16_t kValueOutOfRange = 4292; // raw value outside its conditioning's range
inline constexpr std::int16_t kValueStatus4162 = 4162;
inline constexpr std::int16_t kValueStatus4163 = 4163;

// NioFormat kinds.
inline constexpr std::uint8_t kKindAnalog = 1;
inline constexpr std::uint8_t kKindDigital = 2;
inline constexpr std::uint8_t kKindText = 3;
inline constexpr std::uint8_t kKindAutomatic = 5;

// NioValue types.
inline constexpr std::uint8_t kValueText = 0;
inline constexpr std::uint8_t kValueFloat = 3;
inline constexpr std::uint8_t kValueDigital = 4;
inline constexpr std::uint8_t kValueRaw32 = 6;

// Handle word of NioAddress.
inline constexpr std::uint32_t kHandleRecordMask = 0xFFFF;
inline constexpr int kHandleGenerationShift = 16;
inline constexpr std::uint32_t kHandleResolved = 1u << 18;
inline constexpr int kHandleChannelShift = 19;
inline constexpr std::uint32_t kChannelUnresolved = 31;
inline constexpr std::uint8_t kDeviceUndefined = 255;

struct NioAddress {
  std::uint32_t handle;    // record index, generation tag, resolved flag, channel, device
  std::uint32_t reg;       // register type << 28 | bit << 24 | offset
  std::uint16_t element;   // element of an array access, 0 otherwise
  std::uint8_t ex_number;  // block number of an EX address
  std::uint8_t host[3];    // the host's own bytes
  std::int16_t sigcond;    // signal-conditioning code
};
static_assert(sizeof(NioAddress) == 16);
static_assert(offsetof(NioAddress, element) == 8);
static_assert(offsetof(NioAddress, ex_number) == 10);
static_assert(offsetof(NioAddress, sigcond) == 14);

inline constexpr std::size_t kDeviceNameField = 32;

struct NioDriverArea {
  char device[kDeviceNameField];  // upper case, NUL-terminated
  std::int16_t exception_flag;    // 1 while registered for exception reporting
  std::uint16_t option_range;     // hardware options
  std::int16_t option_low;
};
static_assert(sizeof(NioDriverArea) == 38);

struct NioBlock {
  void* reserved;
  NioAddress* address;
  NioDriverArea* driver_area;
};

struct NioFormat {
  std::uint8_t kind;     // 1 analog, 2 digital, 3 text, 5 automatic
  std::uint8_t subkind;
  float egu_span;
  float egu_low;
  std::int8_t decimals;
};

struct NioValue {
  std::uint8_t type;    // kValue*
  std::uint8_t size;    // capacity on entry, bytes stored after a read
  std::int16_t status;  // value status
  void* data;
};

struct NioEventId {
  std::uint8_t id;
  std::uint8_t unused;
  std::int16_t group;
};
static_assert(sizeof(NioEventId) == 4);

}  // namespace hbt::hostlib
