// The group's tear-offs: each forwards its interface's methods to COPCDrvGroup.
#pragma once

#include "opc/group.h"
#include "opc/tear_off.h"

namespace hbt::opc {

// IOPCGroupStateMgt spreads a new group deadband to items without one of their own;
// IOPCGroupStateMgt2 changes only the group's value.
template <bool kSpreadsDeadband>
class CImpIOPCGroupStateMgtT final : public TearOff<IOPCGroupStateMgt2, COPCDrvGroup> {
 public:
  using TearOff::TearOff;
  HRESULT GetState(DWORD* a, BOOL* b, LPWSTR* c, LONG* d, FLOAT* e, LCID* f, OPCHANDLE* g, OPCHANDLE* h) override {
    return owner_->GetState(a, b, c, d, e, f, g, h);
  }
  HRESULT SetState(DWORD* a, DWORD* b, BOOL* c, LONG* d, FLOAT* e, LCID* f, OPCHANDLE* g) override {
    return owner_->SetState(a, b, c, d, e, f, g, kSpreadsDeadband);
  }
  HRESULT SetName(LPCWSTR name) override { return owner_->SetName(name); }
  HRESULT CloneGroup(LPCWSTR name, REFIID riid, LPUNKNOWN* out) override { return owner_->CloneGroup(name, riid, out); }
  HRESULT SetKeepAlive(DWORD t, DWORD* revised) override { return owner_->SetKeepAlive(t, revised); }
  HRESULT GetKeepAlive(DWORD* t) override { return owner_->GetKeepAlive(t); }
};

class CImpIOPCItemMgt final : public TearOff<IOPCItemMgt, COPCDrvGroup> {
 public:
  using TearOff::TearOff;
  HRESULT AddItems(DWORD n, OPCITEMDEF* defs, OPCITEMRESULT** results, HRESULT** errors) override {
    return owner_->AddItems(n, defs, results, errors);
  }
  HRESULT ValidateItems(DWORD n, OPCITEMDEF* defs, BOOL blob, OPCITEMRESULT** results, HRESULT** errors) override {
    return owner_->ValidateItems(n, defs, blob, results, errors);
  }
  HRESULT RemoveItems(DWORD n, OPCHANDLE* h, HRESULT** errors) override { return owner_->RemoveItems(n, h, errors); }
  HRESULT SetActiveState(DWORD n, OPCHANDLE* h, BOOL active, HRESULT** errors) override {
    return owner_->SetActiveState(n, h, active, errors);
  }
  HRESULT SetClientHandles(DWORD n, OPCHANDLE* h, OPCHANDLE* c, HRESULT** errors) override {
    return owner_->SetClientHandles(n, h, c, errors);
  }
  HRESULT SetDatatypes(DWORD n, OPCHANDLE* h, VARTYPE* t, HRESULT** errors) override {
    return owner_->SetDatatypes(n, h, t, errors);
  }
  HRESULT CreateEnumerator(REFIID riid, LPUNKNOWN* out) override { return owner_->CreateEnumerator(riid, out); }
};

class CImpIOPCItemDeadbandMgt final : public TearOff<IOPCItemDeadbandMgt, COPCDrvGroup> {
 public:
  using TearOff::TearOff;
  HRESULT SetItemDeadband(DWORD n, OPCHANDLE* h, FLOAT* p, HRESULT** errors) override {
    return owner_->SetItemDeadband(n, h, p, errors);
  }
  HRESULT GetItemDeadband(DWORD n, OPCHANDLE* h, FLOAT** p, HRESULT** errors) override {
    return owner_->GetItemDeadband(n, h, p, errors);
  }
  HRESULT ClearItemDeadband(DWORD n, OPCHANDLE* h, HRESULT** errors) override {
    return owner_->ClearItemDeadband(n, h, errors);
  }
};

}  // namespace hbt::opc
