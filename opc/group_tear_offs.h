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

// IOPCSyncIO alone, or with the IOPCSyncIO2 additions.
template <class Interface>
class CImpIOPCSyncIOT : public TearOff<Interface, COPCDrvGroup> {
 public:
  using TearOff<Interface, COPCDrvGroup>::TearOff;
  HRESULT Read(OPCDATASOURCE source, DWORD n, OPCHANDLE* h, OPCITEMSTATE** values, HRESULT** errors) override {
    return this->owner_->Read(source, n, h, values, errors);
  }
  HRESULT Write(DWORD n, OPCHANDLE* h, VARIANT* values, HRESULT** errors) override {
    return this->owner_->Write(n, h, values, errors);
  }
};

class CImpIOPCSyncIO final : public CImpIOPCSyncIOT<IOPCSyncIO> {
 public:
  using CImpIOPCSyncIOT::CImpIOPCSyncIOT;
};

class CImpIOPCSyncIO_2 final : public CImpIOPCSyncIOT<IOPCSyncIO2> {
 public:
  using CImpIOPCSyncIOT::CImpIOPCSyncIOT;
  HRESULT ReadMaxAge(DWORD n, OPCHANDLE* h, DWORD* age, VARIANT** values, WORD** qualities, FILETIME** stamps,
                     HRESULT** errors) override {
    return owner_->ReadMaxAge(n, h, age, values, qualities, stamps, errors);
  }
  HRESULT WriteVQT(DWORD n, OPCHANDLE* h, OPCITEMVQT* vqt, HRESULT** errors) override {
    return owner_->WriteVQT(n, h, vqt, errors);
  }
};

// IOPCAsyncIO2 alone, or with the IOPCAsyncIO3 additions.
template <class Interface>
class CImpIOPCAsyncIOT : public TearOff<Interface, COPCDrvGroup> {
 public:
  using TearOff<Interface, COPCDrvGroup>::TearOff;
  HRESULT Read(DWORD n, OPCHANDLE* h, DWORD id, DWORD* cancel, HRESULT** errors) override {
    return this->owner_->AsyncRead(n, h, id, cancel, errors);
  }
  HRESULT Write(DWORD n, OPCHANDLE* h, VARIANT* values, DWORD id, DWORD* cancel, HRESULT** errors) override {
    return this->owner_->AsyncWrite(n, h, values, id, cancel, errors);
  }
  HRESULT Refresh2(OPCDATASOURCE source, DWORD id, DWORD* cancel) override {
    return this->owner_->Refresh2(source, id, cancel);
  }
  HRESULT Cancel2(DWORD cancel) override { return this->owner_->Cancel2(cancel); }
  HRESULT SetEnable(BOOL enable) override { return this->owner_->SetEnable(enable); }
  HRESULT GetEnable(BOOL* enable) override { return this->owner_->GetEnable(enable); }
};

class CImpIOPCAsyncIO_2 final : public CImpIOPCAsyncIOT<IOPCAsyncIO2> {
 public:
  using CImpIOPCAsyncIOT::CImpIOPCAsyncIOT;
};

class CImpIOPCAsyncIO_3 final : public CImpIOPCAsyncIOT<IOPCAsyncIO3> {
 public:
  using CImpIOPCAsyncIOT::CImpIOPCAsyncIOT;
  HRESULT ReadMaxAge(DWORD n, OPCHANDLE* h, DWORD* age, DWORD id, DWORD* cancel, HRESULT** errors) override {
    return owner_->AsyncReadMaxAge(n, h, age, id, cancel, errors);
  }
  HRESULT WriteVQT(DWORD n, OPCHANDLE* h, OPCITEMVQT* vqt, DWORD id, DWORD* cancel, HRESULT** errors) override {
    return owner_->AsyncWriteVQT(n, h, vqt, id, cancel, errors);
  }
  HRESULT RefreshMaxAge(DWORD age, DWORD id, DWORD* cancel) override { return owner_->RefreshMaxAge(age, id, cancel); }
};

class ImplOPCGroupCP;

// The group's connection-point container, with its one point for IOPCDataCallback.
class ImplGroupCPC final : public TearOff<IConnectionPointContainer, COPCDrvGroup> {
 public:
  explicit ImplGroupCPC(COPCDrvGroup* group);
  ~ImplGroupCPC();
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** out) override;
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** out) override;
  HRESULT advise(IUnknown* sink, DWORD* cookie) { return owner_->advise_data_callback(sink, cookie); }
  HRESULT unadvise(DWORD cookie) { return owner_->unadvise_data_callback(cookie); }

 private:
  ImplOPCGroupCP* point_;
};

}  // namespace hbt::opc
