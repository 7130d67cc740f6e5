#include "opc/direct_item_io.h"

#include "com/task_memory.h"
#include "com/variant.h"
#include "opc/item.h"
#include "opc/scratch_item.h"

namespace hbt::opc {
namespace {

template <class T>
T* task_array(std::size_t count) {
  return static_cast<T*>(com::CoTaskMemAlloc(count * sizeof(T)));
}

}  // namespace

HRESULT CImpIOPCItemIO::Read(DWORD dwCount, LPCWSTR* pszItemIDs, DWORD*, VARIANT** ppvValues, WORD** ppwQualities,
                             FILETIME** ppftTimeStamps, HRESULT** ppErrors) {
  if (ppvValues) *ppvValues = nullptr;
  if (ppwQualities) *ppwQualities = nullptr;
  if (ppftTimeStamps) *ppftTimeStamps = nullptr;
  if (ppErrors) *ppErrors = nullptr;
  if (dwCount == 0 || !pszItemIDs || !ppvValues || !ppwQualities || !ppftTimeStamps || !ppErrors) return E_INVALIDARG;
  auto* values = task_array<VARIANT>(dwCount);
  auto* qualities = task_array<WORD>(dwCount);
  auto* stamps = task_array<FILETIME>(dwCount);
  auto* errors = task_array<HRESULT>(dwCount);
  if (!values || !qualities || !stamps || !errors) {
    com::CoTaskMemFree(values);
    com::CoTaskMemFree(qualities);
    com::CoTaskMemFree(stamps);
    com::CoTaskMemFree(errors);
    return E_OUTOFMEMORY;
  }
  bool read_failed = false;
  for (DWORD i = 0; i < dwCount; ++i) {
    com::VariantInit(&values[i]);
    stamps[i] = FILETIME{};
    COPCDrvItem item(nullptr);
    HRESULT bound = bind_scratch(item, pszItemIDs[i], 0);
    if (FAILED(bound)) {
      // Only the slot tells of an ID that does not bind.
      errors[i] = bound;
      qualities[i] = item.quality();
      continue;
    }
    std::uint16_t quality = 0;
    errors[i] = item.read(ReadSource::kDevice, &values[i], &quality, &stamps[i]);
    qualities[i] = quality;
    if (FAILED(errors[i])) read_failed = true;
  }
  *ppvValues = values;
  *ppwQualities = qualities;
  *ppftTimeStamps = stamps;
  *ppErrors = errors;
  return read_failed ? S_FALSE : S_OK;
}

HRESULT CImpIOPCItemIO::WriteVQT(DWORD dwCount, LPCWSTR* pszItemIDs, OPCITEMVQT* pItemVQT, HRESULT** ppErrors) {
  if (ppErrors) *ppErrors = nullptr;
  if (dwCount == 0 || !ppErrors || !pszItemIDs || !pItemVQT) return E_INVALIDARG;
  auto* errors = task_array<HRESULT>(dwCount);
  if (!errors) return E_OUTOFMEMORY;
  bool write_failed = false;
  for (DWORD i = 0; i < dwCount; ++i) {
    COPCDrvItem item(nullptr);
    errors[i] = bind_scratch(item, pszItemIDs[i], 0);
    if (FAILED(errors[i])) continue;
    errors[i] = item.write_vqt(pItemVQT[i]);
    if (FAILED(errors[i])) write_failed = true;
  }
  *ppErrors = errors;
  return write_failed ? S_FALSE : S_OK;
}

}  // namespace hbt::opc
