// MS-DOS dates and times (the packed 16-bit fields of FAT directory entries): day in bits
// 0-4, month 5-8, years since 1980 in 9-15; seconds/2 in bits 0-4, minute 5-10, hour 11-15.
#include <cmath>

#include "com/filetime.h"

namespace hbt::com {
namespace {

constexpr int kDosEpochYear = 1980;
constexpr int kLastVariantYear = 2099;  // the range Automation documents for DOS dates
constexpr int kLastFileTimeYear = 2107;  // the most seven bits of years reach

struct DosFields {
  int year, month, day, hour, minute, second;
};

DosFields unpack(USHORT dos_date, USHORT dos_time) {
  return {kDosEpochYear + (dos_date >> 9), (dos_date >> 5) & 0xF, dos_date & 0x1F,
          dos_time >> 11, (dos_time >> 5) & 0x3F, (dos_time & 0x1F) * 2};
}

// Days since 1970-01-01 of the fields, a day past the end of the month carrying into the next
// one and day 0 meaning the last day of the previous month; false for a month or time that
// cannot be.
bool to_days_and_seconds(const DosFields& f, int last_year, std::int64_t* days, std::int64_t* seconds) {
  if (f.year > last_year || f.month < 1 || f.month > 12 || f.hour > 23 || f.minute > 59 || f.second > 59)
    return false;
  *days = days_from_civil(f.year, static_cast<unsigned>(f.month), 1) + f.day - 1;
  *seconds = f.hour * 3600 + f.minute * 60 + f.second;
  return true;
}

bool pack(const SYSTEMTIME& st, int last_year, WORD* dos_date, WORD* dos_time) {
  if (st.wYear < kDosEpochYear || st.wYear > last_year) return false;
  *dos_date = static_cast<WORD>(((st.wYear - kDosEpochYear) << 9) | (st.wMonth << 5) | st.wDay);
  *dos_time = static_cast<WORD>((st.wHour << 11) | (st.wMinute << 5) | (st.wSecond / 2));
  return true;
}

constexpr std::int64_t kVariantEpochDays = -25569;  // 1899-12-30 counted from 1970-01-01

}  // namespace
}  // namespace hbt::com

using namespace hbt::com;

extern "C" INT DosDateTimeToVariantTime(USHORT dos_date, USHORT dos_time, DOUBLE* out) {
  if (out == nullptr) return FALSE;
  std::int64_t days, seconds;
  if (!to_days_and_seconds(unpack(dos_date, dos_time), kLastVariantYear, &days, &seconds)) return FALSE;
  *out = static_cast<double>(days - kVariantEpochDays) + static_cast<double>(seconds) / 86400.0;
  return TRUE;
}

extern "C" INT VariantTimeToDosDateTime(DOUBLE in, USHORT* dos_date, USHORT* dos_time) {
  if (dos_date == nullptr || dos_time == nullptr) return FALSE;
  SYSTEMTIME st;
  if (!VariantTimeToSystemTime(in, &st)) return FALSE;
  return pack(st, kLastVariantYear, dos_date, dos_time) ? TRUE : FALSE;
}

extern "C" BOOL FileTimeToDosDateTime(const FILETIME* in, WORD* dos_date, WORD* dos_time) {
  if (in == nullptr || dos_date == nullptr || dos_time == nullptr) return FALSE;
  SYSTEMTIME st;
  if (!FileTimeToSystemTime(in, &st)) return FALSE;
  return pack(st, kLastFileTimeYear, dos_date, dos_time) ? TRUE : FALSE;
}

extern "C" BOOL DosDateTimeToFileTime(WORD dos_date, WORD dos_time, FILETIME* out) {
  if (out == nullptr) return FALSE;
  std::int64_t days, seconds;
  if (!to_days_and_seconds(unpack(dos_date, dos_time), kLastFileTimeYear, &days, &seconds)) return FALSE;
  *out = filetime_from_ticks(kUnixEpochAsFileTime + (days * 86400 + seconds) * kFileTimeTicksPerSecond);
  return TRUE;
}
