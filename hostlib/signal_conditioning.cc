#include "hostlib/signal_conditioning.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace hbt::hostlib {

const SigCondEntry kSigCondTable[kSigCondCount] = {
    {1, "NONE", kSigNone}, {2, "LIN", kSigLin},     {1, "3BCD", kSig3Bcd},  {1, "4BCD", kSig4Bcd},
    {3, "12BN", kSig12Bn}, {3, "12AL", kSig12Al},   {3, "15BN", kSig15Bn},  {3, "15AL", kSig15Al},
    {4, "LV12", kSigLv12}, {4, "LV15", kSigLv15},   {4, "SQ12", kSigSq12},  {4, "SQ15", kSigSq15},
    {2, "PROP", kSigProp}, {2, "ROOT", kSigRoot},   {2, "UINT", kSigUint},  {2, "SINT", kSigSint},
    {1, "S&M", kSigShiftMask}, {4, "D10", kSigD10}, {4, "D100", kSigD100},  {2, "FLT", kSigFlt},
    {2, "PHEX", kSigPhex}, {2, "RHEX", kSigRhex},   {2, "LONG", kSigLong},  {2, "ULNG", kSigUlng},
    {2, "LD10", kSigLd10}, {2, "L100", kSigL100},
};

namespace {

// Truncation toward zero into a wide integer; NaN gives 0 and the infinities the limits, so
// that no conversion is undefined.
std::int64_t trunc_int(float y) {
  if (std::isnan(y)) return 0;
  if (y >= 9.2e18f) return std::numeric_limits<std::int64_t>::max();
  if (y <= -9.2e18f) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(y);
}

float nearest(float y) { return y >= 0 ? std::trunc(y + 0.5f) : std::trunc(y - 0.5f); }

std::int64_t clamp(std::int64_t n, std::int64_t low, std::int64_t high) { return n < low ? low : n > high ? high : n; }

// y rounded half away from zero, saturated to 64 bits.
std::int64_t rounded(float y) { return trunc_int(nearest(y)); }

// The raw value offset + y rounded, held to low..high; the rounded count is limited before
// the offset is added, so that a huge y cannot overflow into the other end of the range.
// `*held` is set when y was outside the range (or not a number).
std::int64_t counts(float y, std::int64_t offset, std::int64_t low, std::int64_t high, bool* held) {
  const std::int64_t n = rounded(y);
  const std::int64_t kept = clamp(n, low - offset, high - offset);
  if (kept != n || std::isnan(y)) *held = true;
  return kept + offset;
}

std::uint16_t low16(std::int64_t n) { return static_cast<std::uint16_t>(static_cast<std::uint64_t>(n) & 0xFFFF); }

std::int32_t saturate32(std::int64_t n, bool* held) {
  const std::int64_t kept = clamp(n, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max());
  if (kept != n) *held = true;
  return static_cast<std::int32_t>(kept);
}

RawRegisters halves(std::uint32_t n) {
  RawRegisters out;
  out.r[0] = static_cast<std::uint16_t>(n & 0xFFFF);
  out.r[1] = static_cast<std::uint16_t>(n >> 16);
  out.count = 2;
  return out;
}

RawRegisters one(std::uint16_t r) {
  RawRegisters out;
  out.r[0] = r;
  return out;
}

float power_of_ten(int d) {
  if (d > 9) d = 9;
  if (d < -9) d = -9;
  return static_cast<float>(std::pow(10.0, d));
}

// Digits of y (0..limit) into the low nibbles, least significant first.
std::uint16_t bcd(float y, int digits, float limit, bool* held) {
  // Rounding is the truncation of the digits; only what lies outside the digits is held.
  if (!(y > -1.0f && y < limit + 1.0f)) *held = true;
  if (!(y >= 0)) y = 0;  // also NaN
  if (y > limit) y = limit;
  std::uint16_t out = 0;
  float divisor = 1;
  for (int i = 0; i < digits; ++i) {
    auto digit = static_cast<std::uint16_t>(trunc_int(y / divisor) % 10);
    out = static_cast<std::uint16_t>(out | digit << (4 * i));
    divisor *= 10;
  }
  return out;
}

// strtol-like leading number of the option text, in base 10 or 16 (with an optional 0x),
// limited to 32 bits.
std::int64_t leading_number(const char* s, int base) {
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = *s++ == '-';
  if (base == 16 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s += 2;
  std::int64_t value = 0;
  for (;; ++s) {
    int d = (*s >= '0' && *s <= '9') ? *s - '0'
            : (base == 16 && *s >= 'a' && *s <= 'f') ? *s - 'a' + 10
            : (base == 16 && *s >= 'A' && *s <= 'F') ? *s - 'A' + 10
                                                    : -1;
    if (d < 0) break;
    if (value <= std::numeric_limits<std::uint32_t>::max()) value = value * base + d;
  }
  return negative ? -value : value;
}

}  // namespace

bool two_registers(std::int16_t code) {
  return code == kSigFlt || code == kSigLong || code == kSigUlng || code == kSigLd10 || code == kSigL100;
}

Reading condition_read(const Conditioning& c, std::uint16_t r0, std::uint16_t r1) {
  const bool signed_record = c.data_type == 1;
  const float lo = c.egu_low, s = c.egu_span;
  const float ilo = c.option_low, irng = c.option_range;
  const std::uint32_t both = std::uint32_t{r1} << 16 | r0;
  Reading out;
  float x = 0;
  switch (c.code) {
    case kSigNone:
      out.value = signed_record ? static_cast<float>(static_cast<std::int16_t>(r0)) : static_cast<float>(r0);
      return out;
    case kSig3Bcd:
    case kSig4Bcd: {
      const int digits = c.code == kSig3Bcd ? 3 : 4;
      int value = 0, scale = 1;
      for (int i = 0; i < digits; ++i, scale *= 10) {
        int nibble = (r0 >> (4 * i)) & 0xF;
        if (nibble > 9) out.value_status = kValueOutOfRange;
        value += nibble * scale;
      }
      x = static_cast<float>(value) / (digits == 3 ? 999.0f : 9999.0f);
      break;
    }
    case kSig12Bn:
    case kSig12Al:
      x = static_cast<float>(r0) / 4095.0f;
      if (c.code == kSig12Al && r0 > 4095) out.value_status = kValueOutOfRange;
      break;
    case kSig15Bn:
    case kSig15Al:
      x = static_cast<float>(r0) / 32767.0f;
      if (c.code == kSig15Al && r0 > 32767) out.value_status = kValueOutOfRange;
      break;
    case kSigLin: {
      std::uint16_t u = signed_record ? static_cast<std::uint16_t>(r0 + 0x8000) : r0;
      x = static_cast<float>(u) / 65535.0f;
      float v = x * s + lo;
      float p = power_of_ten(c.decimals);
      out.value = nearest(v * p) / p;
      return out;
    }
    case kSigLv12: x = (static_cast<float>(r0) - 819.0f) / 3276.0f; break;
    case kSigLv15: x = (static_cast<float>(r0) - 6553.0f) / 26214.0f; break;
    case kSigSq12: x = std::sqrt(static_cast<float>(r0 & 0xFFF) / 4095.0f); break;
    case kSigSq15: x = std::sqrt(static_cast<float>(r0 & 0x7FFF) / 32767.0f); break;
    case kSigProp:
    case kSigPhex: {
      float r = signed_record ? static_cast<float>(static_cast<std::int16_t>(r0)) : static_cast<float>(r0);
      if (c.option_range == 0) {  // no raw range: nothing to scale against
        out.value_status = kValueOutOfRange;
        x = 0;
      } else {
        x = (r - ilo) / irng;
      }
      break;
    }
    case kSigRoot:
    case kSigRhex: {
      float q = c.option_range == 0 ? -1.0f : (static_cast<float>(r0) - ilo) / irng;
      if (q < 0) {  // below the raw low: the root has no value
        out.value_status = kValueOutOfRange;
        q = 0;
      }
      x = std::sqrt(q);
      break;
    }
    case kSigSint: out.value = static_cast<std::int16_t>(r0); return out;
    case kSigUint: out.value = r0; return out;
    case kSigShiftMask: {
      unsigned shift = static_cast<std::uint16_t>(c.option_low) & 0xFF;
      out.value = static_cast<float>((shift >= 16 ? 0u : unsigned{r0} >> shift) & c.option_range);
      return out;
    }
    case kSigD10: out.value = static_cast<float>(r0) / 10.0f; return out;
    case kSigD100: out.value = static_cast<float>(r0) / 100.0f; return out;
    case kSigFlt: out.value = std::bit_cast<float>(both); return out;
    case kSigLong: out.value = static_cast<float>(static_cast<std::int32_t>(both)); return out;
    case kSigUlng: out.value = static_cast<float>(both); return out;
    case kSigLd10: out.value = static_cast<float>(static_cast<std::int32_t>(both)) / 10.0f; return out;
    case kSigL100: out.value = static_cast<float>(static_cast<std::int32_t>(both)) / 100.0f; return out;
    default: out.value = r0; return out;
  }
  out.value = x * s + lo;
  return out;
}

namespace {

RawRegisters condition_write_raw(const Conditioning& c, float v, bool* held) {
  const float lo = c.egu_low, s = c.egu_span;
  const std::int64_t ilo = c.option_low, irng = c.option_range;
  const float x = (v - lo) / s;
  // Every raw value is saturated at the ends of its range before it is cut to a register, so
  // that no value sent, however large, wraps around into the range.
  const bool signed_record = c.data_type == 1;
  const std::int64_t word_low = signed_record ? -32768 : 0, word_high = signed_record ? 32767 : 65535;
  switch (c.code) {
    case kSig3Bcd: return one(bcd(x * 999.0f, 3, 999.0f, held));
    case kSig4Bcd: return one(bcd(x * 9999.0f, 4, 9999.0f, held));
    case kSig12Bn:
    case kSig12Al: return one(low16(counts(x * 4095.0f, 0, 0, 4095, held)));
    case kSig15Bn:
    case kSig15Al: return one(low16(counts(x * 32767.0f, 0, 0, 32767, held)));
    case kSigLin: {
      std::int64_t n = counts(x * 65535.0f, 0, 0, 65535, held);
      return one(low16(signed_record ? n - 0x8000 : n));
    }
    case kSigLv12: return one(low16(counts(x * 3276.0f, 819, 819, 4095, held)));
    case kSigLv15: return one(low16(counts(x * 26214.0f, 6553, 6553, 32767, held)));
    // The square laws are not clamped below; above, they stop at the top of the range.
    case kSigSq12: return one(low16(counts(x * x * 3276.0f, 819, 819, 4095, held)));
    case kSigSq15: return one(low16(counts(x * x * 26214.0f, 6553, 6553, 32767, held)));
    case kSigProp:
    case kSigPhex: return one(low16(counts(x * static_cast<float>(irng), ilo, ilo, ilo + irng, held)));
    case kSigRoot:
    case kSigRhex: return one(low16(counts(x * x * static_cast<float>(irng), ilo, ilo, ilo + irng, held)));
    case kSigShiftMask: {
      unsigned shift = static_cast<std::uint16_t>(c.option_low) & 0xFF;
      std::int64_t whole = trunc_int(v);
      std::int64_t masked = whole & irng;
      std::uint16_t r = shift >= 16 ? 0 : low16(masked << shift);
      // What the register gives back is all the value that was written.
      if ((shift >= 16 ? 0 : (std::int64_t{r} >> shift) & irng) != whole) *held = true;
      return one(r);
    }
    case kSigSint: return one(low16(counts(v, 0, -32768, 32767, held)));
    case kSigD10: return one(low16(counts(v * 10.0f, 0, 0, 65535, held)));
    case kSigD100: return one(low16(counts(v * 100.0f, 0, 0, 65535, held)));
    case kSigFlt: return halves(std::bit_cast<std::uint32_t>(v));
    case kSigLong: return halves(static_cast<std::uint32_t>(saturate32(trunc_int(v), held)));
    case kSigUlng: return halves(static_cast<std::uint32_t>(counts(v, 0, 0, 0xFFFFFFFF, held)));
    case kSigLd10: return halves(static_cast<std::uint32_t>(saturate32(rounded(v * 10.0f), held)));
    case kSigL100: return halves(static_cast<std::uint32_t>(saturate32(rounded(v * 100.0f), held)));
    case kSigNone: return one(low16(counts(v, 0, word_low, word_high, held)));
    default:  // UINT and codes not in the table read the register unsigned
      return one(low16(counts(v, 0, 0, 65535, held)));
  }
}

}  // namespace

RawRegisters condition_write(const Conditioning& c, float v) {
  bool held = false;
  RawRegisters out = condition_write_raw(c, v, &held);
  out.clamped = held;
  return out;
}

std::int16_t find_sig_cond(const char* text) {
  if (text == nullptr) return kSigUnknown;
  for (const SigCondEntry& e : kSigCondTable)
    if (std::strncmp(text, e.name, static_cast<std::size_t>(e.match_length)) == 0) return e.code;
  return kSigUnknown;
}

const char* sig_cond_name(std::int16_t code) {
  for (const SigCondEntry& e : kSigCondTable)
    if (e.code == code) return e.name;
  return "*?*";
}

std::uint32_t sig_cond_names_size() {
  std::uint32_t n = 0;
  for (const SigCondEntry& e : kSigCondTable) n += static_cast<std::uint32_t>(std::strlen(e.name)) + 1;
  return n;
}

void parse_options(std::int16_t code, const char* text, std::int16_t* option_low, std::uint16_t* option_range) {
  std::size_t length = std::strlen(text);
  // The high number follows the first ':' among characters 1..8, else it starts at 10.
  const char* second = length > 10 ? text + 10 : text + length;
  for (std::size_t i = 1; i <= 8 && i < length; ++i) {
    if (text[i] == ':') {
      second = text + i + 1;
      break;
    }
  }
  const int base = (code == kSigPhex || code == kSigRhex) ? 16 : 10;
  std::int64_t low = leading_number(text, base);
  std::int64_t high = leading_number(second, base);
  *option_low = static_cast<std::int16_t>(low16(low));
  *option_range = code == kSigShiftMask ? low16(high) : low16(high - low);
}

void format_options(std::int16_t code, std::int16_t option_low, std::uint16_t option_range, char* out,
                    std::size_t size) {
  if (size == 0) return;
  const auto high = static_cast<std::uint16_t>(static_cast<std::uint16_t>(option_low) + option_range);
  switch (code) {
    case kSigProp:
    case kSigRoot:
      std::snprintf(out, size, "%d:%d", option_low, static_cast<std::int16_t>(high));
      break;
    case kSigShiftMask:
      std::snprintf(out, size, "%d:%d", option_low, option_range);
      break;
    case kSigPhex:
    case kSigRhex:
      std::snprintf(out, size, "%X:%X", static_cast<std::uint16_t>(option_low), high);
      break;
    default:
      out[0] = '\0';
  }
}

}  // namespace hbt::hostlib
