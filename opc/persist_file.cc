#include "opc/persist_file.h"

#include "opc/com_util.h"
#include "opc/identity.h"

namespace hbt::opc {

bool configuration_file_name(std::string_view name) {
  std::size_t dot = name.find('.');
  return dot == std::string_view::npos || name.substr(dot + 1) == kAcronym;
}

HRESULT CImpIPersistFile::GetClassID(CLSID* clsid) {
  if (!clsid) return E_INVALIDARG;
  *clsid = kServerClsid;
  return S_OK;
}

HRESULT CImpIPersistFile::Load(LPCOLESTR file_name, DWORD) {
  if (!file_name) return E_INVALIDARG;
  return configuration_file_name(narrow(wide_view(file_name))) ? S_OK : OPC_E_INVALIDCONFIGFILE;
}

HRESULT CImpIPersistFile::GetCurFile(LPOLESTR* file_name) {
  if (!file_name) return E_FAIL;
  *file_name = task_wide_copy(std::u16string_view());
  return *file_name ? S_OK : E_OUTOFMEMORY;
}

}  // namespace hbt::opc
