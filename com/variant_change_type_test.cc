#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "com/bstr.h"
#include "com/safearray.h"
#include "com/variant.h"

namespace hbt::com {
namespace {

// A variant that frees itself, for tests.
struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  ~Var() { VariantClear(&v); }
  Var(const Var&) = delete;
};

void set(VARIANT* v, VARTYPE vt, double value) {
  VariantInit(v);
  v->vt = vt;
  switch (vt) {
    case VT_I1: v->cVal = static_cast<CHAR>(value); break;
    case VT_UI1: v->bVal = static_cast<BYTE>(value); break;
    case VT_I2: v->iVal = static_cast<SHORT>(value); break;
    case VT_UI2: v->uiVal = static_cast<USHORT>(value); break;
    case VT_I4: v->lVal = static_cast<LONG>(value); break;
    case VT_UI4: v->ulVal = static_cast<ULONG>(value); break;
    case VT_INT: v->intVal = static_cast<INT>(value); break;
    case VT_R4: v->fltVal = static_cast<float>(value); break;
    case VT_R8: v->dblVal = value; break;
    case VT_DATE: v->date = value; break;
    case VT_BOOL: v->boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
    default: FAIL() << "no numeric setter for " << vt;
  }
}

void set_text(VARIANT* v, const std::string& text) {
  VariantInit(v);
  v->vt = VT_BSTR;
  v->bstrVal = bstr_from_utf8(text);
}

// The converted value as a double (whole-number targets) for comparison.
double number_of(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1: return v.cVal;
    case VT_UI1: return v.bVal;
    case VT_I2: return v.iVal;
    case VT_UI2: return v.uiVal;
    case VT_I4: return v.lVal;
    case VT_UI4: return v.ulVal;
    case VT_INT: return v.intVal;
    case VT_UINT: return v.uintVal;
    case VT_I8: return static_cast<double>(v.llVal);
    case VT_UI8: return static_cast<double>(v.ullVal);
    case VT_R4: return v.fltVal;
    case VT_R8: return v.dblVal;
    case VT_DATE: return v.date;
    case VT_BOOL: return v.boolVal;
    default: return std::nan("");
  }
}

struct NumberCase {
  VARTYPE from;
  double value;
  VARTYPE to;
  HRESULT hr;
  double expected;  // when hr is S_OK
};

class NumberConversion : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberConversion, GivesTheDocumentedResult) {
  const NumberCase& c = GetParam();
  Var src, dest;
  set(&src.v, c.from, c.value);
  HRESULT hr = VariantChangeType(&dest.v, &src.v, 0, c.to);
  ASSERT_EQ(hr, c.hr) << "from " << c.from << " value " << c.value << " to " << c.to;
  if (hr == S_OK) {
    EXPECT_EQ(dest.v.vt, c.to);
    EXPECT_EQ(number_of(dest.v), c.expected);
  } else {
    EXPECT_EQ(dest.v.vt, VT_EMPTY) << "a failed conversion leaves the destination alone";
  }
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    RealToWholeRoundsHalfToEven, NumberConversion,
    ::testing::Values(NumberCase{VT_R8, 2.5, VT_I2, S_OK, 2}, NumberCase{VT_R8, 3.5, VT_I2, S_OK, 4},
                      NumberCase{VT_R8, -2.5, VT_I2, S_OK, -2}, NumberCase{VT_R8, -3.5, VT_I2, S_OK, -4},
                      NumberCase{VT_R8, 2.4999, VT_I4, S_OK, 2}, NumberCase{VT_R8, -0.6, VT_I4, S_OK, -1},
                      NumberCase{VT_R4, 0.5, VT_UI1, S_OK, 0}, NumberCase{VT_R4, 1.5, VT_UI1, S_OK, 2},
                      NumberCase{VT_DATE, 45000.5, VT_I4, S_OK, 45000}, NumberCase{VT_R8, 7.5, VT_INT, S_OK, 8}));

INSTANTIATE_TEST_SUITE_P(
    RangeEdges, NumberConversion,
    ::testing::Values(NumberCase{VT_R8, 32767.4, VT_I2, S_OK, 32767},
                      NumberCase{VT_R8, 32767.5, VT_I2, DISP_E_OVERFLOW, 0},
                      NumberCase{VT_R8, -32768.5, VT_I2, S_OK, -32768},
                      NumberCase{VT_R8, -32768.6, VT_I2, DISP_E_OVERFLOW, 0},
                      NumberCase{VT_R8, -0.4, VT_UI1, S_OK, 0}, NumberCase{VT_R8, -0.6, VT_UI1, DISP_E_OVERFLOW, 0},
                      NumberCase{VT_R8, 254.5, VT_UI1, S_OK, 254},
                      NumberCase{VT_R8, 255.5, VT_UI1, DISP_E_OVERFLOW, 0},
                      NumberCase{VT_R8, 2147483647.4, VT_I4, S_OK, 2147483647},
                      NumberCase{VT_R8, 2147483648.0, VT_I4, DISP_E_OVERFLOW, 0},
                      NumberCase{VT_R8, 4294967295.0, VT_UI4, S_OK, 4294967295.0},
                      NumberCase{VT_R8, 9.3e18, VT_I8, DISP_E_OVERFLOW, 0},
                      NumberCase{VT_R8, kNaN, VT_I4, DISP_E_OVERFLOW, 0},
                      NumberCase{VT_I4, -1, VT_UI2, DISP_E_OVERFLOW, 0}, NumberCase{VT_I4, 65535, VT_UI2, S_OK, 65535},
                      NumberCase{VT_I4, 65536, VT_UI2, DISP_E_OVERFLOW, 0},
                      NumberCase{VT_I4, 128, VT_I1, DISP_E_OVERFLOW, 0}, NumberCase{VT_I4, -128, VT_I1, S_OK, -128},
                      NumberCase{VT_UI4, 2147483648.0, VT_I4, DISP_E_OVERFLOW, 0},
                      NumberCase{VT_UI2, 40000, VT_I2, DISP_E_OVERFLOW, 0},
                      NumberCase{VT_R8, 3.0e38, VT_R4, S_OK, static_cast<double>(3.0e38f)},
                      NumberCase{VT_R8, 3.5e39, VT_R4, DISP_E_OVERFLOW, 0},
                      NumberCase{VT_R8, -3.5e39, VT_R4, DISP_E_OVERFLOW, 0},
                      NumberCase{VT_R8, 1e7, VT_DATE, DISP_E_OVERFLOW, 0},
                      NumberCase{VT_R8, -657434, VT_DATE, S_OK, -657434},
                      NumberCase{VT_R8, -657435, VT_DATE, DISP_E_OVERFLOW, 0}));

INSTANTIATE_TEST_SUITE_P(
    BooleansAreMinusOneAndZero, NumberConversion,
    ::testing::Values(NumberCase{VT_BOOL, 1, VT_I2, S_OK, -1}, NumberCase{VT_BOOL, 1, VT_I4, S_OK, -1},
                      NumberCase{VT_BOOL, 1, VT_R4, S_OK, -1}, NumberCase{VT_BOOL, 1, VT_R8, S_OK, -1},
                      NumberCase{VT_BOOL, 0, VT_R8, S_OK, 0}, NumberCase{VT_BOOL, 1, VT_UI1, S_OK, 255},
                      NumberCase{VT_BOOL, 1, VT_UI2, S_OK, 65535},
                      NumberCase{VT_BOOL, 1, VT_UINT, DISP_E_OVERFLOW, 0}, NumberCase{VT_BOOL, 0, VT_UINT, S_OK, 0},
                      NumberCase{VT_I4, 2, VT_BOOL, S_OK, VARIANT_TRUE}, NumberCase{VT_I4, 0, VT_BOOL, S_OK, 0},
                      NumberCase{VT_R8, 0.0001, VT_BOOL, S_OK, VARIANT_TRUE},
                      NumberCase{VT_R8, kNaN, VT_BOOL, S_OK, VARIANT_TRUE},
                      NumberCase{VT_UI1, 0, VT_BOOL, S_OK, 0}));

struct TextToNumberCase {
  const char* text;
  VARTYPE to;
  HRESULT hr;
  double expected;
};

class TextToNumber : public ::testing::TestWithParam<TextToNumberCase> {};

TEST_P(TextToNumber, ReadsTheEnglishForms) {
  const TextToNumberCase& c = GetParam();
  Var src, dest;
  set_text(&src.v, c.text);
  HRESULT hr = VariantChangeType(&dest.v, &src.v, 0, c.to);
  ASSERT_EQ(hr, c.hr) << '"' << c.text << "\" to " << c.to;
  if (hr == S_OK) {
    EXPECT_EQ(number_of(dest.v), c.expected) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextToNumber,
    ::testing::Values(TextToNumberCase{" 42 ", VT_I4, S_OK, 42}, TextToNumberCase{"+7", VT_I2, S_OK, 7},
                      TextToNumberCase{"1,234", VT_I4, S_OK, 1234}, TextToNumberCase{"(5)", VT_I4, S_OK, -5},
                      TextToNumberCase{"5-", VT_I4, S_OK, -5}, TextToNumberCase{"&H1F", VT_I4, S_OK, 31},
                      TextToNumberCase{"&o17", VT_UI1, S_OK, 15}, TextToNumberCase{"2.5", VT_I4, S_OK, 2},
                      TextToNumberCase{"3.5", VT_I4, S_OK, 4}, TextToNumberCase{"1e3", VT_I2, S_OK, 1000},
                      TextToNumberCase{"-1.5E-1", VT_R8, S_OK, -0.15}, TextToNumberCase{".5", VT_R4, S_OK, 0.5},
                      TextToNumberCase{"3.25", VT_R4, S_OK, 3.25},
                      TextToNumberCase{"-2147483648", VT_I4, S_OK, -2147483648.0},
                      TextToNumberCase{"2147483648", VT_I4, DISP_E_OVERFLOW, 0},
                      TextToNumberCase{"9223372036854775807", VT_I8, S_OK, 9223372036854775807.0},
                      TextToNumberCase{"-9223372036854775808", VT_I8, S_OK, -9223372036854775808.0},
                      TextToNumberCase{"9223372036854775808", VT_I8, DISP_E_OVERFLOW, 0},
                      TextToNumberCase{"18446744073709551615", VT_UI8, S_OK, 18446744073709551615.0},
                      TextToNumberCase{"-1", VT_UI4, DISP_E_OVERFLOW, 0}, TextToNumberCase{"-0", VT_UI4, S_OK, 0},
                      TextToNumberCase{"1e39", VT_R4, DISP_E_OVERFLOW, 0},
                      TextToNumberCase{"1e999", VT_R8, DISP_E_OVERFLOW, 0},
                      TextToNumberCase{"abc", VT_I4, DISP_E_TYPEMISMATCH, 0},
                      TextToNumberCase{"", VT_R8, DISP_E_TYPEMISMATCH, 0},
                      TextToNumberCase{"1.2.3", VT_R8, DISP_E_TYPEMISMATCH, 0},
                      TextToNumberCase{",5", VT_I4, DISP_E_TYPEMISMATCH, 0},
                      TextToNumberCase{"5e", VT_R8, DISP_E_TYPEMISMATCH, 0},
                      TextToNumberCase{"true", VT_BOOL, S_OK, VARIANT_TRUE},
                      TextToNumberCase{" FALSE", VT_BOOL, S_OK, 0}, TextToNumberCase{"-3", VT_BOOL, S_OK, VARIANT_TRUE},
                      TextToNumberCase{"0.0", VT_BOOL, S_OK, 0},
                      TextToNumberCase{"maybe", VT_BOOL, DISP_E_TYPEMISMATCH, 0}));

std::string text_of(const VARIANT& v) { return utf8_from_utf16(bstr_view(v.bstrVal)); }

std::string to_text(VARTYPE vt, double value, USHORT flags = 0) {
  Var src, dest;
  set(&src.v, vt, value);
  EXPECT_EQ(VariantChangeType(&dest.v, &src.v, flags, VT_BSTR), S_OK);
  return text_of(dest.v);
}

TEST(VariantToText, NumbersUseTheirSignificantDigitsAndAnUpperCaseExponent) {
  EXPECT_EQ(to_text(VT_I4, -17), "-17");
  EXPECT_EQ(to_text(VT_UI4, 4294967295.0), "4294967295");
  EXPECT_EQ(to_text(VT_R4, 0.1), "0.1");  // 7 digits hide the float's binary error
  EXPECT_EQ(to_text(VT_R8, 0.1), "0.1");
  EXPECT_EQ(to_text(VT_R4, 1234567.0), "1234567");
  EXPECT_EQ(to_text(VT_R8, 1.0 / 3), "0.333333333333333");
  EXPECT_EQ(to_text(VT_R4, 1e20), "1E+20");
  EXPECT_EQ(to_text(VT_R8, 1.5e-5), "1.5E-05");
  EXPECT_EQ(to_text(VT_R8, -0.0), "0");
}

TEST(VariantToText, BooleansAreNumbersUnlessAlphaIsAsked) {
  EXPECT_EQ(to_text(VT_BOOL, 1), "-1");
  EXPECT_EQ(to_text(VT_BOOL, 0), "0");
  EXPECT_EQ(to_text(VT_BOOL, 1, VARIANT_ALPHABOOL), "True");
  EXPECT_EQ(to_text(VT_BOOL, 0, VARIANT_ALPHABOOL), "False");
}

TEST(VariantToText, DatesAreWrittenTheAmericanWay) {
  EXPECT_EQ(to_text(VT_DATE, 45000.25), "3/15/2023 6:00:00 AM");
  EXPECT_EQ(to_text(VT_DATE, 45000.0), "3/15/2023");
  EXPECT_EQ(to_text(VT_DATE, 45000.75), "3/15/2023 6:00:00 PM");
  EXPECT_EQ(to_text(VT_DATE, 0.0), "12:00:00 AM");
  EXPECT_EQ(to_text(VT_DATE, 0.5), "12:00:00 PM");
  EXPECT_EQ(to_text(VT_DATE, 1.0), "12/31/1899");
  EXPECT_EQ(to_text(VT_DATE, -1.25), "12/29/1899 6:00:00 AM");
}

TEST(TextToDate, ReadsTheWrittenFormsBack) {
  struct {
    const char* text;
    HRESULT hr;
    double date;
  } cases[] = {
      {"3/15/2023 6:00:00 AM", S_OK, 45000.25}, {"3/15/2023", S_OK, 45000.0},
      {"2023-03-15 18:00", S_OK, 45000.75},     {"2023-03-15T06:00:00", S_OK, 45000.25},
      {"12:00:00 PM", S_OK, 0.5},               {"12:00 AM", S_OK, 0.0},
      {"3/15/23", S_OK, 45000.0},               {"12/29/1899 6:00:00 AM", S_OK, -1.25},
      {"2/30/2023", DISP_E_TYPEMISMATCH, 0},    {"13:00 PM", DISP_E_TYPEMISMATCH, 0},
      {"25:00", DISP_E_TYPEMISMATCH, 0},        {"hello", DISP_E_TYPEMISMATCH, 0},
      {"45000", DISP_E_TYPEMISMATCH, 0},        {"2023-03-15 6:00 tomorrow", DISP_E_TYPEMISMATCH, 0},
  };
  for (const auto& c : cases) {
    Var src, dest;
    set_text(&src.v, c.text);
    ASSERT_EQ(VariantChangeType(&dest.v, &src.v, 0, VT_DATE), c.hr) << c.text;
    if (c.hr == S_OK) {
      EXPECT_DOUBLE_EQ(dest.v.date, c.date) << c.text;
    }
  }
}

TEST(VariantChangeType, EmptyIsZeroAndNullConvertsToNothingButNull) {
  Var empty, dest;
  ASSERT_EQ(VariantChangeType(&dest.v, &empty.v, 0, VT_I4), S_OK);
  EXPECT_EQ(dest.v.lVal, 0);
  ASSERT_EQ(VariantChangeType(&dest.v, &empty.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(SysStringLen(dest.v.bstrVal), 0u);
  EXPECT_NE(dest.v.bstrVal, nullptr) << "an empty BSTR, not a missing one";
  ASSERT_EQ(VariantChangeType(&dest.v, &empty.v, 0, VT_BOOL), S_OK);
  EXPECT_EQ(dest.v.boolVal, VARIANT_FALSE);

  Var null;
  null.v.vt = VT_NULL;
  EXPECT_EQ(VariantChangeType(&dest.v, &null.v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&dest.v, &null.v, 0, VT_NULL), S_OK);
  EXPECT_EQ(dest.v.vt, VT_NULL);
  Var number;
  set(&number.v, VT_R8, 1.5);
  EXPECT_EQ(VariantChangeType(&dest.v, &number.v, 0, VT_NULL), DISP_E_TYPEMISMATCH);
  // Anything converts to VT_EMPTY; the OPC server asks exactly that of requested types.
  EXPECT_EQ(VariantChangeType(&dest.v, &number.v, 0, VT_EMPTY), S_OK);
  EXPECT_EQ(dest.v.vt, VT_EMPTY);
}

TEST(VariantChangeType, EveryRequestableTypeAcceptsAnEmptyValueAndBadTypesAreRefused) {
  for (VARTYPE vt : {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_INT, VT_UINT, VT_I8, VT_UI8, VT_R4, VT_R8,
                     VT_BOOL, VT_BSTR, VT_DATE}) {
    Var empty, dest;
    EXPECT_EQ(VariantChangeType(&dest.v, &empty.v, 0, vt), S_OK) << vt;
    EXPECT_EQ(dest.v.vt, vt);
  }
  Var empty, dest;
  EXPECT_EQ(VariantChangeType(&dest.v, &empty.v, 0, 0x7FF), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&dest.v, &empty.v, 0, VT_I4 | VT_BYREF), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&dest.v, &empty.v, 0, VT_I4 | VT_VECTOR), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&dest.v, &empty.v, 0, VT_CY), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(nullptr, &empty.v, 0, VT_I4), E_INVALIDARG);
}

TEST(VariantChangeType, ConvertsInPlaceAndFreesTheOldString) {
  Var v;
  set_text(&v.v, "  12 ");
  ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_I4), S_OK);  // the sanitizer would see a leak
  EXPECT_EQ(v.v.vt, VT_I4);
  EXPECT_EQ(v.v.lVal, 12);
  ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(text_of(v.v), "12");
}

TEST(VariantChangeType, FailureInPlaceKeepsTheSource) {
  Var v;
  set_text(&v.v, "not a number");
  EXPECT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_R8), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(v.v.vt, VT_BSTR);
  EXPECT_EQ(text_of(v.v), "not a number");
}

TEST(VariantChangeType, FollowsByReferenceSources) {
  LONG value = -40;
  Var ref, dest;
  ref.v.vt = VT_I4 | VT_BYREF;
  ref.v.plVal = &value;
  ASSERT_EQ(VariantChangeType(&dest.v, &ref.v, 0, VT_R8), S_OK);
  EXPECT_EQ(dest.v.dblVal, -40.0);
  ref.v.vt = VT_EMPTY;  // the referenced value is not the variant's to free
}

TEST(VariantChangeType, ArraysConvertOnlyToTheirOwnType) {
  Var array, dest;
  array.v.vt = VT_ARRAY | VT_R4;
  array.v.parray = SafeArrayCreateVector(VT_R4, 0, 3);
  LONG i = 1;
  float x = 2.5f;
  ASSERT_EQ(SafeArrayPutElement(array.v.parray, &i, &x), S_OK);

  ASSERT_EQ(VariantChangeType(&dest.v, &array.v, 0, VT_ARRAY | VT_R4), S_OK);
  ASSERT_NE(dest.v.parray, array.v.parray) << "a copy, not a share";
  float y = 0;
  ASSERT_EQ(SafeArrayGetElement(dest.v.parray, &i, &y), S_OK);
  EXPECT_EQ(y, 2.5f);

  Var other;
  EXPECT_EQ(VariantChangeType(&other.v, &array.v, 0, VT_ARRAY | VT_R8), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&other.v, &array.v, 0, VT_R4), DISP_E_TYPEMISMATCH);
  Var scalar;
  set(&scalar.v, VT_R4, 1);
  EXPECT_EQ(VariantChangeType(&other.v, &scalar.v, 0, VT_ARRAY | VT_R4), DISP_E_TYPEMISMATCH);
}

}  // namespace
}  // namespace hbt::com
