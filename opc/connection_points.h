// What the server's and the groups' connection-point containers share: the connection point
// itself and the enumerator over it.
#pragma once

#include "opc/com_base.h"
#include "opc/com_util.h"

namespace hbt::opc {

// The one connection point of a container, for the interface `iid`. It lives as long as its
// container and counts its references there; Advise and Unadvise go to the container's
// advise and unadvise.
template <class Container>
class ConnectionPoint : public IConnectionPoint {
 public:
  ConnectionPoint(Container* container, const IID& iid) : container_(container), iid_(iid) {}

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (!is(riid, IID_IUnknown) && !is(riid, IID_IConnectionPoint)) return E_NOINTERFACE;
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return container_->AddRef(); }
  ULONG Release() override { return container_->Release(); }

  HRESULT GetConnectionInterface(IID* iid) override {
    if (!iid) return E_POINTER;
    *iid = iid_;
    return S_OK;
  }
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** out) override {
    if (!out) return E_POINTER;
    *out = container_;
    container_->AddRef();
    return S_OK;
  }
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override {
    if (!sink || !cookie) return E_POINTER;
    return container_->advise(sink, cookie);
  }
  HRESULT Unadvise(DWORD cookie) override { return container_->unadvise(cookie); }
  HRESULT EnumConnections(IEnumConnections** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  Container* container_;
  IID iid_;
};

// An enumerator over the one connection point of a container.
HRESULT enumerate_connection_point(IConnectionPoint* point, IEnumConnectionPoints** out);

}  // namespace hbt::opc
