// The client's IOPCDataCallback: the server calls it with subscription changes (on its poll
// thread) and with the completions of IOPCAsyncIO2/3 requests. Each callback goes to a handler
// the command sets; the arrays are the server's and live only for the call.
#pragma once

#include <atomic>
#include <functional>

#include "opcda.h"

namespace hbt::hbtopc {

struct DataChange {
  DWORD transaction = 0;
  OPCHANDLE group = 0;
  HRESULT master_quality = S_OK;
  HRESULT master_error = S_OK;
  DWORD count = 0;
  const OPCHANDLE* client_handles = nullptr;
  const VARIANT* values = nullptr;
  const WORD* qualities = nullptr;
  const FILETIME* timestamps = nullptr;
  const HRESULT* errors = nullptr;
};

struct WriteCompletion {
  DWORD transaction = 0;
  OPCHANDLE group = 0;
  HRESULT master_error = S_OK;
  DWORD count = 0;
  const OPCHANDLE* client_handles = nullptr;
  const HRESULT* errors = nullptr;
};

class DataCallback final : public IOPCDataCallback {
 public:
  std::function<void(const DataChange&)> on_data_change;
  std::function<void(const DataChange&)> on_read_complete;
  std::function<void(const WriteCompletion&)> on_write_complete;

  DataCallback() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE OnDataChange(DWORD transaction, OPCHANDLE group, HRESULT master_quality,
                                         HRESULT master_error, DWORD count, OPCHANDLE* client_handles,
                                         VARIANT* values, WORD* qualities, FILETIME* timestamps,
                                         HRESULT* errors) override;
  HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD transaction, OPCHANDLE group, HRESULT master_quality,
                                           HRESULT master_error, DWORD count, OPCHANDLE* client_handles,
                                           VARIANT* values, WORD* qualities, FILETIME* timestamps,
                                           HRESULT* errors) override;
  HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD transaction, OPCHANDLE group, HRESULT master_error, DWORD count,
                                            OPCHANDLE* client_handles, HRESULT* errors) override;
  HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

 private:
  ~DataCallback() = default;
  std::atomic<ULONG> references_{1};
};

// The group's connection point for IOPCDataCallback, advised with `sink`; Unadvise on destruction.
class CallbackConnection {
 public:
  CallbackConnection() = default;
  ~CallbackConnection() { disconnect(); }
  CallbackConnection(const CallbackConnection&) = delete;
  CallbackConnection& operator=(const CallbackConnection&) = delete;

  HRESULT connect(IUnknown* group, IUnknown* sink);
  void disconnect();

 private:
  IConnectionPoint* point_ = nullptr;
  DWORD cookie_ = 0;
};

}  // namespace hbt::hbtopc
