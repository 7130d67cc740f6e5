// The group's connection point for IOPCDataCallback and its container.
#include <new>

#include "opc/com_util.h"
#include "opc/connection_points.h"
#include "opc/group_tear_offs.h"

namespace hbt::opc {

class ImplOPCGroupCP final : public IConnectionPoint {
 public:
  explicit ImplOPCGroupCP(ImplGroupCPC* container) : container_(container) {}

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (!is(riid, IID_IUnknown) && !is(riid, IID_IConnectionPoint)) return E_NOINTERFACE;
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  // The point lives as long as its container; its references are the group's.
  ULONG AddRef() override { return container_->AddRef(); }
  ULONG Release() override { return container_->Release(); }

  HRESULT GetConnectionInterface(IID* iid) override {
    if (!iid) return E_POINTER;
    *iid = IID_IOPCDataCallback;
    return S_OK;
  }
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** out) override {
    if (!out) return E_POINTER;
    *out = container_;
    container_->AddRef();
    return S_OK;
  }
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override { return container_->group()->advise_data_callback(sink, cookie); }
  HRESULT Unadvise(DWORD cookie) override { return container_->group()->unadvise_data_callback(cookie); }
  HRESULT EnumConnections(IEnumConnections** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  ImplGroupCPC* container_;
};

ImplGroupCPC::ImplGroupCPC(COPCDrvGroup* group) : TearOff(group), point_(new ImplOPCGroupCP(this)) {}

ImplGroupCPC::~ImplGroupCPC() { delete point_; }

HRESULT ImplGroupCPC::EnumConnectionPoints(IEnumConnectionPoints** out) {
  return enumerate_connection_point(point_, out);
}

HRESULT ImplGroupCPC::FindConnectionPoint(REFIID riid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!is(riid, IID_IOPCDataCallback)) return CONNECT_E_NOCONNECTION;
  point_->AddRef();
  *out = point_;
  return S_OK;
}

}  // namespace hbt::opc
