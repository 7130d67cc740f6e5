// Times as Windows keeps them: FILETIME (100 ns units since 1601-01-01 UTC), SYSTEMTIME (the
// calendar fields) and the Automation DATE (days since 1899-12-30, time as the fraction).
#pragma once

#include <cstdint>
#include <string>

#include "com/include/objbase.h"
#include "com/types.h"

namespace hbt::com {

using ::FILETIME;
using ::SYSTEMTIME;

extern "C" void GetSystemTime(SYSTEMTIME* out);  // UTC
extern "C" void GetSystemTimeAsFileTime(FILETIME* out);
extern "C" HRESULT CoFileTimeNow(FILETIME* out);
// FALSE for fields out of range (year 1601..30827, a real day of the month, ...).
extern "C" BOOL SystemTimeToFileTime(const SYSTEMTIME* in, FILETIME* out);
extern "C" BOOL FileTimeToSystemTime(const FILETIME* in, SYSTEMTIME* out);

// DATE <-> SYSTEMTIME, years 100..9999, to the whole second (milliseconds are not carried).
extern "C" INT SystemTimeToVariantTime(const SYSTEMTIME* in, DATE* out);
extern "C" INT VariantTimeToSystemTime(DATE in, SYSTEMTIME* out);

// Helpers of this system (not Windows API).
inline constexpr std::int64_t kFileTimeTicksPerSecond = 10'000'000;
inline constexpr std::int64_t kUnixEpochAsFileTime = 116'444'736'000'000'000;  // 1970-01-01
inline constexpr DATE kDateMin = -657434.0;  // 100-01-01
inline constexpr DATE kDateMax = 2958465.0;  // 9999-12-31

std::int64_t filetime_ticks(const FILETIME& t);
FILETIME filetime_from_ticks(std::int64_t ticks);
// "2024-05-06T07:08:09.123Z" (milliseconds, UTC); "" for a time before 1601.
std::string iso8601_utc(const FILETIME& t);

// Days from 1970-01-01 to a proleptic Gregorian date, and back.
std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day);
void civil_from_days(std::int64_t days, std::int64_t* year, unsigned* month, unsigned* day);
bool valid_civil_date(std::int64_t year, unsigned month, unsigned day);

}  // namespace hbt::com
