// Number <-> text conversions shared by the editor's fields and messages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hbt::editor {

// "%*.*f" at width 8, precision 1, leading blanks removed: 1.0, 300.0.
std::string format_time(double value);
// "%*.*f" at width 6, precision 2: the bounds inserted into range messages ("  0.10").
std::string format_bound(double value);

// A whole text that is a finite decimal number (blanks around it allowed).
std::optional<double> parse_real(std::string_view text);
// The same for a value kept in single precision: beyond the float range it is refused
// instead of becoming infinity.
std::optional<double> parse_float(std::string_view text);
// A whole text of decimal digits (blanks around it allowed); no sign.
std::optional<std::uint64_t> parse_digits(std::string_view text);
// Plain decimal conversion in the manner of atoi: leading blanks, an optional sign, the
// digits that follow; anything else ends the number; no digits give 0. Saturates at the
// limits of a 32-bit integer.
long plain_decimal(std::string_view text);

std::string_view trim_blanks(std::string_view text);
bool equals_ignoring_case(std::string_view a, std::string_view b);
std::string to_upper(std::string_view text);

// Seconds as stored in 1/100 s: truncated, or rounded to the nearest.
std::int32_t hundredths_truncated(double seconds);
std::uint32_t hundredths_rounded(double seconds);
// Stored 1/100 s back to seconds: the float that hundredths_truncated turns into the stored
// value again, wherever a float can, so that every save writes what the file held.
float seconds_from_hundredths(std::int32_t hundredths);

}  // namespace hbt::editor
