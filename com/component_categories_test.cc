// The component categories manager over a private registry: categories and their
// descriptions by locale, classes found by what they implement and require, and
// unregistration that leaves no key behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "com/guid_text.h"
#include "com/include/objbase.h"
#include "platform/registry.h"
#include "testsupport/test_environment.h"

namespace hbt::com {
namespace {

namespace registry = platform::registry;
constexpr auto kRoot = registry::Hive::ClassesRoot;

DEFINE_GUID(kCatA, 0x63D5F430, 0xCFE4, 0x11D1, 0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB);
DEFINE_GUID(kCatB, 0x63D5F432, 0xCFE4, 0x11D1, 0xB2, 0xC8, 0x00, 0x60, 0x08, 0x3B, 0xA1, 0xFB);
DEFINE_GUID(kCatC, 0xCC603642, 0x66D7, 0x48F1, 0xB6, 0x9A, 0xB6, 0x25, 0xE7, 0x36, 0x52, 0xD7);
DEFINE_GUID(kClass1, 0x11111111, 0x2222, 0x3333, 0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x01);
DEFINE_GUID(kClass2, 0x11111111, 0x2222, 0x3333, 0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x02);
DEFINE_GUID(kClass3, 0x11111111, 0x2222, 0x3333, 0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x03);

CATEGORYINFO info(const CATID& catid, LCID lcid, std::u16string_view text) {
  CATEGORYINFO c{};
  c.catid = catid;
  c.lcid = lcid;
  std::copy(text.begin(), text.end(), c.szDescription);
  return c;
}

std::vector<GUID> drain(IEnumGUID* e) {
  std::vector<GUID> out;
  GUID g;
  ULONG fetched = 0;
  while (e != nullptr && e->Next(1, &g, &fetched) == S_OK) out.push_back(g);
  if (e != nullptr) e->Release();
  return out;
}

class Categories : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                               reinterpret_cast<void**>(&reg)),
              S_OK);
    ASSERT_EQ(reg->QueryInterface(IID_ICatInformation, reinterpret_cast<void**>(&information)), S_OK);
  }
  void TearDown() override {
    if (information != nullptr) information->Release();
    if (reg != nullptr) reg->Release();
    CoUninitialize();
  }
  std::vector<GUID> classes_of(ULONG implemented_count, const CATID* implemented, ULONG required_count,
                               const CATID* required) {
    IEnumGUID* e = nullptr;
    EXPECT_EQ(information->EnumClassesOfCategories(implemented_count, implemented, required_count, required, &e), S_OK);
    return drain(e);
  }

  testsupport::TestEnvironment env;
  ICatRegister* reg = nullptr;
  ICatInformation* information = nullptr;
};

TEST_F(Categories, DescriptionsAreKeptPerLocale) {
  CATEGORYINFO infos[] = {info(kCatA, 0, u"Version 1.0 servers"), info(kCatA, 0x407, u"Server der Version 1.0"),
                          info(kCatB, 0x409, u"Version 2.0 servers")};
  ASSERT_EQ(reg->RegisterCategories(3, infos), S_OK);
  EXPECT_EQ(registry::get_string(kRoot, "Component Categories\\" + guid_text(kCatA), "0"), "Version 1.0 servers");
  EXPECT_EQ(registry::get_string(kRoot, "Component Categories\\" + guid_text(kCatA), "407"), "Server der Version 1.0");

  auto description = [&](const CATID& catid, LCID lcid) {
    LPWSTR text = nullptr;
    HRESULT hr = information->GetCategoryDesc(catid, lcid, &text);
    std::u16string out = SUCCEEDED(hr) ? std::u16string(text) : u"error";
    CoTaskMemFree(text);
    return out;
  };
  EXPECT_EQ(description(kCatA, 0x407), u"Server der Version 1.0");
  EXPECT_EQ(description(kCatA, 0x807), u"Server der Version 1.0") << "same language, other country";
  EXPECT_EQ(description(kCatA, 0x409), u"Version 1.0 servers") << "the neutral text";
  EXPECT_EQ(description(kCatB, LOCALE_SYSTEM_DEFAULT), u"Version 2.0 servers") << "any text before none";
  LPWSTR text = nullptr;
  EXPECT_EQ(information->GetCategoryDesc(kCatC, 0x409, &text), CAT_E_CATIDNOEXIST);
  ASSERT_TRUE(registry::create_key(kRoot, "Component Categories\\" + guid_text(kCatC)));
  EXPECT_EQ(information->GetCategoryDesc(kCatC, 0x409, &text), CAT_E_NODESCRIPTION);
  EXPECT_EQ(information->GetCategoryDesc(kCatA, 0x409, nullptr), E_INVALIDARG);

  IEnumCATEGORYINFO* e = nullptr;
  ASSERT_EQ(information->EnumCategories(0x407, &e), S_OK);
  CATEGORYINFO got[4]{};
  ULONG fetched = 0;
  EXPECT_EQ(e->Next(4, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 3u);
  e->Release();
  auto a = std::find_if(got, got + 3, [](const CATEGORYINFO& c) { return c.catid == kCatA; });
  ASSERT_NE(a, got + 3);
  EXPECT_EQ(std::u16string(a->szDescription), u"Server der Version 1.0");
  EXPECT_EQ(a->lcid, 0x407u);

  CATID gone[] = {kCatA, kCatC};
  EXPECT_EQ(reg->UnRegisterCategories(2, gone), S_OK);
  EXPECT_FALSE(registry::key_exists(kRoot, "Component Categories\\" + guid_text(kCatA)));
  EXPECT_TRUE(registry::key_exists(kRoot, "Component Categories\\" + guid_text(kCatB)));
  EXPECT_EQ(reg->RegisterCategories(1, nullptr), E_INVALIDARG);
}

TEST_F(Categories, ClassesAreFoundByWhatTheyImplementAndRequire) {
  CATID ab[] = {kCatA, kCatB};
  CATID c[] = {kCatC};
  ASSERT_EQ(reg->RegisterClassImplCategories(kClass1, 2, ab), S_OK);
  ASSERT_EQ(reg->RegisterClassImplCategories(kClass2, 1, &ab[1]), S_OK);
  ASSERT_EQ(reg->RegisterClassImplCategories(kClass3, 1, c), S_OK);
  ASSERT_EQ(reg->RegisterClassReqCategories(kClass2, 1, c), S_OK);
  EXPECT_TRUE(registry::key_exists(kRoot, "CLSID\\" + guid_text(kClass1) + "\\Implemented Categories\\" +
                                               guid_text(kCatA)));

  auto sorted = [](std::vector<GUID> v) {
    std::sort(v.begin(), v.end(), [](const GUID& x, const GUID& y) { return guid_text(x) < guid_text(y); });
    return v;
  };
  EXPECT_EQ(classes_of(1, &ab[0], ULONG(-1), nullptr), std::vector<GUID>{kClass1});
  EXPECT_EQ(sorted(classes_of(2, ab, ULONG(-1), nullptr)), (std::vector<GUID>{kClass1, kClass2}))
      << "one of the categories is enough";
  EXPECT_EQ(classes_of(2, ab, 0, nullptr), std::vector<GUID>{kClass1}) << "class 2 requires a category not offered";
  EXPECT_EQ(sorted(classes_of(2, ab, 1, c)), (std::vector<GUID>{kClass1, kClass2}));
  EXPECT_EQ(sorted(classes_of(ULONG(-1), nullptr, ULONG(-1), nullptr)), (std::vector<GUID>{kClass1, kClass2, kClass3}));

  EXPECT_EQ(information->IsClassOfCategories(kClass2, 1, &ab[1], 1, c), S_OK);
  EXPECT_EQ(information->IsClassOfCategories(kClass2, 1, &ab[1], 0, nullptr), S_FALSE);
  EXPECT_EQ(information->IsClassOfCategories(kClass3, 1, &ab[0], ULONG(-1), nullptr), S_FALSE);
  IEnumGUID* e = nullptr;
  EXPECT_EQ(information->EnumClassesOfCategories(0, ab, 0, nullptr, &e), E_INVALIDARG) << "the count cannot be zero";
  EXPECT_EQ(information->EnumClassesOfCategories(1, nullptr, 0, nullptr, &e), E_INVALIDARG);
  EXPECT_EQ(information->EnumClassesOfCategories(1, ab, 1, nullptr, &e), E_INVALIDARG);
  EXPECT_EQ(information->EnumClassesOfCategories(1, ab, 0, nullptr, nullptr), E_INVALIDARG);

  ASSERT_EQ(information->EnumImplCategoriesOfClass(kClass1, &e), S_OK);
  EXPECT_EQ(sorted(drain(e)), sorted({kCatA, kCatB}));
  ASSERT_EQ(information->EnumReqCategoriesOfClass(kClass2, &e), S_OK);
  EXPECT_EQ(drain(e), std::vector<GUID>{kCatC});
  ASSERT_EQ(information->EnumReqCategoriesOfClass(kClass1, &e), S_OK);
  EXPECT_TRUE(drain(e).empty());

  // Unregistering the last category of a class removes the list key too.
  EXPECT_EQ(reg->UnRegisterClassImplCategories(kClass1, 1, ab), S_OK);
  EXPECT_TRUE(registry::key_exists(kRoot, "CLSID\\" + guid_text(kClass1) + "\\Implemented Categories"));
  EXPECT_EQ(reg->UnRegisterClassImplCategories(kClass1, 2, ab), S_OK) << "an absent category is no error";
  EXPECT_FALSE(registry::key_exists(kRoot, "CLSID\\" + guid_text(kClass1) + "\\Implemented Categories"));
  EXPECT_EQ(reg->UnRegisterClassReqCategories(kClass2, 1, c), S_OK);
  EXPECT_FALSE(registry::key_exists(kRoot, "CLSID\\" + guid_text(kClass2) + "\\Required Categories"));
  EXPECT_EQ(classes_of(1, &ab[0], ULONG(-1), nullptr), std::vector<GUID>{});
}

TEST_F(Categories, EnumeratorsFollowTheCommonRules) {
  CATID ab[] = {kCatA, kCatB};
  ASSERT_EQ(reg->RegisterClassImplCategories(kClass1, 2, ab), S_OK);
  IEnumGUID* e = nullptr;
  ASSERT_EQ(information->EnumImplCategoriesOfClass(kClass1, &e), S_OK);
  GUID items[3];
  ULONG fetched = 7;
  EXPECT_EQ(e->Next(2, items, nullptr), E_INVALIDARG) << "more than one needs the count";
  EXPECT_EQ(e->Next(0, items, &fetched), S_OK);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(e->Skip(1), S_OK);
  IEnumGUID* copy = nullptr;
  ASSERT_EQ(e->Clone(&copy), S_OK);
  EXPECT_EQ(e->Next(3, items, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(copy->Next(1, items + 1, nullptr), S_OK) << "the copy starts where the original was";
  EXPECT_EQ(items[1], items[0]);
  EXPECT_EQ(e->Skip(1), S_FALSE);
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Next(2, items, &fetched), S_OK);
  EXPECT_EQ(fetched, 2u);
  IUnknown* unknown = nullptr;
  EXPECT_EQ(e->QueryInterface(IID_IEnumGUID, reinterpret_cast<void**>(&unknown)), S_OK);
  unknown->Release();
  EXPECT_EQ(e->QueryInterface(IID_IEnumString, reinterpret_cast<void**>(&unknown)), E_NOINTERFACE);
  copy->Release();
  e->Release();
}

TEST_F(Categories, TheManagerIsABuiltInClass) {
  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(CLSID_StdComponentCategoriesMgr, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  IUnknown* object = nullptr;
  EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown,
                                    reinterpret_cast<void**>(&object)),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IStream, reinterpret_cast<void**>(&object)), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  factory->Release();
  EXPECT_FALSE(registry::key_exists(kRoot, "CLSID\\" + guid_text(CLSID_StdComponentCategoriesMgr)))
      << "no registration needed";
}

}  // namespace
}  // namespace hbt::com
