// The standard component categories manager (ICatRegister, ICatInformation) over the keys
// Windows keeps: HKCR\Component Categories\{catid} with one text value per locale (named by
// the locale id in hexadecimal, "409"), and HKCR\CLSID\{clsid}\Implemented Categories\{catid}
// and ...\Required Categories\{catid} as bare keys.
#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "com/bstr.h"
#include "com/builtin_classes.h"
#include "com/enumerator.h"
#include "com/guid_text.h"
#include "com/task_memory.h"
#include "platform/registry.h"

namespace hbt::com {
namespace {

namespace registry = hbt::platform::registry;
constexpr registry::Hive kRoot = registry::Hive::ClassesRoot;
constexpr ULONG kAny = static_cast<ULONG>(-1);
constexpr std::size_t kDescriptionUnits = 128;

using GuidEnumerator = SnapshotEnumerator<IEnumGUID, GUID, IID_IEnumGUID>;
using CategoryEnumerator = SnapshotEnumerator<IEnumCATEGORYINFO, CATEGORYINFO, IID_IEnumCATEGORYINFO>;

std::string category_key(const CATID& catid) { return "Component Categories\\" + guid_text(catid); }
std::string class_categories_key(const CLSID& clsid, const char* kind) {
  return "CLSID\\" + guid_text(clsid) + "\\" + kind;
}
std::string locale_name(LCID lcid) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", lcid);
  return text;
}

std::vector<GUID> guid_subkeys(const std::string& key) {
  std::vector<GUID> out;
  for (const std::string& name : registry::subkeys(kRoot, key))
    if (std::optional<GUID> g = parse_guid(std::string_view(name))) out.push_back(*g);
  return out;
}

bool contains(const std::vector<GUID>& set, const GUID& g) { return std::find(set.begin(), set.end(), g) != set.end(); }

// The description for the locale: that locale's text, else one of the same language, else
// the neutral one, else any; false when the category has no text at all.
bool find_description(const std::string& key, LCID lcid, std::string* text, LCID* found) {
  std::vector<registry::Value> values = registry::values(kRoot, key);
  const registry::Value* best = nullptr;
  int best_rank = 0;
  for (const registry::Value& v : values) {
    if (v.type != registry::ValueType::String || v.name.empty()) continue;
    unsigned long id = 0;
    char* end = nullptr;
    id = std::strtoul(v.name.c_str(), &end, 16);
    if (end == v.name.c_str() || *end != '\0') continue;
    int rank = id == lcid ? 4 : (id & 0x3FF) == (lcid & 0x3FF) ? 3 : id == 0 ? 2 : 1;
    if (rank > best_rank) {
      best = &v;
      best_rank = rank;
      *found = static_cast<LCID>(id);
    }
  }
  if (best == nullptr) return false;
  *text = best->text;
  return true;
}

HRESULT registry_result(bool written) { return written ? S_OK : REGDB_E_WRITEREGDB; }

// Whether the class qualifies: it implements one of `implemented` (or any count is accepted)
// and everything it requires is among `required`.
bool class_matches(const CLSID& clsid, ULONG implemented_count, const CATID* implemented, ULONG required_count,
                   const CATID* required) {
  if (implemented_count != kAny) {
    std::vector<GUID> has = guid_subkeys(class_categories_key(clsid, "Implemented Categories"));
    bool any = false;
    for (ULONG i = 0; i < implemented_count && !any; ++i) any = contains(has, implemented[i]);
    if (!any) return false;
  }
  if (required_count != kAny) {
    std::vector<GUID> offered(required, required + required_count);
    for (const GUID& needed : guid_subkeys(class_categories_key(clsid, "Required Categories")))
      if (!contains(offered, needed)) return false;
  }
  return true;
}

HRESULT check_category_lists(ULONG implemented_count, const CATID* implemented, ULONG required_count,
                             const CATID* required) {
  if (implemented_count == 0) return E_INVALIDARG;
  if (implemented_count != kAny && implemented == nullptr) return E_INVALIDARG;
  if (required_count != kAny && required_count != 0 && required == nullptr) return E_INVALIDARG;
  return S_OK;
}

class CategoriesManager final : public ICatRegister, public ICatInformation {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ICatRegister) {
      *object = static_cast<ICatRegister*>(this);
    } else if (riid == IID_ICatInformation) {
      *object = static_cast<ICatInformation*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT RegisterCategories(ULONG count, CATEGORYINFO* categories) override {
    if (count > 0 && categories == nullptr) return E_INVALIDARG;
    return guarded([&] {
      for (ULONG i = 0; i < count; ++i) {
        const CATEGORYINFO& c = categories[i];
        std::u16string_view text(c.szDescription,
                                 std::find(c.szDescription, c.szDescription + kDescriptionUnits, u'\0') - c.szDescription);
        if (!registry::set_string(kRoot, category_key(c.catid), locale_name(c.lcid), utf8_from_utf16(text)))
          return REGDB_E_WRITEREGDB;
      }
      return S_OK;
    });
  }
  HRESULT UnRegisterCategories(ULONG count, CATID* catids) override {
    if (count > 0 && catids == nullptr) return E_INVALIDARG;
    return guarded([&] {
      for (ULONG i = 0; i < count; ++i)
        if (!registry::delete_key(kRoot, category_key(catids[i]))) return REGDB_E_WRITEREGDB;
      return S_OK;
    });
  }
  HRESULT RegisterClassImplCategories(REFCLSID clsid, ULONG count, CATID* catids) override {
    return register_class(clsid, "Implemented Categories", count, catids);
  }
  HRESULT UnRegisterClassImplCategories(REFCLSID clsid, ULONG count, CATID* catids) override {
    return unregister_class(clsid, "Implemented Categories", count, catids);
  }
  HRESULT RegisterClassReqCategories(REFCLSID clsid, ULONG count, CATID* catids) override {
    return register_class(clsid, "Required Categories", count, catids);
  }
  HRESULT UnRegisterClassReqCategories(REFCLSID clsid, ULONG count, CATID* catids) override {
    return unregister_class(clsid, "Required Categories", count, catids);
  }

  HRESULT EnumCategories(LCID lcid, IEnumCATEGORYINFO** out) override {
    if (out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    return guarded([&] {
      std::vector<CATEGORYINFO> items;
      for (const GUID& catid : guid_subkeys("Component Categories")) {
        CATEGORYINFO info{};
        info.catid = catid;
        info.lcid = lcid;
        std::string text;
        if (find_description(category_key(catid), lcid, &text, &info.lcid)) {
          std::u16string wide = utf16_from_utf8(text);
          std::size_t n = std::min(wide.size(), kDescriptionUnits - 1);
          std::copy_n(wide.begin(), n, info.szDescription);
        }
        items.push_back(info);
      }
      *out = CategoryEnumerator::create(std::move(items));
      return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    });
  }
  HRESULT GetCategoryDesc(REFCATID catid, LCID lcid, LPWSTR* description) override {
    if (description == nullptr) return E_INVALIDARG;
    *description = nullptr;
    return guarded([&] {
      std::string key = category_key(catid);
      if (!registry::key_exists(kRoot, key)) return CAT_E_CATIDNOEXIST;
      std::string text;
      LCID found = 0;
      if (!find_description(key, lcid, &text, &found)) return CAT_E_NODESCRIPTION;
      std::u16string wide = utf16_from_utf8(text);
      auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(WCHAR)));
      if (copy == nullptr) return E_OUTOFMEMORY;
      std::copy(wide.begin(), wide.end(), copy);
      copy[wide.size()] = u'\0';
      *description = copy;
      return S_OK;
    });
  }
  HRESULT EnumClassesOfCategories(ULONG implemented_count, const CATID* implemented, ULONG required_count,
                                  const CATID* required, IEnumGUID** out) override {
    if (out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    HRESULT hr = check_category_lists(implemented_count, implemented, required_count, required);
    if (FAILED(hr)) return hr;
    return guarded([&] {
      std::vector<GUID> classes;
      for (const GUID& clsid : guid_subkeys("CLSID"))
        if (class_matches(clsid, implemented_count, implemented, required_count, required)) classes.push_back(clsid);
      *out = GuidEnumerator::create(std::move(classes));
      return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    });
  }
  HRESULT IsClassOfCategories(REFCLSID clsid, ULONG implemented_count, const CATID* implemented, ULONG required_count,
                              const CATID* required) override {
    HRESULT hr = check_category_lists(implemented_count, implemented, required_count, required);
    if (FAILED(hr)) return hr;
    return guarded([&] {
      return class_matches(clsid, implemented_count, implemented, required_count, required) ? S_OK : S_FALSE;
    });
  }
  HRESULT EnumImplCategoriesOfClass(REFCLSID clsid, IEnumGUID** out) override {
    return enumerate_class(clsid, "Implemented Categories", out);
  }
  HRESULT EnumReqCategoriesOfClass(REFCLSID clsid, IEnumGUID** out) override {
    return enumerate_class(clsid, "Required Categories", out);
  }

 private:
  ~CategoriesManager() = default;

  template <typename Body>
  static HRESULT guarded(Body body) {
    try {
      return body();
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  static HRESULT register_class(REFCLSID clsid, const char* kind, ULONG count, const CATID* catids) {
    if (count > 0 && catids == nullptr) return E_INVALIDARG;
    return guarded([&] {
      for (ULONG i = 0; i < count; ++i)
        if (!registry::create_key(kRoot, class_categories_key(clsid, kind) + "\\" + guid_text(catids[i])))
          return REGDB_E_WRITEREGDB;
      return S_OK;
    });
  }
  // Removes the category keys, and the list key itself once it is empty.
  static HRESULT unregister_class(REFCLSID clsid, const char* kind, ULONG count, const CATID* catids) {
    if (count > 0 && catids == nullptr) return E_INVALIDARG;
    return guarded([&] {
      std::string list = class_categories_key(clsid, kind);
      for (ULONG i = 0; i < count; ++i)
        if (!registry::delete_key(kRoot, list + "\\" + guid_text(catids[i]))) return REGDB_E_WRITEREGDB;
      if (registry::key_exists(kRoot, list) && registry::subkeys(kRoot, list).empty() &&
          registry::values(kRoot, list).empty())
        return registry_result(registry::delete_key(kRoot, list));
      return S_OK;
    });
  }
  static HRESULT enumerate_class(REFCLSID clsid, const char* kind, IEnumGUID** out) {
    if (out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    return guarded([&] {
      *out = GuidEnumerator::create(guid_subkeys(class_categories_key(clsid, kind)));
      return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    });
  }

  std::atomic<ULONG> references_{1};
};

// The manager's class object: one per process, never freed.
class CategoriesFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* manager = new (std::nothrow) CategoriesManager;
    if (manager == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = static_cast<ICatRegister*>(manager)->QueryInterface(riid, object);
    static_cast<ICatRegister*>(manager)->Release();
    return hr;
  }
  HRESULT LockServer(BOOL) override { return S_OK; }
};

CategoriesFactory categories_factory;

}  // namespace

HRESULT component_categories_class_object(REFIID riid, void** object) {
  return categories_factory.QueryInterface(riid, object);
}

}  // namespace hbt::com
