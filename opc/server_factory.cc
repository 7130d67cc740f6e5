#include "opc/server_factory.h"

#include <atomic>
#include <new>

#include "opc/com_util.h"
#include "opc/identity.h"
#include "opc/library.h"
#include "opc/server.h"

namespace hbt::opc {
namespace {

class CImpIClassFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (!is(riid, IID_IUnknown) && !is(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* server = new (std::nothrow) COPCDrvServer();
    if (!server) return E_OUTOFMEMORY;
    // Counted before the first reference, so that a failed QueryInterface's release (which
    // runs the final-release hook) balances it.
    ++library().live_servers;
    if (FAILED(server->start())) {
      server->AddRef();
      server->Release();
      return E_UNEXPECTED;
    }
    HRESULT hr = server->QueryInterface(riid, object);
    if (FAILED(hr)) {
      server->AddRef();
      server->Release();
    }
    return hr;
  }
  HRESULT LockServer(BOOL lock) override {
    if (lock)
      ++library().locks;
    else
      --library().locks;
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{0};
};

}  // namespace

HRESULT get_class_object(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_INVALIDARG;
  *ppv = nullptr;
  if (!IsEqualGUID(rclsid, kServerClsid)) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) CImpIClassFactory();
  if (!factory) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(riid, ppv);
  if (FAILED(hr)) delete factory;
  return hr;
}

HRESULT can_unload_now() {
  const Library& lib = library();
  return lib.live_servers.load() == 0 && lib.locks.load() == 0 ? S_OK : S_FALSE;
}

}  // namespace hbt::opc
