#include "poller/convert.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace hbt::poller {

using namespace hbt::image;

namespace {

int hex_digit(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Four hexadecimal characters, most significant first (caller checked them).
std::uint16_t hex16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((hex_digit(p[0]) << 12) | (hex_digit(p[1]) << 8) | (hex_digit(p[2]) << 4) |
                                    hex_digit(p[3]));
}

bool is_known_type(std::uint16_t t) { return t <= 4 || t == 6 || t == 7; }
bool is_wide(std::uint16_t t) {
  return t == static_cast<std::uint16_t>(DataType::Float) || t == static_cast<std::uint16_t>(DataType::LongUnsigned) ||
         t == static_cast<std::uint16_t>(DataType::LongSigned);
}
bool is_word_value(std::uint16_t t) {
  return t == static_cast<std::uint16_t>(DataType::Signed) || t == static_cast<std::uint16_t>(DataType::Unsigned) ||
         t == static_cast<std::uint16_t>(DataType::Digital);
}

// A float that is a number: its exponent is neither all ones nor all zeros, or it is zero.
bool is_regular(std::uint32_t bits) {
  const std::uint32_t exponent = (bits >> 23) & 0xFF;
  return (exponent != 0xFF && exponent != 0) || (bits & 0x7FFFFFFF) == 0;
}

bool entry_takes_no_flag(const ExceptionTable& t, std::size_t e) { return t.id(e) == 0 || t.changed(e) != 0; }

void flag(ExceptionTable& t, std::size_t e, int& flagged) {
  t.set_changed(e);
  ++flagged;
}

enum class Comparison { kNone, kDigital, kAnalog, kFloat, kLong, kText };

Comparison comparison_for(const ConversionSpec& plan) {
  if (plan.exception_type == static_cast<std::uint8_t>(ExceptionType::Disabled)) return Comparison::kNone;
  const std::uint16_t t = plan.data_type;
  if (is_word_value(t)) {
    if (!is_word_device(plan.register_type) ||
        plan.exception_type == static_cast<std::uint8_t>(ExceptionType::Digital))
      return Comparison::kDigital;
    return Comparison::kAnalog;
  }
  if (t == static_cast<std::uint16_t>(DataType::Float)) return Comparison::kFloat;
  if (is_wide(t)) return Comparison::kLong;
  return Comparison::kText;
}

// Where value i comes from in the reply, and how it is decoded.
struct Source {
  std::size_t size = 2;   // bytes or characters per value
  bool partial = false;   // a value may be cut short by the end of the data (bit units)
};

Source source_for(const ConversionSpec& plan) {
  const bool wide = is_wide(plan.data_type);
  if (plan.bit_units && is_word_value(plan.data_type)) return {plan.ascii ? 16u : 8u, true};
  if (plan.ascii) return {wide ? 8u : 4u, false};
  return {wide ? 4u : 2u, false};
}

bool valid_characters(const ConversionSpec& plan, const Source& src, std::span<const std::uint8_t> data,
                      std::size_t count) {
  if (!plan.ascii) return true;
  const std::size_t end = std::min(data.size(), count * src.size);
  for (std::size_t i = 0; i < end; ++i) {
    const std::uint8_t c = data[i];
    if (src.partial ? (c != '0' && c != '1') : hex_digit(c) < 0) return false;
  }
  return true;
}

std::uint32_t decode(const ConversionSpec& plan, const Source& src, std::span<const std::uint8_t> data,
                     std::size_t i) {
  const std::uint8_t* p = data.data() + i * src.size;
  if (src.partial) {
    const std::size_t n = std::min(src.size, data.size() - i * src.size);
    std::uint32_t word = 0;
    if (plan.ascii) {
      for (std::size_t k = 0; k < n; ++k)
        if (p[k] == '1') word |= 1u << k;
    } else {
      // Two points per byte: bit 4 is the earlier point, bit 0 the later one.
      for (std::size_t k = 0; k < n; ++k) {
        if (p[k] & 0x10) word |= 1u << (2 * k);
        if (p[k] & 0x01) word |= 1u << (2 * k + 1);
      }
    }
    return word;
  }
  if (plan.ascii) {
    if (src.size == 8) return (std::uint32_t{hex16(p + 4)} << 16) | hex16(p);
    return hex16(p);
  }
  return src.size == 4 ? load32(p) : load16(p);
}

}  // namespace

ConversionSpec conversion_spec(const PollRecordHead& head, bool ascii, bool bit_units) {
  ConversionSpec plan;
  plan.register_type = address_register_type(head.address_word);
  plan.exception_type = head.exception_type;
  plan.data_type = head.data_type;
  plan.dead_band_int = head.dead_band_int;
  plan.dead_band = head.dead_band;
  plan.ascii = ascii;
  plan.bit_units = bit_units;
  return plan;
}

int compare_digital(std::uint16_t now, std::uint16_t old, ExceptionTable& exceptions, std::size_t entry) {
  std::uint16_t changed = now ^ old;
  int flagged = 0;
  for (int k = 0; changed != 0; ++k, changed >>= 1)
    if (changed & 1) flagged += exceptions.flag_if_registered(entry + static_cast<std::size_t>(k));
  return flagged;
}

bool compare_analog(std::uint16_t now, std::uint16_t old, bool is_signed, std::uint16_t dead_band,
                    ExceptionTable& exceptions, std::size_t entry, int& flagged) {
  if (entry_takes_no_flag(exceptions, entry)) return true;
  bool exceeds;
  if (dead_band == 0) {
    exceeds = now != old;
  } else {
    const int difference = is_signed ? static_cast<std::int16_t>(now) - static_cast<std::int16_t>(old)
                                     : static_cast<int>(now) - static_cast<int>(old);
    exceeds = std::abs(difference) >= dead_band;
  }
  if (exceeds) flag(exceptions, entry, flagged);
  return exceeds;
}

bool compare_float(std::uint32_t now, std::uint32_t old, float dead_band, ExceptionTable& exceptions,
                   std::size_t entry, int& flagged) {
  if (entry_takes_no_flag(exceptions, entry)) return true;
  const bool now_regular = is_regular(now), old_regular = is_regular(old);
  if (now_regular != old_regular) return true;
  if (!now_regular) return false;
  const float a = float_from_bits(now), b = float_from_bits(old);
  const bool exceeds = dead_band > 0 ? std::fabs(static_cast<double>(a) - b) >= dead_band : a != b;
  if (exceeds) flag(exceptions, entry, flagged);
  return exceeds;
}

bool compare_long(std::uint32_t now, std::uint32_t old, bool is_signed, float dead_band,
                  ExceptionTable& exceptions, std::size_t entry, int& flagged) {
  if (entry_takes_no_flag(exceptions, entry)) return true;
  bool exceeds;
  if (dead_band > 0) {
    const std::int64_t difference =
        is_signed ? std::int64_t{static_cast<std::int32_t>(now)} - static_cast<std::int32_t>(old)
                  : std::int64_t{now} - std::int64_t{old};
    exceeds = static_cast<double>(difference < 0 ? -difference : difference) >= dead_band;
  } else {
    exceeds = now != old;
  }
  if (exceeds) flag(exceptions, entry, flagged);
  return exceeds;
}

bool compare_text(std::uint16_t now, std::uint16_t old, ExceptionTable& exceptions, std::size_t entry,
                  TextState& text, int& flagged) {
  const std::uint16_t group = exceptions.group(entry);
  if (exceptions.id(entry) == 0 && group == 0) return true;
  if (group != kGroupContinuation) text.leader = entry;
  const std::size_t leader = text.leader;
  if (exceptions.changed(leader) != 0) return true;
  if (now == old) return false;
  // One pending flag per text item, on its first entry.
  if (leader < exceptions.size()) flag(exceptions, leader, flagged);
  return true;
}

ConversionResult convert_reply(const ConversionSpec& plan, std::span<const std::uint8_t> data,
                               std::span<std::uint8_t> values, ExceptionTable& exceptions) {
  ConversionResult result;
  const std::uint16_t type = plan.data_type;
  if (!is_known_type(type)) {
    const std::size_t n = std::min(values.size(), data.size());
    if (n > 0) std::memcpy(values.data(), data.data(), n);
    return result;
  }
  const int area = static_cast<int>(values.size());
  std::size_t count;
  if (type == static_cast<std::uint16_t>(DataType::Ascii))
    count = static_cast<std::size_t>((area - 1) / 2 + 1);
  else if (is_wide(type))
    count = static_cast<std::size_t>((area - 1) / 4 + 1);
  else
    count = static_cast<std::size_t>(area / 2);
  const std::size_t width = is_wide(type) ? 4 : 2;
  const Source src = source_for(plan);
  const std::size_t available = src.partial ? (data.size() + src.size - 1) / src.size : data.size() / src.size;
  count = std::min({count, values.size() / width, available});
  if (!valid_characters(plan, src, data, count)) {
    result.ok = false;
    return result;
  }

  const Comparison comparison = comparison_for(plan);
  const bool is_signed = type == static_cast<std::uint16_t>(DataType::Signed) ||
                         type == static_cast<std::uint16_t>(DataType::LongSigned);
  std::size_t entry = 0;
  TextState text;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t* slot = values.data() + i * width;
    const std::uint32_t now = decode(plan, src, data, i);
    const std::uint32_t old = width == 4 ? load32(slot) : load16(slot);
    bool store = true;
    switch (comparison) {
      case Comparison::kNone:
        break;
      case Comparison::kDigital:
        store = now != old;
        result.flagged += compare_digital(static_cast<std::uint16_t>(now), static_cast<std::uint16_t>(old),
                                          exceptions, entry);
        entry += 16;
        break;
      case Comparison::kAnalog:
        store = compare_analog(static_cast<std::uint16_t>(now), static_cast<std::uint16_t>(old), is_signed,
                               plan.dead_band_int, exceptions, entry++, result.flagged);
        break;
      case Comparison::kFloat:
        store = compare_float(now, old, plan.dead_band, exceptions, entry++, result.flagged);
        break;
      case Comparison::kLong:
        store = compare_long(now, old, is_signed, plan.dead_band, exceptions, entry++, result.flagged);
        break;
      case Comparison::kText:
        store = compare_text(static_cast<std::uint16_t>(now), static_cast<std::uint16_t>(old), exceptions,
                             entry++, text, result.flagged);
        break;
    }
    if (!store) continue;
    if (width == 4)
      store32(slot, now);
    else
      store16(slot, static_cast<std::uint16_t>(now));
  }
  return result;
}

}  // namespace hbt::poller
