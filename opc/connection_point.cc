// The server's connection point for IOPCShutdown, its container and the enumerator over it.
#include <atomic>
#include <new>

#include "opc/com_util.h"
#include "opc/connection_points.h"
#include "opc/server_tear_offs.h"

namespace hbt::opc {

class ImplOPCServerCP final : public IConnectionPoint {
 public:
  explicit ImplOPCServerCP(ImplCPC* container) : container_(container) {}

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (!is(riid, IID_IUnknown) && !is(riid, IID_IConnectionPoint)) return E_NOINTERFACE;
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  // The point lives as long as its container; its references are the server's.
  ULONG AddRef() override { return container_->AddRef(); }
  ULONG Release() override { return container_->Release(); }

  HRESULT GetConnectionInterface(IID* iid) override {
    if (!iid) return E_POINTER;
    *iid = IID_IOPCShutdown;
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
    return container_->server()->advise_shutdown(sink, cookie);
  }
  HRESULT Unadvise(DWORD cookie) override { return container_->server()->unadvise_shutdown(cookie); }
  HRESULT EnumConnections(IEnumConnections** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  ImplCPC* container_;
};

namespace {

class ImplEnumConnectionPoints final : public IEnumConnectionPoints {
 public:
  ImplEnumConnectionPoints(IConnectionPoint* point, std::size_t position) : point_(point), position_(position) {
    point_->AddRef();
  }
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (!is(riid, IID_IUnknown) && !is(riid, IID_IEnumConnectionPoints)) return E_NOINTERFACE;
    *object = static_cast<IEnumConnectionPoints*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT Next(ULONG count, IConnectionPoint** out, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    if (!out) return E_POINTER;
    ULONG n = 0;
    if (count > 0 && position_ == 0) {
      point_->AddRef();
      out[0] = point_;
      position_ = 1;
      n = 1;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    if (position_ + count > 1) return S_FALSE;
    position_ += count;
    return S_OK;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumConnectionPoints** out) override {
    if (!out) return E_POINTER;
    auto* clone = new (std::nothrow) ImplEnumConnectionPoints(point_, position_);
    *out = clone;
    if (!clone) return E_OUTOFMEMORY;
    clone->AddRef();
    return S_OK;
  }

 private:
  ~ImplEnumConnectionPoints() { point_->Release(); }
  IConnectionPoint* point_;
  std::size_t position_;
  std::atomic<ULONG> refs_{0};
};

}  // namespace

ImplCPC::ImplCPC(COPCDrvServer* server) : TearOff(server), point_(new ImplOPCServerCP(this)) {}

ImplCPC::~ImplCPC() { delete point_; }

HRESULT enumerate_connection_point(IConnectionPoint* point, IEnumConnectionPoints** out) {
  if (!out) return E_POINTER;
  auto* e = new (std::nothrow) ImplEnumConnectionPoints(point, 0);
  *out = e;
  if (!e) return E_OUTOFMEMORY;
  e->AddRef();
  return S_OK;
}

HRESULT ImplCPC::EnumConnectionPoints(IEnumConnectionPoints** out) { return enumerate_connection_point(point_, out); }

HRESULT ImplCPC::FindConnectionPoint(REFIID riid, IConnectionPoint** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!is(riid, IID_IOPCShutdown)) return CONNECT_E_NOCONNECTION;
  point_->AddRef();
  *out = point_;
  return S_OK;
}

}  // namespace hbt::opc
