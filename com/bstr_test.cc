#include "com/bstr.h"

#include <cstring>

#include <gtest/gtest.h>

namespace hbt::com {
namespace {

TEST(Bstr, KeepsItsByteCountInFrontAndEndsInANulUnit) {
  BSTR s = SysAllocString(u"abc");
  ASSERT_NE(s, nullptr);
  std::uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<const char*>(s) - 4, 4);
  EXPECT_EQ(prefix, 6u);
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(SysStringByteLen(s), 6u);
  EXPECT_EQ(s[3], u'\0');
  SysFreeString(s);
}

TEST(Bstr, MayHoldNulsAndOddByteCounts) {
  BSTR s = SysAllocStringLen(u"a\0b", 3);
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(s[1], u'\0');
  EXPECT_EQ(s[2], u'b');
  SysFreeString(s);

  BSTR odd = SysAllocStringByteLen("xyz", 3);
  EXPECT_EQ(SysStringByteLen(odd), 3u);
  EXPECT_EQ(SysStringLen(odd), 1u);
  EXPECT_EQ(reinterpret_cast<const char*>(odd)[3], '\0');
  EXPECT_EQ(reinterpret_cast<const char*>(odd)[4], '\0');
  SysFreeString(odd);

  BSTR zeroed = SysAllocStringLen(nullptr, 4);
  EXPECT_EQ(bstr_view(zeroed), std::u16string_view(u"\0\0\0\0", 4));
  SysFreeString(zeroed);
}

TEST(Bstr, NullIsTheEmptyString) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  EXPECT_TRUE(bstr_view(nullptr).empty());
  SysFreeString(nullptr);
}

TEST(Bstr, ReallocationMayCopyFromTheOldString) {
  BSTR s = SysAllocString(u"hello world");
  ASSERT_TRUE(SysReAllocStringLen(&s, s + 6, 5));
  EXPECT_EQ(bstr_view(s), u"world");
  ASSERT_TRUE(SysReAllocString(&s, u"x"));
  EXPECT_EQ(bstr_view(s), u"x");
  SysFreeString(s);
}

TEST(Utf, RoundTripsThroughUtf16IncludingSurrogatePairs) {
  std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // A, e-acute, euro, an emoji
  std::u16string wide = utf16_from_utf8(text);
  ASSERT_EQ(wide.size(), 5u);
  EXPECT_EQ(wide[2], 0x20AC);
  EXPECT_EQ(wide[3], 0xD83D);
  EXPECT_EQ(wide[4], 0xDE00);
  EXPECT_EQ(utf8_from_utf16(wide), text);
}

TEST(Utf, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(utf16_from_utf8("a\xC3"), u"a\xFFFD");      // cut short at the end
  EXPECT_EQ(utf16_from_utf8("\xC0\xAF"), u"\xFFFD\xFFFD");  // overlong form
  EXPECT_EQ(utf16_from_utf8("\xED\xA0\x80"), u"\xFFFD\xFFFD\xFFFD");  // an encoded surrogate
  EXPECT_EQ(utf8_from_utf16(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace hbt::com
