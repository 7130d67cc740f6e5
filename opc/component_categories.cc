#include "opc/component_categories.h"

#include "opc/com_util.h"
#include "opc/identity.h"

namespace hbt::opc {
namespace {

CATID kCategoryIds[] = {CATID_OPCDAServer10, CATID_OPCDAServer20, CATID_OPCDAServer30};
const char16_t* const kDescriptions[] = {u"OPC Data Access Servers Version 1.0", u"OPC Data Access Servers Version 2.0",
                                         u"OPC Data Access Servers Version 3.0"};

// The standard component-categories manager of the COM runtime; null when it cannot be had.
ICatRegister* category_manager() {
  ICatRegister* manager = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                                reinterpret_cast<void**>(&manager));
  return SUCCEEDED(hr) ? manager : nullptr;
}

}  // namespace

HRESULT register_categories() {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ICatRegister* manager = category_manager();
  HRESULT result = E_FAIL;
  if (manager) {
    CATEGORYINFO info[3] = {};
    for (int i = 0; i < 3; ++i) {
      info[i].catid = kCategoryIds[i];
      info[i].lcid = 0;
      std::u16string_view text = kDescriptions[i];
      text.copy(info[i].szDescription, text.size());
    }
    manager->RegisterCategories(3, info);
    result = manager->RegisterClassImplCategories(kServerClsid, 3, kCategoryIds);
    manager->Release();
  }
  CoUninitialize();
  return result;
}

HRESULT unregister_categories() {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ICatRegister* manager = category_manager();
  HRESULT result = E_FAIL;
  if (manager) {
    result = manager->UnRegisterClassImplCategories(kServerClsid, 3, kCategoryIds);
    manager->Release();
  }
  CoUninitialize();
  return result;
}

}  // namespace hbt::opc
