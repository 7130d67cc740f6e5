// Numbers, booleans and dates to and from text, as the variant conversions use them: the
// English (United States) conventions, whatever the process locale is.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "com/types.h"

namespace hbt::com {

// A number read from text: a whole number (exact while it fits 64 bits) or a real.
struct ParsedNumber {
  bool integral = false;
  bool negative = false;
  std::uint64_t magnitude = 0;  // integral
  double real = 0;              // !integral, sign included
};

// Leading and trailing blanks, a sign before or after the digits, parentheses for a negative
// number, ',' between digits of the whole part, '.' and an exponent; "&H" and "&O" introduce
// hexadecimal and octal whole numbers. S_OK, DISP_E_TYPEMISMATCH (not a number) or
// DISP_E_OVERFLOW (beyond a double).
HRESULT parse_number(std::u16string_view text, ParsedNumber* out);

// "True"/"False" in any case; S_OK or DISP_E_TYPEMISMATCH.
HRESULT parse_bool_word(std::u16string_view text, bool* out);

std::u16string format_integer(std::int64_t value);
std::u16string format_unsigned(std::uint64_t value);
// Significant digits as Automation prints them: 7 for a float, 15 for a double; an exponent
// as "E+20" where the plain form would be too long.
std::u16string format_real(double value, int significant_digits);

// "M/D/YYYY h:mm:ss AM": the date alone when the time is midnight, the time alone on day 0.
std::u16string format_date(DATE value);
// The forms format_date writes, ISO "YYYY-MM-DD[ hh:mm[:ss]]" (also with 'T'), 24-hour times
// and two-digit years (00-29 are 20xx). S_OK, DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW.
HRESULT parse_date(std::u16string_view text, DATE* out);

}  // namespace hbt::com
