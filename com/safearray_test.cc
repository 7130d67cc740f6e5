#include "com/safearray.h"

#include <gtest/gtest.h>

#include "com/bstr.h"
#include "com/variant.h"

namespace hbt::com {
namespace {

TEST(SafeArray, VectorHasItsBoundsAndRefusesIndicesOutsideThem) {
  SAFEARRAY* a = SafeArrayCreateVector(VT_R4, 3, 4);  // indices 3..6
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(SafeArrayGetDim(a), 1u);
  EXPECT_EQ(SafeArrayGetElemsize(a), 4u);
  LONG lower = 0, upper = 0;
  ASSERT_EQ(SafeArrayGetLBound(a, 1, &lower), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(a, 1, &upper), S_OK);
  EXPECT_EQ(lower, 3);
  EXPECT_EQ(upper, 6);
  EXPECT_EQ(SafeArrayGetUBound(a, 2, &upper), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(a, 0, &upper), DISP_E_BADINDEX);
  VARTYPE vt = 0;
  ASSERT_EQ(SafeArrayGetVartype(a, &vt), S_OK);
  EXPECT_EQ(vt, VT_R4);

  float value = 1.25f, out = 0;
  for (LONG i : {3, 6}) {
    ASSERT_EQ(SafeArrayPutElement(a, &i, &value), S_OK);
    ASSERT_EQ(SafeArrayGetElement(a, &i, &out), S_OK);
    EXPECT_EQ(out, 1.25f);
  }
  for (LONG i : {2, 7, -1}) {
    EXPECT_EQ(SafeArrayPutElement(a, &i, &value), DISP_E_BADINDEX) << i;
    EXPECT_EQ(SafeArrayGetElement(a, &i, &out), DISP_E_BADINDEX) << i;
  }
  EXPECT_EQ(SafeArrayDestroy(a), S_OK);
}

TEST(SafeArray, EmptyUpperBoundIsBelowTheLowerBound) {
  SAFEARRAY* a = SafeArrayCreateVector(VT_BOOL, 0, 0);
  ASSERT_NE(a, nullptr);
  LONG upper = 99;
  ASSERT_EQ(SafeArrayGetUBound(a, 1, &upper), S_OK);
  EXPECT_EQ(upper, -1);
  LONG i = 0;
  VARIANT_BOOL b;
  EXPECT_EQ(SafeArrayGetElement(a, &i, &b), DISP_E_BADINDEX);
  SafeArrayDestroy(a);
}

TEST(SafeArray, StringsAreCopiedInAndOut) {
  SAFEARRAY* a = SafeArrayCreateVector(VT_BSTR, 0, 2);
  BSTR s = SysAllocString(u"text");
  LONG i = 1;
  ASSERT_EQ(SafeArrayPutElement(a, &i, s), S_OK);
  SysFreeString(s);  // the array holds its own copy
  BSTR out = nullptr;
  ASSERT_EQ(SafeArrayGetElement(a, &i, &out), S_OK);
  EXPECT_EQ(bstr_view(out), u"text");
  SysFreeString(out);
  ASSERT_EQ(SafeArrayPutElement(a, &i, nullptr), S_OK);  // replaces (and frees) the old one
  LONG empty = 0;
  ASSERT_EQ(SafeArrayGetElement(a, &empty, &out), S_OK);
  EXPECT_EQ(out, nullptr);
  SafeArrayDestroy(a);  // frees what is left; the leak checker would see a miss
}

TEST(SafeArray, VariantElementsAndDeepCopies) {
  SAFEARRAY* a = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"inner");
  LONG i = 0;
  ASSERT_EQ(SafeArrayPutElement(a, &i, &v), S_OK);
  VariantClear(&v);

  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(a, &copy), S_OK);
  SafeArrayDestroy(a);
  VARIANT out;
  ASSERT_EQ(SafeArrayGetElement(copy, &i, &out), S_OK);
  EXPECT_EQ(out.vt, VT_BSTR);
  EXPECT_EQ(bstr_view(out.bstrVal), u"inner");
  VariantClear(&out);
  SafeArrayDestroy(copy);
}

TEST(SafeArray, ALockedArrayCannotBeDestroyed) {
  SAFEARRAY* a = SafeArrayCreateVector(VT_I2, 0, 2);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(a, &data), S_OK);
  static_cast<SHORT*>(data)[1] = 7;
  EXPECT_EQ(SafeArrayDestroy(a), DISP_E_ARRAYISLOCKED);
  ASSERT_EQ(SafeArrayUnaccessData(a), S_OK);
  EXPECT_EQ(SafeArrayUnlock(a), E_UNEXPECTED);
  LONG i = 1;
  SHORT out = 0;
  SafeArrayGetElement(a, &i, &out);
  EXPECT_EQ(out, 7);
  EXPECT_EQ(SafeArrayDestroy(a), S_OK);
}

TEST(SafeArray, OnlyOneDimensionAndKnownElementTypes) {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_I4, 2, bounds), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, bounds), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(0x7FF, 0, 1), nullptr);
  EXPECT_EQ(SafeArrayGetElement(nullptr, nullptr, nullptr), E_INVALIDARG);
}

}  // namespace
}  // namespace hbt::com
