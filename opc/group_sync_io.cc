// IOPCSyncIO and IOPCSyncIO2 of COPCDrvGroup: reads always from the device, writes queued
// through the host library. The group lock is held only to keep the listed items alive
// while they are read or written.
#include "com/task_memory.h"
#include "com/variant.h"
#include "opc/com_util.h"
#include "opc/group.h"
#include "opc/group_for_items.h"
#include "opc/item.h"

namespace hbt::opc {
namespace {

// Frees every array of a failed call and clears the client's pointers.
template <class... T>
void free_all(T**... out) {
  ((com::CoTaskMemFree(*out), *out = nullptr), ...);
}

}  // namespace

HRESULT COPCDrvGroup::Read(OPCDATASOURCE /*dwSource*/, DWORD dwCount, OPCHANDLE* phServer,
                           OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) {
  if (ppItemValues) *ppItemValues = nullptr;
  if (ppErrors) *ppErrors = nullptr;
  if (dwCount == 0 || !phServer || !ppItemValues || !ppErrors) return E_INVALIDARG;
  auto* states = task_array<OPCITEMSTATE>(dwCount);  // zeroed: a bad handle's entry stays so
  if (!states) return E_OUTOFMEMORY;
  HRESULT hr = for_items(dwCount, phServer, ppErrors, true, [&](DWORD i, auto it) {
    OPCITEMSTATE& s = states[i];
    s.hClient = it->second->client_handle();
    return it->second->read(ReadSource::kDevice, &s.vDataValue, &s.wQuality, &s.ftTimeStamp);
  });
  if (FAILED(hr)) {
    free_all(&states);
    return hr;
  }
  *ppItemValues = states;
  return hr;
}

HRESULT COPCDrvGroup::ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, VARIANT** ppvValues,
                                 WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors) {
  for (void** out : {reinterpret_cast<void**>(ppvValues), reinterpret_cast<void**>(ppwQualities),
                     reinterpret_cast<void**>(ppftTimeStamps), reinterpret_cast<void**>(ppErrors)})
    if (out) *out = nullptr;
  if (dwCount == 0 || !phServer || !pdwMaxAge || !ppvValues || !ppwQualities || !ppftTimeStamps || !ppErrors)
    return E_INVALIDARG;
  // Zeroed: a bad handle's value is empty, its quality and timestamp 0.
  auto* values = task_array<VARIANT>(dwCount);
  auto* qualities = task_array<WORD>(dwCount);
  auto* stamps = task_array<FILETIME>(dwCount);
  HRESULT hr = E_OUTOFMEMORY;
  if (values && qualities && stamps)
    hr = for_items(dwCount, phServer, ppErrors, true, [&](DWORD i, auto it) {
      return it->second->read(ReadSource::kDevice, &values[i], &qualities[i], &stamps[i]);
    });
  if (FAILED(hr)) {
    free_all(&values, &qualities, &stamps);
    return hr;
  }
  *ppvValues = values;
  *ppwQualities = qualities;
  *ppftTimeStamps = stamps;
  return hr;
}

HRESULT COPCDrvGroup::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) {
  if (ppErrors) *ppErrors = nullptr;
  if (!pItemValues) return E_INVALIDARG;
  return for_items(dwCount, phServer, ppErrors, true,
                   [&](DWORD i, auto it) { return it->second->write(pItemValues[i]); });
}

HRESULT COPCDrvGroup::WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT, HRESULT** ppErrors) {
  if (ppErrors) *ppErrors = nullptr;
  if (!pItemVQT) return E_INVALIDARG;
  return for_items(dwCount, phServer, ppErrors, true,
                   [&](DWORD i, auto it) { return it->second->write_vqt(pItemVQT[i]); });
}

}  // namespace hbt::opc
