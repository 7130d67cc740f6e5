// Values as hbtopc shows them and as it reads them back for a write: whatever it prints for a
// value of an item's type, typed back in, writes that same value; JSON lines stay JSON.
#include "values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "quality.h"
#include "session.h"

namespace hbt::hbtopc {
namespace {

struct Owned {
  VARIANT v;
  Owned() { VariantInit(&v); }
  ~Owned() { VariantClear(&v); }
};

bool same(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_R4: return std::memcmp(&a.fltVal, &b.fltVal, 4) == 0;
    case VT_R8: return a.dblVal == b.dblVal;
    case VT_I2: return a.iVal == b.iVal;
    case VT_I4: return a.lVal == b.lVal;
    case VT_UI2: return a.uiVal == b.uiVal;
    case VT_BOOL: return a.boolVal == b.boolVal;
    case VT_BSTR:
      return SysStringLen(a.bstrVal) == SysStringLen(b.bstrVal) &&
             std::memcmp(a.bstrVal, b.bstrVal, 2 * SysStringLen(a.bstrVal)) == 0;
  }
  return false;
}

TEST(HbtopcValues, WhatIsShownReadsBackAsTheSameValueForRandomScalars) {
  std::mt19937 rng(5);
  for (int run = 0; run < 3000; ++run) {
    Owned shown;
    switch (run % 6) {
      case 0: {
        shown.v.vt = VT_R4;
        std::uint32_t bits = rng();
        std::memcpy(&shown.v.fltVal, &bits, 4);
        if (!std::isfinite(shown.v.fltVal)) shown.v.fltVal = 0.1f * static_cast<float>(run);
        break;
      }
      case 1: shown.v.vt = VT_I2; shown.v.iVal = static_cast<SHORT>(rng()); break;
      case 2: shown.v.vt = VT_I4; shown.v.lVal = static_cast<LONG>(rng()); break;
      case 3: shown.v.vt = VT_BOOL; shown.v.boolVal = (rng() & 1) ? VARIANT_TRUE : VARIANT_FALSE; break;
      case 4: shown.v.vt = VT_UI2; shown.v.uiVal = static_cast<USHORT>(rng()); break;
      case 5: {
        std::u16string text;
        for (std::size_t k = rng() % 20; k > 0; --k) text.push_back(static_cast<char16_t>(0x20 + rng() % 0x500));
        shown.v.vt = VT_BSTR;
        shown.v.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
        break;
      }
    }
    Owned typed;
    std::string error;
    const std::string text = variant_text(shown.v);
    ASSERT_TRUE(parse_value(text, shown.v.vt, &typed.v, &error)) << text << ": " << error;
    EXPECT_TRUE(same(shown.v, typed.v)) << text;
  }
}

TEST(HbtopcValues, ArraysAsTheyAreShownWithOrWithoutBrackets) {
  Owned a;
  std::string error;
  ASSERT_TRUE(parse_value("[1.5, -2, 3e2]", VT_ARRAY | VT_R4, &a.v, &error)) << error;
  EXPECT_EQ(variant_text(a.v), "[1.5, -2, 300]");
  EXPECT_EQ(variant_json(a.v), "[1.5,-2,300]");
  Owned back;
  ASSERT_TRUE(parse_value(variant_text(a.v), VT_ARRAY | VT_R4, &back.v, &error));
  EXPECT_EQ(variant_text(back.v), "[1.5, -2, 300]");
  Owned bits;
  ASSERT_TRUE(parse_value("1,0,on,false", VT_ARRAY | VT_BOOL, &bits.v, &error)) << error;
  EXPECT_EQ(variant_json(bits.v), "[true,false,true,false]");
  Owned bad;
  EXPECT_FALSE(parse_value("1,x,3", VT_ARRAY | VT_R4, &bad.v, &error));
  EXPECT_EQ(error, "element 2: 'x' is not a number");
  EXPECT_EQ(bad.v.vt, VT_EMPTY);
}

TEST(HbtopcValues, TextThatDoesNotFitTheTypeIsRefusedWithTheReason) {
  Owned v;
  std::string error;
  EXPECT_FALSE(parse_value("12abc", VT_R4, &v.v, &error));
  EXPECT_EQ(error, "'12abc' is not a number");
  EXPECT_FALSE(parse_value("", VT_I2, &v.v, &error));
  EXPECT_FALSE(parse_value("40000", VT_I2, &v.v, &error));
  EXPECT_EQ(error, "'40000' does not fit VT_I2");
  EXPECT_FALSE(parse_value("2", VT_BOOL, &v.v, &error));
  EXPECT_FALSE(parse_value("1e39", VT_R4, &v.v, &error));
  EXPECT_EQ(v.v.vt, VT_EMPTY);
  // Unknown type: numbers go as numbers, anything else as text.
  ASSERT_TRUE(parse_value(" 7.25 ", VT_EMPTY, &v.v, &error));
  EXPECT_EQ(v.v.vt, VT_R8);
  EXPECT_EQ(v.v.dblVal, 7.25);
  Owned t;
  ASSERT_TRUE(parse_value("OPEN", VT_EMPTY, &t.v, &error));
  EXPECT_EQ(t.v.vt, VT_BSTR);
}

TEST(HbtopcValues, JsonForEveryKindStaysJson) {
  Owned f;
  f.v.vt = VT_R4;
  f.v.fltVal = 12.1f;
  EXPECT_EQ(variant_json(f.v), "12.1");  // not the double 12.100000381
  f.v.fltVal = NAN;
  EXPECT_EQ(variant_json(f.v), "null");
  EXPECT_EQ(variant_text(f.v), "nan");
  Owned s;
  s.v.vt = VT_BSTR;
  s.v.bstrVal = SysAllocString(u"a\"b\\c\n");
  EXPECT_EQ(variant_json(s.v), "\"a\\\"b\\\\c\\n\"");
  Owned e;
  EXPECT_EQ(variant_json(e.v), "null");
  EXPECT_EQ(variant_text(e.v), "(empty)");
}

TEST(HbtopcQuality, NamesTheOpcQualitiesAndTheirLimitBits) {
  EXPECT_EQ(quality_name(0xC0), "good");
  EXPECT_EQ(quality_name(0x1C), "bad_out_of_service");
  EXPECT_EQ(quality_name(0x18), "bad_comm_failure");
  EXPECT_EQ(quality_name(0x00), "bad");
  EXPECT_EQ(quality_name(0x44), "uncertain_last_usable_value");
  EXPECT_EQ(quality_name(0x55), "uncertain_eu_exceeded+low");
  EXPECT_EQ(quality_name(0xC3), "good+constant");
  EXPECT_EQ(quality_name(0x48), "uncertain_substatus_2");
  EXPECT_EQ(quality_name(0x80), "invalid_substatus_0");
  // Every word has a name that tells its class, and the high byte (vendor bits) is ignored.
  for (unsigned q = 0; q < 0x10000; q += 7) {
    const std::string name = quality_name(static_cast<std::uint16_t>(q));
    EXPECT_EQ(name, quality_name(static_cast<std::uint16_t>(q & 0xFF)));
    const unsigned cls = q & 0xC0;
    const std::string want = cls == 0xC0 ? "good" : cls == 0x40 ? "uncertain" : cls == 0 ? "bad" : "invalid";
    EXPECT_EQ(name.compare(0, want.size(), want), 0) << q;
  }
}

TEST(HbtopcTypeNames, EveryAutomationTypeHasItsName) {
  EXPECT_EQ(vartype_name(VT_DATE), "VT_DATE");
  EXPECT_EQ(vartype_name(VT_ARRAY | VT_DATE), "VT_ARRAY|VT_DATE");
  EXPECT_EQ(vartype_name(VT_ARRAY | VT_R4), "VT_ARRAY|VT_R4");
  EXPECT_EQ(vartype_name(VT_BYREF | VT_I4), "VT_BYREF|VT_I4");
  // No type a server hands out in a VARIANT shows as a bare number.
  for (VARTYPE vt : {VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_DISPATCH, VT_ERROR,
                     VT_BOOL, VT_VARIANT, VT_UNKNOWN, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT,
                     VT_UINT}) {
    EXPECT_NE(vartype_name(vt), "VT_" + std::to_string(vt)) << vt;
  }
  EXPECT_EQ(vartype_name(0x3F), "VT_63");  // a number no type has stays a number
}

}  // namespace
}  // namespace hbt::hbtopc
