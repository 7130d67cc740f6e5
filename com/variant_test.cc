#include "com/variant.h"

#include <gtest/gtest.h>

#include "com/bstr.h"
#include "com/safearray.h"
#include "com/unknown.h"

namespace hbt::com {
namespace {

struct CountedObject final : IUnknown {
  ULONG references = 1;
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
};

TEST(Variant, CopyDuplicatesStringsAndArrays) {
  VARIANT a, b;
  VariantInit(&a);
  VariantInit(&b);
  a.vt = VT_BSTR;
  a.bstrVal = SysAllocString(u"x");
  ASSERT_EQ(VariantCopy(&b, &a), S_OK);
  EXPECT_NE(b.bstrVal, a.bstrVal);
  EXPECT_EQ(bstr_view(b.bstrVal), u"x");

  VARIANT array;
  VariantInit(&array);
  array.vt = VT_ARRAY | VT_BOOL;
  array.parray = SafeArrayCreateVector(VT_BOOL, 0, 2);
  ASSERT_EQ(VariantCopy(&b, &array), S_OK);  // clears b's string first
  EXPECT_EQ(b.vt, VT_ARRAY | VT_BOOL);
  EXPECT_NE(b.parray, array.parray);
  VariantClear(&a);
  VariantClear(&b);
  VariantClear(&array);
  EXPECT_EQ(array.vt, VT_EMPTY);
}

TEST(Variant, InterfacesAreCountedNotCopied) {
  CountedObject object;
  VARIANT a, b;
  VariantInit(&a);
  VariantInit(&b);
  a.vt = VT_UNKNOWN;
  a.punkVal = &object;
  ASSERT_EQ(VariantCopy(&b, &a), S_OK);
  EXPECT_EQ(object.references, 2u);
  VariantClear(&b);
  EXPECT_EQ(object.references, 1u);
  a.vt = VT_EMPTY;
}

TEST(Variant, ClearRefusesUnknownTypesAndLeavesReferencesAlone) {
  VARIANT v;
  VariantInit(&v);
  v.vt = 0x7FF;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  EXPECT_EQ(v.vt, 0x7FF);
  BSTR owned = SysAllocString(u"mine");
  v.vt = VT_BSTR | VT_BYREF;
  v.pbstrVal = &owned;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(bstr_view(owned), u"mine");  // still alive: a reference owns nothing
  SysFreeString(owned);
}

}  // namespace
}  // namespace hbt::com
