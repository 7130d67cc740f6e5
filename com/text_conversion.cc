#include "com/text_conversion.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "com/filetime.h"

namespace hbt::com {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Only ASCII text can be a number or a date; anything else turns into a character no rule
// accepts.
std::string ascii_upper(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    char a = c < 0x80 ? static_cast<char>(c) : '\x01';
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
    out += a;
  }
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

std::u16string widen(std::string_view s) { return std::u16string(s.begin(), s.end()); }

HRESULT parse_radix(std::string_view digits, unsigned radix, ParsedNumber* out) {
  if (digits.empty()) return DISP_E_TYPEMISMATCH;
  std::uint64_t value = 0;
  for (char c : digits) {
    unsigned d = is_digit(c) ? static_cast<unsigned>(c - '0') : (c >= 'A' && c <= 'F') ? static_cast<unsigned>(c - 'A' + 10) : 99;
    if (d >= radix) return DISP_E_TYPEMISMATCH;
    if (value > (std::numeric_limits<std::uint64_t>::max() - d) / radix) return DISP_E_OVERFLOW;
    value = value * radix + d;
  }
  out->integral = true;
  out->magnitude = value;
  return S_OK;
}

// A cursor over ASCII text for the date forms.
struct Cursor {
  std::string_view s;
  std::size_t i = 0;
  bool at_end() const { return i == s.size(); }
  bool take(char c) {
    if (i < s.size() && s[i] == c) {
      ++i;
      return true;
    }
    return false;
  }
  void skip_blanks() {
    while (i < s.size() && is_blank(s[i])) ++i;
  }
  // 1..max_digits digits.
  bool number(int max_digits, int* value, int* digits = nullptr) {
    int n = 0, v = 0;
    while (i < s.size() && is_digit(s[i]) && n < max_digits) {
      v = v * 10 + (s[i] - '0');
      ++i;
      ++n;
    }
    if (n == 0 || (i < s.size() && is_digit(s[i]))) return false;
    *value = v;
    if (digits) *digits = n;
    return true;
  }
};

// h:mm[:ss] with an optional AM/PM; the seconds of the day.
bool parse_time(Cursor& c, int* seconds) {
  int h, m, s = 0;
  if (!c.number(2, &h) || !c.take(':') || !c.number(2, &m)) return false;
  if (c.take(':') && !c.number(2, &s)) return false;
  std::size_t before = c.i;
  c.skip_blanks();
  bool am = c.s.substr(c.i, 2) == "AM", pm = c.s.substr(c.i, 2) == "PM";
  if (am || pm) {
    c.i += 2;
    if (h < 1 || h > 12) return false;
    h = h % 12 + (pm ? 12 : 0);
  } else {
    c.i = before;
  }
  if (h > 23 || m > 59 || s > 59) return false;
  *seconds = h * 3600 + m * 60 + s;
  return true;
}

}  // namespace

HRESULT parse_number(std::u16string_view text, ParsedNumber* out) {
  *out = ParsedNumber{};
  std::string upper = ascii_upper(text);
  std::string_view s = trim(upper);
  bool negative = false;
  if (s.size() >= 2 && s.front() == '(' && s.back() == ')') {
    negative = true;
    s = trim(s.substr(1, s.size() - 2));
  }
  bool leading_sign = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    if (s.front() == '-') negative = !negative;
    leading_sign = true;
    s.remove_prefix(1);
  }
  if (s.size() >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'O')) {
    HRESULT hr = parse_radix(s.substr(2), s[1] == 'H' ? 16 : 8, out);
    out->negative = negative;
    return hr;
  }
  std::string digits;  // whole and fraction digits, separators removed
  std::size_t i = 0, whole_digits = 0, fraction_digits = 0;
  bool point = false, exponent = false;
  while (i < s.size() && (is_digit(s[i]) || (s[i] == ',' && whole_digits > 0 && i + 1 < s.size() && is_digit(s[i + 1])))) {
    if (s[i] != ',') {
      digits += s[i];
      ++whole_digits;
    }
    ++i;
  }
  if (i < s.size() && s[i] == '.') {
    point = true;
    ++i;
    while (i < s.size() && is_digit(s[i])) {
      digits += s[i++];
      ++fraction_digits;
    }
  }
  if (whole_digits + fraction_digits == 0) return DISP_E_TYPEMISMATCH;
  std::string exponent_text;
  if (i < s.size() && (s[i] == 'E' || s[i] == 'D')) {
    exponent = true;
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) exponent_text += s[i++];
    std::size_t start = i;
    while (i < s.size() && is_digit(s[i])) exponent_text += s[i++];
    if (i == start) return DISP_E_TYPEMISMATCH;
  }
  if (!leading_sign && i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') negative = !negative;
    ++i;
  }
  if (i != s.size()) return DISP_E_TYPEMISMATCH;

  out->negative = negative;
  if (!point && !exponent) {
    std::uint64_t value = 0;
    bool fits = true;
    for (char c : digits) {
      unsigned d = static_cast<unsigned>(c - '0');
      if (value > (std::numeric_limits<std::uint64_t>::max() - d) / 10) {
        fits = false;
        break;
      }
      value = value * 10 + d;
    }
    if (fits) {
      out->integral = true;
      out->magnitude = value;
      return S_OK;
    }
  }
  std::string number = digits.substr(0, whole_digits);
  if (number.empty()) number = "0";
  if (fraction_digits > 0) number += "." + digits.substr(whole_digits);
  if (exponent) number += "e" + exponent_text;
  double value = 0;
  auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Too small rounds to zero; too large is an overflow.
    bool large = !exponent_text.empty() ? exponent_text[0] != '-' : true;
    if (large) return DISP_E_OVERFLOW;
    value = 0;
  } else if (ec != std::errc() || end != number.data() + number.size()) {
    return DISP_E_TYPEMISMATCH;
  }
  out->real = negative ? -value : value;
  return S_OK;
}

HRESULT parse_bool_word(std::u16string_view text, bool* out) {
  std::string upper = ascii_upper(text);
  std::string_view s = trim(upper);
  if (s == "TRUE") {
    *out = true;
    return S_OK;
  }
  if (s == "FALSE") {
    *out = false;
    return S_OK;
  }
  return DISP_E_TYPEMISMATCH;
}

std::u16string format_integer(std::int64_t value) { return widen(std::to_string(value)); }

std::u16string format_unsigned(std::uint64_t value) { return widen(std::to_string(value)); }

std::u16string format_real(double value, int significant_digits) {
  if (std::isnan(value)) return u"NaN";
  if (std::isinf(value)) return value > 0 ? u"Infinity" : u"-Infinity";
  if (value == 0) return u"0";  // also for -0
  char text[64];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::general, significant_digits);
  if (ec != std::errc()) return u"";
  std::string s(text, end);
  for (char& c : s)
    if (c == 'e') c = 'E';
  return widen(s);
}

std::u16string format_date(DATE value) {
  SYSTEMTIME st;
  if (!VariantTimeToSystemTime(value, &st)) return u"";
  char text[64];
  std::string out;
  bool day_zero = st.wYear == 1899 && st.wMonth == 12 && st.wDay == 30;
  bool midnight = st.wHour == 0 && st.wMinute == 0 && st.wSecond == 0;
  if (!day_zero) {
    std::snprintf(text, sizeof text, "%u/%u/%u", st.wMonth, st.wDay, st.wYear);
    out = text;
  }
  if (!midnight || day_zero) {
    int hour12 = st.wHour % 12 == 0 ? 12 : st.wHour % 12;
    std::snprintf(text, sizeof text, "%d:%02u:%02u %s", hour12, st.wMinute, st.wSecond, st.wHour < 12 ? "AM" : "PM");
    if (!out.empty()) out += ' ';
    out += text;
  }
  return widen(out);
}

HRESULT parse_date(std::u16string_view text, DATE* out) {
  std::string upper = ascii_upper(text);
  Cursor c{trim(upper)};
  if (c.s.empty()) return DISP_E_TYPEMISMATCH;
  int year = 1899, month = 12, day = 30, seconds = 0;
  bool has_date = false;
  // A time alone: "h:mm..." has a colon after at most two digits.
  std::size_t colon = c.s.find(':');
  bool time_only = colon != std::string_view::npos && colon <= 2 && c.s.find_first_of("/-") > colon;
  if (!time_only) {
    int first, first_digits;
    if (!c.number(4, &first, &first_digits)) return DISP_E_TYPEMISMATCH;
    if (c.take('-')) {  // ISO: year first
      if (first_digits != 4 || !c.number(2, &month) || !c.take('-') || !c.number(2, &day)) return DISP_E_TYPEMISMATCH;
      year = first;
    } else if (c.take('/')) {  // month/day/year
      int year_digits;
      month = first;
      if (first_digits > 2 || !c.number(2, &day) || !c.take('/') || !c.number(4, &year, &year_digits) ||
          year_digits == 3 || year_digits == 1)
        return DISP_E_TYPEMISMATCH;
      if (year_digits == 2) year += year < 30 ? 2000 : 1900;
    } else {
      return DISP_E_TYPEMISMATCH;
    }
    has_date = true;
    if (!c.at_end()) {
      if (!c.take('T')) {
        std::size_t before = c.i;
        c.skip_blanks();
        if (c.i == before) return DISP_E_TYPEMISMATCH;
      }
    }
  }
  if (!c.at_end() || time_only) {
    if (!parse_time(c, &seconds)) return DISP_E_TYPEMISMATCH;
    c.skip_blanks();
    if (!c.at_end()) return DISP_E_TYPEMISMATCH;
  }
  if (has_date && !valid_civil_date(year, static_cast<unsigned>(month), static_cast<unsigned>(day)))
    return DISP_E_TYPEMISMATCH;
  if (year < 100 || year > 9999) return DISP_E_OVERFLOW;
  SYSTEMTIME st{static_cast<WORD>(year), static_cast<WORD>(month), 0, static_cast<WORD>(day),
                static_cast<WORD>(seconds / 3600), static_cast<WORD>(seconds / 60 % 60), static_cast<WORD>(seconds % 60), 0};
  return SystemTimeToVariantTime(&st, out) ? S_OK : DISP_E_TYPEMISMATCH;
}

}  // namespace hbt::com
