// Number <-> text conversions.
#include "editor/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace hbt::editor {

std::string format_time(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%*.*f", 8, 1, value);
  std::string_view text(buffer);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  return std::string(text);
}

std::string format_bound(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%*.*f", 6, 2, value);
  return buffer;
}

std::string_view trim_blanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::optional<double> parse_real(std::string_view text) {
  text = trim_blanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value,
                                      std::chars_format::general);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<double> parse_float(std::string_view text) {
  auto value = parse_real(text);
  if (!value || std::fabs(*value) > std::numeric_limits<float>::max()) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> parse_digits(std::string_view text) {
  text = trim_blanks(text);
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

long plain_decimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > std::numeric_limits<std::int32_t>::max()) {
      value = std::numeric_limits<std::int32_t>::max();
    }
  }
  return static_cast<long>(negative ? -value : value);
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
    char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

std::string to_upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
}

// Times are held as single-precision seconds typed in decimal (0.29 is 0.28999999...), so a
// small allowance keeps the truncation from losing a hundredth the user typed.
std::int32_t hundredths_truncated(double seconds) {
  double scaled = seconds * 100.0;
  scaled += scaled >= 0 ? 1e-3 : -1e-3;
  if (scaled >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (scaled <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(scaled);
}

float seconds_from_hundredths(std::int32_t hundredths) {
  // The float nearest to hundredths / 100 may lie a hair below it (655.36 is held as
  // 655.359985) and truncate to one hundredth less on saving, and again on every later save.
  // Saving is monotonic in the float, so step to the neighbouring floats until one saves
  // back as the stored value, or stop where none does (a value beyond a float's precision):
  // the value saved then reads back as a float that saves to that same value.
  float seconds = static_cast<float>(hundredths / 100.0);
  for (int step = 0; step < 4; ++step) {
    const std::int32_t saved = hundredths_truncated(seconds);
    if (saved == hundredths) break;
    const bool up = saved < hundredths;
    const float next = std::nextafter(seconds, up ? HUGE_VALF : -HUGE_VALF);
    const std::int32_t next_saved = hundredths_truncated(next);
    if (up ? next_saved > hundredths : next_saved < hundredths) break;  // passes over it
    seconds = next;
  }
  return seconds;
}

std::uint32_t hundredths_rounded(double seconds) {
  double scaled = std::floor(seconds * 100.0 + 0.5);
  if (scaled <= 0) return 0;
  if (scaled >= 4294967295.0) return std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(scaled);
}

}  // namespace hbt::editor
