#include "com/filetime.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace hbt::com {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// 1899-12-30, day 0 of DATE, counted from 1970-01-01.
constexpr std::int64_t kDateEpochDays = -25569;
// 1601-01-01, the FILETIME epoch, counted from 1970-01-01.
constexpr std::int64_t kFileTimeEpochDays = -134774;

}  // namespace

std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
  // Shift the year to start in March so that the leap day is the last day of the year.
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

void civil_from_days(std::int64_t days, std::int64_t* year, unsigned* month, unsigned* day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned mp = (5 * day_of_year + 2) / 153;
  *day = day_of_year - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<std::int64_t>(year_of_era) + era * 400 + (*month <= 2);
}

bool valid_civil_date(std::int64_t year, unsigned month, unsigned day) {
  if (month < 1 || month > 12 || day < 1) return false;
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

std::int64_t filetime_ticks(const FILETIME& t) {
  return static_cast<std::int64_t>((std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime);
}

FILETIME filetime_from_ticks(std::int64_t ticks) {
  auto u = static_cast<std::uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(u & 0xFFFFFFFFu), static_cast<DWORD>(u >> 32)};
}

void GetSystemTimeAsFileTime(FILETIME* out) {
  if (out == nullptr) return;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  *out = filetime_from_ticks(kUnixEpochAsFileTime + static_cast<std::int64_t>(now.tv_sec) * kFileTimeTicksPerSecond +
                             now.tv_nsec / 100);
}

HRESULT CoFileTimeNow(FILETIME* out) {
  if (out == nullptr) return E_INVALIDARG;
  GetSystemTimeAsFileTime(out);
  return S_OK;
}

void GetSystemTime(SYSTEMTIME* out) {
  if (out == nullptr) return;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  FileTimeToSystemTime(&now, out);
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* in, FILETIME* out) {
  if (in == nullptr || out == nullptr) return FALSE;
  if (in->wYear < 1601 || in->wYear > 30827 || !valid_civil_date(in->wYear, in->wMonth, in->wDay) ||
      in->wHour > 23 || in->wMinute > 59 || in->wSecond > 59 || in->wMilliseconds > 999)
    return FALSE;
  std::int64_t days = days_from_civil(in->wYear, in->wMonth, in->wDay) - kFileTimeEpochDays;
  std::int64_t seconds = days * kSecondsPerDay + in->wHour * 3600 + in->wMinute * 60 + in->wSecond;
  *out = filetime_from_ticks(seconds * kFileTimeTicksPerSecond + std::int64_t{in->wMilliseconds} * 10000);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* in, SYSTEMTIME* out) {
  if (in == nullptr || out == nullptr) return FALSE;
  std::int64_t ticks = filetime_ticks(*in);
  if (ticks < 0) return FALSE;
  std::int64_t seconds = ticks / kFileTimeTicksPerSecond;
  std::int64_t days = seconds / kSecondsPerDay;
  std::int64_t in_day = seconds % kSecondsPerDay;
  std::int64_t year;
  unsigned month, day;
  civil_from_days(days + kFileTimeEpochDays, &year, &month, &day);
  out->wYear = static_cast<WORD>(year);
  out->wMonth = static_cast<WORD>(month);
  out->wDay = static_cast<WORD>(day);
  out->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  out->wHour = static_cast<WORD>(in_day / 3600);
  out->wMinute = static_cast<WORD>(in_day / 60 % 60);
  out->wSecond = static_cast<WORD>(in_day % 60);
  out->wMilliseconds = static_cast<WORD>(ticks % kFileTimeTicksPerSecond / 10000);
  return TRUE;
}

INT SystemTimeToVariantTime(const SYSTEMTIME* in, DATE* out) {
  if (in == nullptr || out == nullptr) return FALSE;
  if (in->wYear < 100 || in->wYear > 9999 || !valid_civil_date(in->wYear, in->wMonth, in->wDay) ||
      in->wHour > 23 || in->wMinute > 59 || in->wSecond > 59)
    return FALSE;
  std::int64_t days = days_from_civil(in->wYear, in->wMonth, in->wDay) - kDateEpochDays;
  double fraction = (in->wHour * 3600.0 + in->wMinute * 60.0 + in->wSecond) / kSecondsPerDay;
  // Before day 0 the fraction still counts forward from midnight, so it is subtracted.
  *out = days < 0 ? static_cast<double>(days) - fraction : static_cast<double>(days) + fraction;
  return TRUE;
}

INT VariantTimeToSystemTime(DATE in, SYSTEMTIME* out) {
  if (out == nullptr || !(in >= kDateMin && in < kDateMax + 1.0)) return FALSE;
  double whole = std::trunc(in);
  auto days = static_cast<std::int64_t>(whole);
  auto seconds = static_cast<std::int64_t>(std::llround(std::fabs(in - whole) * kSecondsPerDay));
  if (seconds >= kSecondsPerDay) {  // rounded up into the next calendar day
    seconds -= kSecondsPerDay;
    days += 1;
  }
  std::int64_t year;
  unsigned month, day;
  civil_from_days(days + kDateEpochDays, &year, &month, &day);
  if (year < 100 || year > 9999) return FALSE;
  out->wYear = static_cast<WORD>(year);
  out->wMonth = static_cast<WORD>(month);
  out->wDay = static_cast<WORD>(day);
  std::int64_t unix_days = days + kDateEpochDays;
  out->wDayOfWeek = static_cast<WORD>(((unix_days % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
  out->wHour = static_cast<WORD>(seconds / 3600);
  out->wMinute = static_cast<WORD>(seconds / 60 % 60);
  out->wSecond = static_cast<WORD>(seconds % 60);
  out->wMilliseconds = 0;
  return TRUE;
}

std::string iso8601_utc(const FILETIME& t) {
  SYSTEMTIME st;
  if (!FileTimeToSystemTime(&t, &st)) return "";
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute, st.wSecond, st.wMilliseconds);
  return text;
}

}  // namespace hbt::com
