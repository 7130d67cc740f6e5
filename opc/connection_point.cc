// The server's connection point for IOPCShutdown, its container and the enumerator over it.
#include <atomic>
#include <new>

#include "opc/com_util.h"
#include "opc/connection_points.h"
#include "opc/server_tear_offs.h"

namespace hbt::opc {

class ImplOPCServerCP final : public ConnectionPoint<ImplCPC> {
 public:
  explicit ImplOPCServerCP(ImplCPC* container) : ConnectionPoint(container, IID_IOPCShutdown) {}
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
