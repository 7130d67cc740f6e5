#include "data_callback.h"

#include "ocidl.h"

namespace hbt::hbtopc {

HRESULT DataCallback::QueryInterface(REFIID riid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOPCDataCallback)) {
    *out = static_cast<IOPCDataCallback*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG DataCallback::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT DataCallback::OnDataChange(DWORD transaction, OPCHANDLE group, HRESULT master_quality, HRESULT master_error,
                                   DWORD count, OPCHANDLE* client_handles, VARIANT* values, WORD* qualities,
                                   FILETIME* timestamps, HRESULT* errors) {
  if (on_data_change)
    on_data_change({transaction, group, master_quality, master_error, count, client_handles, values, qualities,
                    timestamps, errors});
  return S_OK;
}

HRESULT DataCallback::OnReadComplete(DWORD transaction, OPCHANDLE group, HRESULT master_quality,
                                     HRESULT master_error, DWORD count, OPCHANDLE* client_handles, VARIANT* values,
                                     WORD* qualities, FILETIME* timestamps, HRESULT* errors) {
  if (on_read_complete)
    on_read_complete({transaction, group, master_quality, master_error, count, client_handles, values, qualities,
                      timestamps, errors});
  return S_OK;
}

HRESULT DataCallback::OnWriteComplete(DWORD transaction, OPCHANDLE group, HRESULT master_error, DWORD count,
                                      OPCHANDLE* client_handles, HRESULT* errors) {
  if (on_write_complete) on_write_complete({transaction, group, master_error, count, client_handles, errors});
  return S_OK;
}

HRESULT CallbackConnection::connect(IUnknown* group, IUnknown* sink) {
  disconnect();
  IConnectionPointContainer* container = nullptr;
  HRESULT hr = group->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
  if (FAILED(hr)) return hr;
  hr = container->FindConnectionPoint(IID_IOPCDataCallback, &point_);
  container->Release();
  if (FAILED(hr)) {
    point_ = nullptr;
    return hr;
  }
  hr = point_->Advise(sink, &cookie_);
  if (FAILED(hr)) {
    point_->Release();
    point_ = nullptr;
  }
  return hr;
}

void CallbackConnection::disconnect() {
  if (point_ == nullptr) return;
  point_->Unadvise(cookie_);
  point_->Release();
  point_ = nullptr;
}

}  // namespace hbt::hbtopc
