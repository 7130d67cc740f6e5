// Writes through every signal conditioning, with random engineering ranges, hardware options
// and values from tiny to huge: the raw value sent always lies inside the conditioning's raw
// range, stops at the end of that range for values beyond it, and follows the value in
// order. A value that wraps around (a huge value written as the low end) breaks all three.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostlib/signal_conditioning.h"

namespace hbt::hostlib {
namespace {

// What a conditioning writes, as an integer on the scale of its raw range.
struct RawRange {
  std::int64_t low, high;
  bool square = false;     // follows x squared: both directions lead to the top
  bool by_value = false;   // follows the value itself, not the normalised x
};

bool signed_record(const Conditioning& c) { return c.data_type == 1; }

// The range of each conditioning, or none for those without one (BCD digits, FLT bits, S&M).
std::optional<RawRange> range_of(const Conditioning& c) {
  const std::int64_t ilo = c.option_low, irng = c.option_range;
  switch (c.code) {
    case kSig12Bn: case kSig12Al: return RawRange{0, 4095};
    case kSig15Bn: case kSig15Al: return RawRange{0, 32767};
    case kSigLin: return signed_record(c) ? RawRange{-32768, 32767} : RawRange{0, 65535};
    case kSigLv12: return RawRange{819, 4095};
    case kSigLv15: return RawRange{6553, 32767};
    case kSigSq12: return RawRange{819, 4095, true};
    case kSigSq15: return RawRange{6553, 32767, true};
    case kSigProp: case kSigPhex: return RawRange{ilo, ilo + irng};
    case kSigRoot: case kSigRhex: return RawRange{ilo, ilo + irng, true};
    case kSigSint: return RawRange{-32768, 32767, false, true};
    case kSigNone: return signed_record(c) ? RawRange{-32768, 32767, false, true} : RawRange{0, 65535, false, true};
    case kSigD10: case kSigD100: return RawRange{0, 65535, false, true};
    case kSigLong: case kSigLd10: case kSigL100:
      return RawRange{std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), false, true};
    case kSigUlng: return RawRange{0, std::numeric_limits<std::uint32_t>::max(), false, true};
    case kSig3Bcd: case kSig4Bcd: case kSigFlt: case kSigShiftMask: return std::nullopt;
    default: return RawRange{0, 65535, false, true};  // UINT and unknown codes
  }
}

// The registers written, read back as an integer of the range's scale.
std::int64_t as_integer(const RawRegisters& raw, const RawRange& range) {
  if (raw.count == 2) {
    const std::uint32_t both = std::uint32_t{raw.r[1]} << 16 | raw.r[0];
    return range.low < 0 ? std::int64_t{static_cast<std::int32_t>(both)} : std::int64_t{both};
  }
  // A 16-bit register holds its range modulo 2^16: take the member of the range it stands for.
  const std::int64_t r = raw.r[0];
  return range.low + ((r - range.low) % 65536 + 65536) % 65536;
}

struct Case {
  Conditioning c;
  float v;
  std::string describe() const {
    std::ostringstream o;
    o << "code " << c.code << " type " << c.data_type << " EGU " << c.egu_low << " + " << c.egu_span << " options "
      << c.option_low << ":" << c.option_range << " value " << v;
    return o.str();
  }
};

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}

  Conditioning conditioning() {
    static const std::int16_t codes[] = {kSigNone, kSig3Bcd, kSig4Bcd, kSig12Bn, kSig12Al, kSig15Bn, kSig15Al,
                                         kSigLin,  kSigLv12, kSigLv15, kSigSq12, kSigSq15, kSigSint, kSigUint,
                                         kSigFlt,  kSigProp, kSigRoot, kSigShiftMask, kSigD10, kSigD100, kSigPhex,
                                         kSigRhex, kSigLong, kSigUlng, kSigLd10, kSigL100, kSigUnknown, 99};
    Conditioning c;
    c.code = codes[pick(std::size(codes))];
    static const std::uint16_t types[] = {1, 2, 4};
    c.data_type = types[pick(3)];
    c.egu_low = pick(4) == 0 ? 0.0f : uniform(-1e4, 1e4);
    const float magnitude = std::pow(10.0f, uniform(-3, 6));
    c.egu_span = pick(8) == 0 ? -magnitude : magnitude;
    c.option_low = static_cast<std::int16_t>(pick(4) == 0 ? 0 : static_cast<int>(pick(65536)) - 32768);
    c.option_range = static_cast<std::uint16_t>(pick(4) == 0 ? pick(1000) : pick(65536));
    return c;
  }

  float value(const Conditioning& c) {
    switch (pick(6)) {
      case 0: {
        static const float extremes[] = {1e19f, -1e19f, 1e30f, -1e30f, 1e6f, -1e6f, 3e38f, -3e38f,
                                         std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                                         0.0f, -0.0f, 1e-30f, -1e-30f, 5e9f, -5e9f, 70000.0f, -70000.0f};
        return extremes[pick(std::size(extremes))];
      }
      case 1: return c.egu_low;
      case 2: return c.egu_low + c.egu_span;
      case 3: return uniform(-1e5, 1e5);
      default: return c.egu_low + c.egu_span * uniform(-2, 3);
    }
  }

  float uniform(double low, double high) { return static_cast<float>(std::uniform_real_distribution<double>(low, high)(rng_)); }
  std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

 private:
  std::mt19937 rng_;
};

// x, or the value itself for the conditionings without EGU scaling, as the write sees it.
double driving_quantity(const Case& k, const RawRange& range) {
  if (range.by_value) return k.v;
  return (static_cast<double>(k.v) - k.c.egu_low) / k.c.egu_span;
}

TEST(ConditioningWrite, EveryRawValueStaysInItsRangeAndStopsAtItsEnds) {
  const std::uint32_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  Generator gen(seed);
  int checked = 0, saturated = 0, failures = 0;
  for (int trial = 0; trial < 200000 && failures < 5; ++trial) {
    Case k{gen.conditioning(), 0};
    k.v = gen.value(k.c);
    const auto range = range_of(k.c);
    const RawRegisters raw = condition_write(k.c, k.v);
    if (!range) {
      if (k.c.code == kSig3Bcd || k.c.code == kSig4Bcd) {
        // Decimal digits only, and no fourth digit for 3BCD.
        bool digits = true;
        for (int n = 0; n < 4; ++n) digits = digits && ((raw.r[0] >> (4 * n)) & 0xF) <= 9;
        if (k.c.code == kSig3Bcd) digits = digits && (raw.r[0] >> 12) == 0;
        if (!digits) {
          ADD_FAILURE() << k.describe() << ": BCD raw 0x" << std::hex << raw.r[0];
          ++failures;
        }
      }
      continue;
    }
    ++checked;
    const std::int64_t n = as_integer(raw, *range);
    if (n < range->low || n > range->high) {
      ADD_FAILURE() << k.describe() << ": raw " << n << " outside " << range->low << ".." << range->high;
      ++failures;
      continue;
    }
    // Far beyond the range, the raw value is the end it went past.
    const double q = driving_quantity(k, *range);
    const double far = range->by_value ? 5e9 : 1e7;
    if (std::fabs(q) > far && !std::isnan(q)) {
      ++saturated;
      const std::int64_t end = (range->square || q > 0) ? range->high : range->low;
      if (n != end) {
        ADD_FAILURE() << k.describe() << ": raw " << n << ", expected the end " << end;
        ++failures;
      }
    }
  }
  EXPECT_GT(checked, 100000);
  EXPECT_GT(saturated, 10000);
}

TEST(ConditioningWrite, RawValuesFollowTheValueInOrder) {
  const std::uint32_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  Generator gen(seed);
  int compared = 0, failures = 0;
  for (int trial = 0; trial < 20000 && failures < 5; ++trial) {
    Conditioning c = gen.conditioning();
    if (c.egu_span < 0) c.egu_span = -c.egu_span;
    const auto range = range_of(c);
    if (!range) continue;
    // A sweep over the whole range and well beyond, with the extremes at both ends.
    std::vector<float> values;
    for (int i = 0; i < 40; ++i) values.push_back(gen.value(c));
    std::sort(values.begin(), values.end());
    std::int64_t previous = std::numeric_limits<std::int64_t>::min();
    for (float v : values) {
      // The square laws rise only from x = 0 on.
      if (range->square && v < c.egu_low) continue;
      const std::int64_t n = as_integer(condition_write(c, v), *range);
      ++compared;
      if (n < previous) {
        ADD_FAILURE() << Case{c, v}.describe() << ": raw " << n << " below the raw " << previous
                      << " of a smaller value";
        ++failures;
        break;
      }
      previous = n;
    }
  }
  EXPECT_GT(compared, 200000);
}

}  // namespace
}  // namespace hbt::hostlib
