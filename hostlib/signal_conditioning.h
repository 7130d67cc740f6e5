// Signal conditioning: how the raw registers of an analog point become an engineering value
// and back, the table of conditioning names, and the hardware options some of them use.
#pragma once

#include <cstdint>
#include <string_view>

#include "hostlib/nio_types.h"

namespace hbt::hostlib {

enum SigCond : std::int16_t {
  kSigNone = 0, kSig3Bcd = 1, kSig4Bcd = 2, kSig12Bn = 3, kSig12Al = 4, kSig15Bn = 5, kSig15Al = 6,
  kSigLin = 8, kSigLv12 = 12, kSigLv15 = 13, kSigSq12 = 14, kSigSq15 = 15, kSigSint = 16, kSigUint = 17,
  kSigFlt = 18, kSigProp = 19, kSigRoot = 20, kSigShiftMask = 21, kSigD10 = 22, kSigD100 = 23,
  kSigPhex = 24, kSigRhex = 25, kSigLong = 26, kSigUlng = 27, kSigLd10 = 28, kSigL100 = 29,
  kSigUnknown = -1,
};

struct SigCondEntry {
  int match_length;  // leading characters compared, the terminating NUL included
  const char* name;
  std::int16_t code;
};
inline constexpr int kSigCondCount = 26;
extern const SigCondEntry kSigCondTable[kSigCondCount];

// Whether a conditioning takes two registers (float and 32-bit integer forms).
bool two_registers(std::int16_t code);

// What the conversions need to know about the point besides the raw value.
struct Conditioning {
  std::int16_t code = kSigNone;
  std::uint16_t data_type = 2;  // of the poll record (1 Signed, 2 Unsigned, 4 Digital)
  float egu_low = 0;
  float egu_span = 0;
  std::int8_t decimals = 0;
  std::int16_t option_low = 0;
  std::uint16_t option_range = 0;
};

struct Reading {
  float value = 0;
  std::int16_t value_status = 0;  // 0 or kValueOutOfRange
};

// r0 is the register, r1 the next one (used by the two-register conditionings).
Reading condition_read(const Conditioning& c, std::uint16_t r0, std::uint16_t r1);

struct RawRegisters {
  std::uint16_t r[2] = {0, 0};
  int count = 1;
  // The value did not fit the registers and was held at the edge of their range (or masked);
  // rounding to the registers' resolution does not count.
  bool clamped = false;
};
RawRegisters condition_write(const Conditioning& c, float value);

// Lookup as nio_psig does it: the first entry whose name matches over its match length.
// kSigUnknown when nothing matches.
std::int16_t find_sig_cond(const char* text);
// "*?*" for codes not in the table.
const char* sig_cond_name(std::int16_t code);

// Hardware options text "low:high" into the option fields, by the point's conditioning.
void parse_options(std::int16_t code, const char* text, std::int16_t* option_low, std::uint16_t* option_range);
// Display of the options; "" for conditionings without options.
void format_options(std::int16_t code, std::int16_t option_low, std::uint16_t option_range, char* out,
                    std::size_t size);

inline constexpr char kOptionsTemplate[] = "<Ilo:IHi>";
inline constexpr std::uint32_t kOptionsField = 32;
inline constexpr std::size_t kOptionsTextMax = kOptionsField - 1;

// Bytes the names of the table take with their NULs.
std::uint32_t sig_cond_names_size();

}  // namespace hbt::hostlib
