// The server's tear-offs: IOPCServer, IOPCCommon and the shutdown connection point with its
// container.
#pragma once

#include <atomic>

#include "opc/server.h"
#include "opc/tear_off.h"

namespace hbt::opc {

class CImpIOPCServer final : public TearOff<IOPCServer, COPCDrvServer> {
 public:
  using TearOff::TearOff;
  HRESULT AddGroup(LPCWSTR a, BOOL b, DWORD c, OPCHANDLE d, LONG* e, FLOAT* f, DWORD g, OPCHANDLE* h, DWORD* i,
                   REFIID j, LPUNKNOWN* k) override {
    return owner_->AddGroup(a, b, c, d, e, f, g, h, i, j, k);
  }
  HRESULT GetErrorString(HRESULT code, LCID locale, LPWSTR* text) override {
    return owner_->GetErrorString(code, locale, text);
  }
  HRESULT GetGroupByName(LPCWSTR name, REFIID riid, LPUNKNOWN* out) override {
    return owner_->GetGroupByName(name, riid, out);
  }
  HRESULT GetStatus(OPCSERVERSTATUS** status) override { return owner_->GetStatus(status); }
  HRESULT RemoveGroup(OPCHANDLE h, BOOL force) override { return owner_->RemoveGroup(h, force); }
  HRESULT CreateGroupEnumerator(OPCENUMSCOPE scope, REFIID riid, LPUNKNOWN* out) override {
    return owner_->CreateGroupEnumerator(scope, riid, out);
  }
};

class CImpICommon final : public TearOff<IOPCCommon, COPCDrvServer> {
 public:
  using TearOff::TearOff;
  HRESULT SetLocaleID(LCID lcid) override { return owner_->SetLocaleID(lcid); }
  HRESULT GetLocaleID(LCID* lcid) override { return owner_->GetLocaleID(lcid); }
  HRESULT QueryAvailableLocaleIDs(DWORD* count, LCID** lcids) override {
    return owner_->QueryAvailableLocaleIDs(count, lcids);
  }
  HRESULT GetErrorString(HRESULT code, LPWSTR* text) override { return owner_->CommonGetErrorString(code, text); }
  HRESULT SetClientName(LPCWSTR name) override { return owner_->SetClientName(name); }
};

class ImplOPCServerCP;

// The container is a tear-off of the server; its one connection point keeps a count of its
// own and a reference on the server while it lives.
class ImplCPC final : public TearOff<IConnectionPointContainer, COPCDrvServer> {
 public:
  explicit ImplCPC(COPCDrvServer* server);
  ~ImplCPC();
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** out) override;
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** out) override;
  COPCDrvServer* server() const { return owner_; }
  HRESULT advise(IUnknown* sink, DWORD* cookie) { return owner_->advise_shutdown(sink, cookie); }
  HRESULT unadvise(DWORD cookie) { return owner_->unadvise_shutdown(cookie); }

 private:
  ImplOPCServerCP* point_;
};

}  // namespace hbt::opc
