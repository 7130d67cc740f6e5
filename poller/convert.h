// Reply data into a poll record's current values (data area 1), with exception detection:
// changed values of registered points raise changed flags in the exception table, and the
// dead bands decide whether a small analog change is stored at all.
#pragma once

#include <cstdint>
#include <span>

#include "image/layout.h"
#include "poller/record_view.h"

namespace hbt::poller {

struct ConversionSpec {
  image::RegisterType register_type = image::RegisterType::D;
  std::uint8_t exception_type = 0;  // image::ExceptionType, as stored
  std::uint16_t data_type = 0;      // image::DataType, as stored
  std::uint16_t dead_band_int = 0;
  float dead_band = 0;
  bool ascii = false;      // the data are hexadecimal characters
  bool bit_units = false;  // the data hold one point per nibble or character (A-series M from 9000)
};

// The conversion parameters of a poll record; `ascii` and `bit_units` describe the reply.
ConversionSpec conversion_spec(const image::PollRecordHead& head, bool ascii, bool bit_units);

struct ConversionResult {
  bool ok = true;   // false: ASCII data that are not hexadecimal; area 1 is untouched
  int flagged = 0;  // exception entries newly flagged
};

// Converts `data` into `values` (area 1). Reads no byte past `data` and writes no byte past
// `values`: values the reply does not fully carry, or area 1 cannot hold, are left alone.
// The caller holds the record lock and adds `flagged` to the changed count afterwards.
ConversionResult convert_reply(const ConversionSpec& plan, std::span<const std::uint8_t> data,
                               std::span<std::uint8_t> values, ExceptionTable& exceptions);

// The digital comparison of one 16-bit word against the 16 entries from `entry` on: flags
// the entries of changed bits that are registered and not flagged yet. Returns the count;
// the new word is to be stored whenever it differs from the old one.
int compare_digital(std::uint16_t now, std::uint16_t old, ExceptionTable& exceptions, std::size_t entry);

// Comparisons of one value against the entry at `entry`; true: store the new value.
// `flagged` is raised when the entry was flagged.
bool compare_analog(std::uint16_t now, std::uint16_t old, bool is_signed, std::uint16_t dead_band,
                    ExceptionTable& exceptions, std::size_t entry, int& flagged);
bool compare_float(std::uint32_t now, std::uint32_t old, float dead_band, ExceptionTable& exceptions,
                   std::size_t entry, int& flagged);
bool compare_long(std::uint32_t now, std::uint32_t old, bool is_signed, float dead_band,
                  ExceptionTable& exceptions, std::size_t entry, int& flagged);

// The text comparison keeps the leader of the current text item between calls.
struct TextState {
  std::size_t leader = 0;
};
bool compare_text(std::uint16_t now, std::uint16_t old, ExceptionTable& exceptions, std::size_t entry,
                  TextState& text, int& flagged);

}  // namespace hbt::poller
