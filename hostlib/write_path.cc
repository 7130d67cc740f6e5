// Writes: the value goes into data area 2 of the point's poll record, its words or bits are
// marked in data area 3, and the poll control entry's write request count tells the poller
// how many bits wait. nio_sendEx and nio_sendVQT take VARIANTs, arrays included.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "com/bstr.h"
#include "com/safearray.h"
#include "hostlib/host_library.h"
#include "hostlib/point_position.h"
#include "hostlib/signal_conditioning.h"
#include "image/lock_byte.h"

namespace hbt::hostlib {

using namespace hbt::image;

namespace {

constexpr std::uint16_t kWholeWord = 0xFFFF;
constexpr std::int32_t kTextMax = 128;

bool usable(const NioBlock* block) {
  return block != nullptr && block->address != nullptr && block->driver_area != nullptr;
}

// Areas 2 and 3 of the record being written, and the bits this write adds.
struct WriteTarget {
  DataArea values;
  DataArea flags;
  int added_bits = 0;

  // Marks word (or 32-bit value) `i` wholly pending. Bits already pending in it were counted
  // before, so only the rest is added: the poller subtracts 16 for the whole word.
  bool mark_word(std::int64_t i) {
    std::uint16_t flag;
    if (!area_word(flags, i, &flag)) return false;
    if (flag != kWholeWord) added_bits += 16 - std::popcount(flag);
    store(flags.data + 2 * i, kWholeWord);
    return true;
  }
  bool write_word(std::int64_t i, std::uint16_t value) {
    std::uint16_t old;
    if (!area_word(values, i, &old) || !mark_word(i)) return false;
    store(values.data + 2 * i, value);
    return true;
  }
  bool write_bit(std::int64_t i, int bit, bool on) {
    std::uint16_t word, flag;
    if (!area_word(values, i, &word) || !area_word(flags, i, &flag)) return false;
    const auto mask = static_cast<std::uint16_t>(1u << bit);
    store(values.data + 2 * i, static_cast<std::uint16_t>((word & ~mask) | (on ? mask : 0)));
    if ((flag & mask) == 0) ++added_bits;
    store(flags.data + 2 * i, static_cast<std::uint16_t>(flag | mask));
    return true;
  }
  // 32-bit value `j` (registers 2j, 2j + 1 of the record).
  bool write_long(std::int64_t j, std::uint32_t value) {
    if (j < 0 || static_cast<std::size_t>(j) * 4 + 4 > values.size) return false;
    if (!mark_word(j)) return false;
    store(values.data + 4 * j, value);
    return true;
  }
};

// A digital value: a byte or a word holding 0 or 1 (any other non-zero counts as 1); four
// bytes are taken as the float or the raw value they hold.
bool digital_value(const NioValue& v, bool* on) {
  if (v.data == nullptr) return false;
  const auto* d = static_cast<const std::uint8_t*>(v.data);
  switch (v.size) {
    case 1: *on = d[0] != 0; return true;
    case 2: *on = load<std::uint16_t>(d) != 0; return true;
    case 4: *on = v.type == kValueFloat ? load<float>(d) != 0 : load<std::uint32_t>(d) != 0; return true;
    default: return false;
  }
}

// An analog value: a float, or a raw 32-bit integer taken as signed when the record is.
struct AnalogValue {
  bool raw = false;
  std::uint32_t bits = 0;
  float value = 0;
};
bool analog_value(const NioValue& v, DataType dt, AnalogValue* out) {
  if (v.data == nullptr || v.size < 4) return false;
  const auto* d = static_cast<const std::uint8_t*>(v.data);
  if (v.type == kValueRaw32) {
    out->raw = true;
    out->bits = load<std::uint32_t>(d);
    const bool signed_record = dt == DataType::Signed || dt == DataType::Float || dt == DataType::LongSigned;
    out->value = signed_record ? static_cast<float>(static_cast<std::int32_t>(out->bits)) : static_cast<float>(out->bits);
  } else {
    out->value = load<float>(d);
  }
  return true;
}

std::uint32_t long_value(const AnalogValue& a, DataType dt, std::int16_t sigcond, bool* held) {
  const int scale = sigcond == kSigD10 ? 10 : sigcond == kSigD100 ? 100 : 1;
  // Held to the register's range: a value too large for it is sent as its largest value,
  // never as the low bits of a larger number.
  const bool is_signed = dt == DataType::LongSigned;
  const std::int64_t low = is_signed ? std::numeric_limits<std::int32_t>::min() : 0;
  const std::int64_t high = is_signed ? std::int64_t{std::numeric_limits<std::int32_t>::max()}
                                      : std::int64_t{std::numeric_limits<std::uint32_t>::max()};
  std::int64_t n;
  if (a.raw) {
    n = (is_signed ? std::int64_t{static_cast<std::int32_t>(a.bits)} : std::int64_t{a.bits}) * scale;
  } else {
    // Each step rounded to a float, then half away from zero, negative values too.
    const float y = a.value * static_cast<float>(scale);
    if (std::isnan(y)) {
      *held = true;
      return 0;
    }
    n = y >= 9.2e18f ? high : y <= -9.2e18f ? low : static_cast<std::int64_t>(y >= 0 ? std::trunc(y + 0.5f) : std::trunc(y - 0.5f));
  }
  if (n < low || n > high) *held = true;
  return static_cast<std::uint32_t>(n < low ? low : n > high ? high : n);
}

// The result word of a write that was made: kValueOutOfRange tells the caller the value was
// changed to fit, while the status word says the write went through.
NioStatus written(bool changed) { return changed ? kValueOutOfRange : kStatusOk; }

}  // namespace

NioStatus HostLibrary::nio_send(NioStatus* status, NioBlock* block, NioFormat* format, NioValue* value) {
  ImageHold hold = hold_image();
  bool changed = false;
  if (send_point(hold.view(), status, block, format, value, &changed) != kStatusOk) return *status;
  return written(changed);
}

NioStatus HostLibrary::send_point(const ImageView& view, NioStatus* status, NioBlock* block, NioFormat* format,
                                  NioValue* value, bool* changed) {
  *status = kStatusOk;
  if (!usable(block) || format == nullptr) return *status = kStatusBadAddress;
  if (value == nullptr) return *status = kStatusWrongKind;
  value->status = 0;
  const int k = resolve(view, block);
  if (k == kNotFound) return *status = kStatusBadAddress;
  PointPosition p = locate(view, *block->address, k);
  if (!p.valid() || apply_element(&p, format->kind, block->address->element) != kStatusOk)
    return *status = kStatusBadAddress;

  const DataType dt = p.data_type;
  const bool sixteen_bit = dt == DataType::Signed || dt == DataType::Unsigned || dt == DataType::Digital;
  NioStatus result = kStatusOk;
  WriteTarget target{view.area(p.head, kAreaWriteValues), view.area(p.head, kAreaWriteFlags)};
  {
    ByteLock lock(&p.head->lock);
    bool on = false;
    AnalogValue a;
    if (!p.word_device) {
      if (!digital_value(*value, &on)) result = kStatusWrongKind;
      else if (!target.write_bit(p.index / 16, static_cast<int>(p.index % 16), on)) result = kStatusBadAddress;
    } else if (format->kind == kKindAnalog) {
      if (!analog_value(*value, dt, &a)) {
        result = kStatusWrongKind;
      } else if (sixteen_bit) {
        Conditioning c{block->address->sigcond, static_cast<std::uint16_t>(dt), format->egu_low, format->egu_span,
                       format->decimals, block->driver_area->option_low, block->driver_area->option_range};
        RawRegisters regs = condition_write(c, a.value);
        if (regs.clamped) *changed = true;
        if (regs.count == 2 && p.index + 1 >= p.head->length) {
          result = kStatusBadAddress;
        } else {
          for (int i = 0; i < regs.count && result == kStatusOk; ++i)
            if (!target.write_word(p.index + i, regs.r[i])) result = kStatusBadAddress;
        }
      } else if (dt == DataType::Float) {
        if (!target.write_long(p.index / 2, std::bit_cast<std::uint32_t>(a.value))) result = kStatusBadAddress;
      } else if (dt == DataType::LongUnsigned || dt == DataType::LongSigned) {
        if (!target.write_long(p.index / 2, long_value(a, dt, block->address->sigcond, changed)))
          result = kStatusBadAddress;
      } else {
        result = kStatusWrongKind;
      }
    } else if (format->kind == kKindDigital) {
      if (!sixteen_bit || !digital_value(*value, &on)) result = kStatusWrongKind;
      else if (!target.write_bit(p.index, p.bit, on)) result = kStatusBadAddress;
    } else if (format->kind == kKindText) {
      if (!(dt == DataType::Ascii || dt == DataType::Signed || dt == DataType::Unsigned) || value->data == nullptr) {
        result = kStatusWrongKind;
      } else if (target.values.data == nullptr) {
        result = kStatusBadAddress;
      } else {
        const std::int64_t room = static_cast<std::int64_t>(target.values.size) - 2 * p.index;
        std::int64_t n = std::min<std::int64_t>(value->size, room < 0 ? 0 : room);
        // The record has no room for the rest: a change of the text unless the rest was padding.
        const auto* bytes = static_cast<const std::uint8_t*>(value->data);
        if (std::any_of(bytes + n, bytes + value->size, [](std::uint8_t b) { return b != 0; })) *changed = true;
        std::memcpy(target.values.data + 2 * p.index, value->data, static_cast<std::size_t>(n));
        if (n % 2 == 1) target.values.data[2 * p.index + n++] = 0;  // room is even, so this fits
        for (std::int64_t j = 0; j < n / 2 && result == kStatusOk; ++j)
          if (!target.mark_word(p.index + j)) result = kStatusBadAddress;
      }
    }
  }
  if (result != kStatusOk) return *status = result;
  ByteLock lock(&p.control->lock);
  const int pending = p.control->write_request_count + target.added_bits;
  p.control->write_request_count = static_cast<std::uint16_t>(pending > 0xFFFF ? 0xFFFF : pending);
  p.control->access_countdown = p.head->access_time;
  p.control->access_expired = 0;
  return kStatusOk;
}

NioStatus HostLibrary::nio_sendEx(NioStatus* status, NioBlock* block, NioFormat* format, std::int32_t count,
                                  com::VARIANT* value) {
  return send_variant(status, block, format, count, value, false);
}

NioStatus HostLibrary::nio_sendVQT(NioStatus* status, NioBlock* block, NioFormat* format, std::int32_t count,
                                   com::VARIANT* value) {
  return send_variant(status, block, format, count, value, true);
}

NioStatus HostLibrary::send_variant(NioStatus* status, NioBlock* block, NioFormat* format, std::int32_t count,
                                    com::VARIANT* variant, bool vqt) {
  *status = kStatusOk;
  if (!usable(block) || format == nullptr) return *status = kStatusBadAddress;
  if (variant == nullptr) return *status = kStatusBadRequest;
  if (variant->vt & (com::VT_ARRAY | com::VT_VECTOR)) return send_array(status, block, format, count, variant);

  std::uint8_t data[kTextMax + 1] = {};
  NioValue value{0, 0, 0, data};
  bool changed = false;
  com::VARIANT converted;
  com::VariantInit(&converted);
  switch (format->kind) {
    case kKindAnalog:
      if (variant->vt == com::VT_UI4) {
        value.type = kValueRaw32;
        store(data, variant->ulVal);
      } else {
        if (com::FAILED(com::VariantChangeType(&converted, variant, 0, com::VT_R4))) return *status = kStatusWrongKind;
        value.type = kValueFloat;
        store(data, converted.fltVal);
      }
      value.size = 4;
      break;
    case kKindDigital:
      if (com::FAILED(com::VariantChangeType(&converted, variant, 0, com::VT_BOOL))) {
        if (!vqt) return *status = kStatusWrongKind;
        converted.boolVal = com::VARIANT_FALSE;  // nio_sendVQT writes 0 for what it cannot read
      }
      value.type = kValueDigital;
      value.size = 1;
      data[0] = converted.boolVal != 0 ? 1 : 0;
      break;
    case kKindText: {
      if (vqt) return *status = kStatusBadRequest;
      if (count >= kTextMax || count < 0) return *status = kStatusBadAddress;
      if (com::FAILED(com::VariantChangeType(&converted, variant, 0, com::VT_BSTR))) return *status = kStatusWrongKind;
      const std::u16string_view text = com::bstr_view(converted.bstrVal);
      const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), text.size());
      if (n < text.size()) changed = true;  // longer than the item's text
      for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>(text[i] & 0xFF);
      data[n] = 0;
      com::VariantClear(&converted);
      value.type = kValueText;
      value.size = static_cast<std::uint8_t>(count & 0xFF);
      break;
    }
    default:
      return *status = kStatusBadRequest;
  }
  std::lock_guard critical(critical_section_);
  ImageHold hold = hold_image();
  if (send_point(hold.view(), status, block, format, &value, &changed) != kStatusOk) return *status;
  return written(changed);
}

NioStatus HostLibrary::send_array(NioStatus* status, NioBlock* block, NioFormat* format, std::int32_t count,
                                  com::VARIANT* variant) {
  const bool byref = (variant->vt & com::VT_BYREF) != 0;
  com::SAFEARRAY* array = byref ? (variant->pparray ? *variant->pparray : nullptr) : variant->parray;
  com::LONG upper = 0;
  if (array == nullptr || count < 1 || com::FAILED(com::SafeArrayGetUBound(array, 1, &upper)) ||
      std::int64_t{count} != std::int64_t{upper} + 1)
    return *status = kStatusBadRequest;
  if (format->kind == kKindText) return *status = kStatusBadAddress;
  if (format->kind != kKindAnalog && format->kind != kKindDigital) return *status = kStatusBadRequest;
  if (count > 65536) return *status = kStatusBadRequest;  // the element index is 16 bits

  const com::VARTYPE element_type = variant->vt & com::VT_TYPEMASK;
  const bool analog = format->kind == kKindAnalog;
  std::lock_guard critical(critical_section_);
  ImageHold hold = hold_image();
  bool changed = false;
  for (std::int32_t i = 0; i < count; ++i) {
    alignas(com::VARIANT) std::uint8_t raw[sizeof(com::VARIANT)] = {};
    com::LONG index = i;
    if (com::FAILED(com::SafeArrayGetElement(array, &index, raw))) {
      *status = kStatusBadRequest;
      break;
    }
    std::uint8_t data[4] = {};
    NioValue value{analog ? kValueFloat : kValueDigital, static_cast<std::uint8_t>(analog ? 4 : 1), 0, data};
    bool converted = true;
    auto put_float = [&](float f) { store(data, f); };
    switch (element_type) {
      case com::VT_I2:
      case com::VT_UI2:
      case com::VT_BOOL:
        if (analog && element_type != com::VT_BOOL) put_float(load<std::uint16_t>(raw));
        else if (analog) put_float(load<std::uint16_t>(raw) != 0 ? 1.0f : 0.0f);
        else data[0] = load<std::uint16_t>(raw) != 0;
        break;
      case com::VT_I4:
      case com::VT_UI4:
      case com::VT_INT:
        if (analog) {
          value.type = kValueRaw32;
          std::memcpy(data, raw, 4);
        } else {
          data[0] = load<std::uint32_t>(raw) != 0;
        }
        break;
      case com::VT_R8:
        if (analog) put_float(static_cast<float>(load<double>(raw)));
        else data[0] = load<double>(raw) != 0;
        break;
      case com::VT_I1:
      case com::VT_UI1:
        if (analog) put_float(raw[0]);
        else data[0] = raw[0] != 0;
        break;
      case com::VT_BSTR:
      case com::VT_VARIANT: {
        // Strings and variants are converted, not reinterpreted; their copies are freed here.
        com::VARIANT source, target;
        com::VariantInit(&source);
        com::VariantInit(&target);
        if (element_type == com::VT_BSTR) {
          source.vt = com::VT_BSTR;
          std::memcpy(&source.bstrVal, raw, sizeof source.bstrVal);
        } else {
          std::memcpy(&source, raw, sizeof source);
        }
        converted = com::SUCCEEDED(com::VariantChangeType(&target, &source, 0, analog ? com::VT_R4 : com::VT_BOOL));
        if (converted && analog) put_float(target.fltVal);
        if (converted && !analog) data[0] = target.boolVal != 0;
        com::VariantClear(&source);
        com::VariantClear(&target);
        break;
      }
      case com::VT_R4:
      default:
        if (analog) std::memcpy(data, raw, 4);
        else if (element_type == com::VT_R4) data[0] = load<float>(raw) != 0;  // NaN counts as non-zero
        else data[0] = raw[0];
        break;
    }
    if (!converted) {
      *status = kStatusWrongKind;
      break;
    }
    block->address->element = static_cast<std::uint16_t>(i);
    send_point(hold.view(), status, block, format, &value, &changed);
  }
  block->address->element = 0;
  if (*status != kStatusOk) return *status;
  return written(changed);
}

}  // namespace hbt::hostlib
