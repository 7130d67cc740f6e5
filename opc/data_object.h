// CImpIDataObject: the DA 1.0 IDataObject of a group, through which a client advises the
// three stream formats; and CImpIOPCAsyncIO, the DA 1.0 requests whose results travel on
// those streams.
#pragma once

#include <mutex>

#include "opc/group.h"
#include "opc/group_da1.h"
#include "opc/tear_off.h"

namespace hbt::opc {

class CImpIDataObject final : public TearOff<IDataObject, COPCDrvGroup> {
 public:
  explicit CImpIDataObject(COPCDrvGroup* group);
  ~CImpIDataObject();

  HRESULT GetData(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
  HRESULT GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  HRESULT SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT EnumFormatEtc(DWORD, IEnumFORMATETC** out) override {
    if (out != nullptr) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT DAdvise(FORMATETC* pFormatetc, DWORD advf, IAdviseSink* pAdvSink, DWORD* pdwConnection) override;
  HRESULT DUnadvise(DWORD dwConnection) override;
  HRESULT EnumDAdvise(IEnumSTATDATA** out) override {
    if (out != nullptr) *out = nullptr;
    return E_NOTIMPL;
  }

  // True while the client has a sink advised for the format.
  bool advised(Da1Format format);
  UINT clipboard_format(Da1Format format) const { return formats_[format]; }
  // The poll thread's sink of the format, taken out of its marshalled stream the first time,
  // with a reference for the caller; null when none is advised.
  IAdviseSink* poll_sink(Da1Format format);

 private:
  std::mutex mutex_;  // the slots below; never held during a call into the client
  UINT formats_[kDa1FormatCount] = {};
  IAdviseSink* client_sinks_[kDa1FormatCount] = {};
  IStream* streams_[kDa1FormatCount] = {};
  IAdviseSink* poll_sinks_[kDa1FormatCount] = {};
};

class CImpIOPCAsyncIO final : public TearOff<IOPCAsyncIO, COPCDrvGroup> {
 public:
  using TearOff::TearOff;
  HRESULT Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer, DWORD* pTransactionID,
               HRESULT** ppErrors) override {
    return owner_->Da1Read(dwConnection, dwSource, dwCount, phServer, pTransactionID, ppErrors);
  }
  HRESULT Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD* pTransactionID,
                HRESULT** ppErrors) override {
    return owner_->Da1Write(dwConnection, dwCount, phServer, pItemValues, pTransactionID, ppErrors);
  }
  HRESULT Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) override {
    return owner_->Da1Refresh(dwConnection, dwSource, pTransactionID);
  }
  HRESULT Cancel(DWORD dwTransactionID) override { return owner_->Da1Cancel(dwTransactionID); }
};

}  // namespace hbt::opc
