#include <gtest/gtest.h>

#include "com/filetime.h"

namespace hbt::com {
namespace {

TEST(FileTime, UnixEpochAndBack) {
  SYSTEMTIME st{1970, 1, 0, 1, 0, 0, 0, 0};
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  EXPECT_EQ(filetime_ticks(ft), kUnixEpochAsFileTime);
  SYSTEMTIME back;
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
  EXPECT_EQ(back.wYear, 1970);
  EXPECT_EQ(back.wDayOfWeek, 4);  // a Thursday
}

TEST(FileTime, CarriesMillisecondsAndRefusesImpossibleDates) {
  SYSTEMTIME st{2024, 2, 0, 29, 23, 59, 58, 123};
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  EXPECT_EQ(iso8601_utc(ft), "2024-02-29T23:59:58.123Z");
  SYSTEMTIME bad{2023, 2, 0, 29, 0, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft));
  SYSTEMTIME early{1600, 12, 0, 31, 0, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToFileTime(&early, &ft));
  FILETIME negative = filetime_from_ticks(-1);
  EXPECT_FALSE(FileTimeToSystemTime(&negative, &st));
  EXPECT_EQ(iso8601_utc(negative), "");
}

TEST(FileTime, NowIsNearTheClock) {
  FILETIME a;
  ASSERT_EQ(CoFileTimeNow(&a), S_OK);
  SYSTEMTIME st;
  GetSystemTime(&st);
  FILETIME b;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &b));
  EXPECT_LT(std::llabs(filetime_ticks(b) - filetime_ticks(a)), 5 * kFileTimeTicksPerSecond);
  EXPECT_GT(st.wYear, 2020);
}

TEST(VariantTime, DayZeroIsTheLastDaysOf1899AndNegativeFractionsCountForward) {
  SYSTEMTIME st;
  ASSERT_TRUE(VariantTimeToSystemTime(0.0, &st));
  EXPECT_EQ(st.wYear, 1899);
  EXPECT_EQ(st.wMonth, 12);
  EXPECT_EQ(st.wDay, 30);
  ASSERT_TRUE(VariantTimeToSystemTime(-1.25, &st));
  EXPECT_EQ(st.wDay, 29);
  EXPECT_EQ(st.wHour, 6);
  DATE d;
  ASSERT_TRUE(SystemTimeToVariantTime(&st, &d));
  EXPECT_DOUBLE_EQ(d, -1.25);
  SYSTEMTIME march{2023, 3, 0, 15, 18, 0, 0, 0};
  ASSERT_TRUE(SystemTimeToVariantTime(&march, &d));
  EXPECT_DOUBLE_EQ(d, 45000.75);
}

TEST(VariantTime, RoundsToTheSecondAcrossMidnightAndKeepsItsRange) {
  SYSTEMTIME st;
  ASSERT_TRUE(VariantTimeToSystemTime(45000.0 - 1e-7, &st));  // 23:59:59.99 rounds to the next day
  EXPECT_EQ(st.wDay, 15);
  EXPECT_EQ(st.wHour, 0);
  ASSERT_TRUE(VariantTimeToSystemTime(-1.0 - 0.9999999, &st));  // 12-29 23:59:59.99 -> 12-30
  EXPECT_EQ(st.wDay, 30);
  EXPECT_EQ(st.wHour, 0);
  EXPECT_TRUE(VariantTimeToSystemTime(kDateMin, &st));
  EXPECT_EQ(st.wYear, 100);
  EXPECT_FALSE(VariantTimeToSystemTime(kDateMin - 1, &st));
  EXPECT_FALSE(VariantTimeToSystemTime(kDateMax + 1, &st));
  SYSTEMTIME year99{99, 12, 0, 31, 0, 0, 0, 0};
  DATE d;
  EXPECT_FALSE(SystemTimeToVariantTime(&year99, &d));
}

}  // namespace
}  // namespace hbt::com
