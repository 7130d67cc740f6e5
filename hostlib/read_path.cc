// Reads: nio_read (one value into the host's buffer) and nio_readEx (the value as a VARIANT
// with quality and timestamp, also whole arrays of consecutive values).
#include <bit>
#include <cstring>

#include "com/bstr.h"
#include "com/safearray.h"
#include "hostlib/host_library.h"
#include "hostlib/point_position.h"
#include "hostlib/quality.h"
#include "hostlib/signal_conditioning.h"
#include "image/lock_byte.h"
#include "platform/clock.h"

namespace hbt::hostlib {

using namespace hbt::image;

namespace {

constexpr std::size_t kReadBuffer = 128;    // what nio_readEx reads through
constexpr std::size_t kLargestValue = 255;  // a NioValue's capacity is one byte
constexpr std::int32_t kMaxElements = 65536;  // the element index is 16 bits

bool usable(const NioBlock* block) {
  return block != nullptr && block->address != nullptr && block->driver_area != nullptr;
}

// The value a read produces, before it is copied into the caller's buffer.
struct Produced {
  std::uint8_t type = 0;
  std::uint8_t bytes[kLargestValue] = {};
  std::size_t size = 0;
  std::int16_t value_status = 0;
  void put_float(float f) {
    type = kValueFloat;
    std::memcpy(bytes, &f, 4);
    size = 4;
  }
  void put_digital(bool on) {
    type = kValueDigital;
    bytes[0] = on ? 1 : 0;
    size = 1;
  }
};

// The stored 32-bit float is unusable when it is infinite, NaN or denormal.
bool regular_float(std::uint32_t bits) {
  std::uint32_t exponent = (bits >> 23) & 0xFF, mantissa = bits & 0x7FFFFF;
  return !(exponent == 0xFF || (exponent == 0 && mantissa != 0));
}

// Reads the value from data area 1; the record lock is held by the caller.
NioStatus produce(const ImageView& view, const PointPosition& p, const NioAddress& address,
                  const NioDriverArea& driver, const NioFormat& format, std::size_t capacity, Produced* out) {
  const DataArea current = view.area(p.head, kAreaCurrent);
  std::uint16_t w = 0;
  if (!p.word_device) {
    if (capacity < 1) return kStatusWrongKind;
    if (!area_word(current, p.index / 16, &w)) return kStatusBadAddress;
    out->put_digital((w >> (p.index % 16)) & 1);
    return kStatusOk;
  }
  const auto dt = p.data_type;
  const bool sixteen_bit = dt == DataType::Signed || dt == DataType::Unsigned || dt == DataType::Digital;
  switch (format.kind) {
    case kKindAnalog:
      if (sixteen_bit) {
        if (capacity < 4) return kStatusBadRequest;
        Conditioning c{address.sigcond, static_cast<std::uint16_t>(dt), format.egu_low, format.egu_span,
                       format.decimals, driver.option_low, driver.option_range};
        std::uint16_t next = 0;
        if (!area_word(current, p.index, &w)) return kStatusBadAddress;
        if (two_registers(c.code) && (p.index + 1 >= p.head->length || !area_word(current, p.index + 1, &next)))
          return kStatusBadAddress;
        Reading r = condition_read(c, w, next);
        out->put_float(r.value);
        out->value_status = r.value_status;
        return kStatusOk;
      }
      if (dt == DataType::Float || dt == DataType::LongUnsigned || dt == DataType::LongSigned) {
        if (capacity < 4) return kStatusWrongKind;
        const std::size_t at = static_cast<std::size_t>(p.index / 2) * 4;
        if (at + 4 > current.size) return kStatusBadAddress;
        const auto bits = load<std::uint32_t>(current.data + at);
        if (dt == DataType::Float) {
          if (regular_float(bits)) {
            out->put_float(std::bit_cast<float>(bits));
          } else {
            out->put_float(0.0f);
            out->value_status = kValueBadFloat;
          }
          return kStatusOk;
        }
        float v = dt == DataType::LongSigned ? static_cast<float>(static_cast<std::int32_t>(bits))
                                             : static_cast<float>(bits);
        if (address.sigcond == kSigD10) v /= 10.0f;
        if (address.sigcond == kSigD100) v /= 100.0f;
        out->put_float(v);
        return kStatusOk;
      }
      return kStatusWrongKind;
    case kKindDigital:
      if (!sixteen_bit || capacity < 1) return kStatusWrongKind;
      if (!area_word(current, p.index, &w)) return kStatusBadAddress;
      out->put_digital((w >> p.bit) & 1);
      return kStatusOk;
    case kKindText: {
      if (!(dt == DataType::Ascii || dt == DataType::Signed || dt == DataType::Unsigned) || capacity < 1)
        return kStatusWrongKind;
      if (current.data == nullptr) return kStatusBadAddress;
      const std::int64_t available = static_cast<std::int64_t>(current.size) - 2 * p.index;
      const std::size_t n = available <= 0 ? 0 : std::min<std::size_t>(capacity, static_cast<std::size_t>(available));
      out->type = kValueText;
      std::memcpy(out->bytes, current.data + 2 * p.index, n);
      out->size = n;
      return kStatusOk;
    }
    default:
      return kStatusWrongKind;
  }
}

}  // namespace

NioStatus HostLibrary::nio_read(NioStatus* status, NioBlock* block, NioFormat* format, NioValue* value) {
  ImageHold hold = hold_image();
  return read_point(hold.view(), status, block, format, value);
}

NioStatus HostLibrary::read_point(const ImageView& view, NioStatus* status, NioBlock* block, NioFormat* format,
                                  NioValue* value) {
  *status = kStatusOk;
  if (!usable(block) || format == nullptr) return *status = kStatusBadAddress;
  if (value == nullptr) return *status = kStatusWrongKind;
  const bool registered = block->driver_area->exception_flag != 0;
  const int k = resolve(view, block);
  if (k == kNotFound) return *status = kStatusBadAddress;
  PointPosition p = locate(view, *block->address, k);
  if (!p.valid()) return *status = kStatusBadAddress;

  const std::uint16_t record_status = p.head->status;
  const bool deliver_anyway = p.channel != nullptr && p.channel->disable_comms_alarms != 0;
  if ((record_status == kStatusCommFailure || record_status == kStatusNotPolled) && !deliver_anyway) {
    // No data, but the access still counts and a pending change of the point is consumed.
    value->status = static_cast<std::int16_t>(record_status);
    int consumed;
    {
      ByteLock lock(&p.head->lock);
      consumed = take_change(view, p);
    }
    finish_access(p, consumed);
    return kStatusOk;
  }

  if (apply_element(&p, format->kind, block->address->element) != kStatusOk) return *status = kStatusBadAddress;
  const std::size_t capacity = value->data == nullptr ? 0 : value->size;
  Produced produced;
  NioStatus result;
  int consumed = 0;
  {
    ByteLock lock(&p.head->lock);
    result = produce(view, p, *block->address, *block->driver_area, *format, capacity, &produced);
    if (result == kStatusOk && registered) consumed = take_change(view, p);
  }
  if (result != kStatusOk) return *status = result;
  value->status = produced.value_status;
  value->type = produced.type;
  value->size = static_cast<std::uint8_t>(produced.size);
  std::memcpy(value->data, produced.bytes, produced.size);
  finish_access(p, consumed);
  return kStatusOk;
}

com::FILETIME HostLibrary::timestamp(const ImageView& view, int record) {
  const PollRecordHead* head = view.record(record);
  const PollControlEntry* control = view.control(record);
  std::int32_t age_ms = 0;
  if (head != nullptr && control != nullptr) {
    // The time since the record's last read request went out.
    auto age = static_cast<std::int16_t>(static_cast<std::uint16_t>(head->poll_time) -
                                         static_cast<std::uint16_t>(control->poll_countdown));
    age_ms = 10 * age;
  }
  const std::uint32_t now = platform::tick_count_ms();
  std::uint32_t elapsed = now - static_cast<std::uint32_t>(age_ms) - reference_tick_;
  if (!have_reference_ || elapsed > 10000) {
    com::SYSTEMTIME st;
    com::FILETIME ft;
    com::GetSystemTime(&st);
    com::SystemTimeToFileTime(&st, &ft);
    reference_time_ = com::filetime_ticks(ft);
    reference_tick_ = now;
    have_reference_ = true;
    elapsed = now - static_cast<std::uint32_t>(age_ms) - reference_tick_;
  }
  return com::filetime_from_ticks(reference_time_ + std::int64_t{static_cast<std::int32_t>(elapsed)} * 10000);
}

NioStatus HostLibrary::nio_readEx(NioStatus* status, NioBlock* block, NioFormat* format, com::FILETIME* timestamp_out,
                                  std::uint16_t* quality, std::int32_t count, com::VARIANT* out) {
  *status = kStatusOk;
  if (!usable(block) || format == nullptr) return *status = kStatusBadAddress;
  if (out == nullptr || count > kMaxElements) return *status = kStatusBadRequest;
  std::uint8_t buffer[kReadBuffer] = {};
  std::size_t capacity = kReadBuffer;
  if (format->kind == kKindText && count <= static_cast<std::int32_t>(kReadBuffer))
    capacity = count < 0 ? 0 : static_cast<std::size_t>(count);
  NioValue value{0, static_cast<std::uint8_t>(capacity), 0, buffer};

  std::lock_guard critical(critical_section_);
  ImageHold hold = hold_image();
  const ImageView& view = hold.view();
  read_point(view, status, block, format, &value);
  if (timestamp_out != nullptr) {
    const std::uint32_t h = block->address->handle;
    *timestamp_out = timestamp(view, (h & kHandleResolved) ? static_cast<int>(h & kHandleRecordMask) : -1);
  }
  if (quality != nullptr) *quality = opc_quality(value.status, *status, *quality);

  // Elements after the first are read one by one through the element index, which is put
  // back to 0 afterwards.
  auto read_element = [&](std::int32_t i) {
    std::memset(buffer, 0, 4);
    value.size = static_cast<std::uint8_t>(capacity);
    block->address->element = static_cast<std::uint16_t>(i);
    read_point(view, status, block, format, &value);
  };
  switch (format->kind) {
    case kKindAnalog:
    case kKindDigital: {
      const bool analog = format->kind == kKindAnalog;
      // A bit device answers every kind with a 0/1 byte, which is a number too.
      auto number = [&] {
        float f;
        std::memcpy(&f, buffer, 4);
        return value.type == kValueDigital ? (buffer[0] ? 1.0f : 0.0f) : f;
      };
      const float first = number();
      const com::VARIANT_BOOL first_bool = buffer[0] ? com::VARIANT_TRUE : com::VARIANT_FALSE;
      com::VariantInit(out);
      if (count < 2) {
        out->vt = analog ? com::VT_R4 : com::VT_BOOL;
        if (analog)
          out->fltVal = first;
        else
          out->boolVal = first_bool;
        return *status;
      }
      const com::VARTYPE element_type = analog ? com::VT_R4 : com::VT_BOOL;
      com::SAFEARRAY* array = com::SafeArrayCreateVector(element_type, 0, static_cast<com::ULONG>(count));
      if (array == nullptr) return *status = kStatusBadRequest;
      for (std::int32_t i = 0; i < count; ++i) {
        if (i > 0) read_element(i);
        com::LONG index = i;
        if (analog) {
          float f = i == 0 ? first : number();
          com::SafeArrayPutElement(array, &index, &f);
        } else {
          com::VARIANT_BOOL b = i == 0 ? first_bool : (buffer[0] ? com::VARIANT_TRUE : com::VARIANT_FALSE);
          com::SafeArrayPutElement(array, &index, &b);
        }
      }
      block->address->element = 0;
      out->vt = com::VT_ARRAY | element_type;
      out->parray = array;
      return *status;
    }
    case kKindText: {
      // Bytes become UTF-16 units one for one (Latin-1), up to the first NUL.
      std::size_t n = value.type == kValueText ? value.size : 0;
      std::u16string text;
      for (std::size_t i = 0; i < n && buffer[i] != 0; ++i) text += static_cast<char16_t>(buffer[i]);
      com::VariantInit(out);
      out->vt = com::VT_BSTR;
      out->bstrVal = com::SysAllocStringLen(text.data(), static_cast<com::UINT>(text.size()));
      return *status;
    }
    default:
      return *status = kStatusBadRequest;
  }
}

}  // namespace hbt::hostlib
