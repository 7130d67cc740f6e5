#include "opc/data_object.h"

#include "com/unknown.h"
#include "opc/com_util.h"

namespace hbt::opc {
namespace {

constexpr const char* kFormatNames[kDa1FormatCount] = {OPC_STMFORMAT_DATA, OPC_STMFORMAT_DATATIME,
                                                       OPC_STMFORMAT_WRITECOMPLETE};

template <class T>
HBT_CALLS_FOREIGN_OBJECTS void release(T*& pointer) {
  if (pointer != nullptr) pointer->Release();
  pointer = nullptr;
}

}  // namespace

CImpIDataObject::CImpIDataObject(COPCDrvGroup* group) : TearOff(group) {
  for (int f = 0; f < kDa1FormatCount; ++f) formats_[f] = RegisterClipboardFormatA(kFormatNames[f]);
}

CImpIDataObject::~CImpIDataObject() {
  for (int f = 0; f < kDa1FormatCount; ++f) {
    release(poll_sinks_[f]);
    release(streams_[f]);
    release(client_sinks_[f]);
  }
}

HBT_CALLS_FOREIGN_OBJECTS HRESULT CImpIDataObject::DAdvise(FORMATETC* pFormatetc, DWORD advf, IAdviseSink* pAdvSink, DWORD* pdwConnection) {
  if (pFormatetc == nullptr || pAdvSink == nullptr || pdwConnection == nullptr) return E_POINTER;
  int f = 0;
  while (f < kDa1FormatCount && (formats_[f] == 0 || pFormatetc->cfFormat != formats_[f])) ++f;
  if (f == kDa1FormatCount) return DV_E_FORMATETC;
  {
    std::lock_guard lock(mutex_);
    if (client_sinks_[f] != nullptr) return CONNECT_E_ADVISELIMIT;
  }
  // The client's object is asked for its interface outside the lock: a sink may call back.
  IAdviseSink* sink = nullptr;
  HRESULT hr = pAdvSink->QueryInterface(IID_IAdviseSink, reinterpret_cast<void**>(&sink));
  if (FAILED(hr)) return hr;
  if (sink == nullptr) return E_NOINTERFACE;
  IStream* stream = nullptr;
  hr = CoMarshalInterThreadInterfaceInStream(IID_IAdviseSink, sink, &stream);
  if (FAILED(hr)) {
    sink->Release();
    return hr;
  }
  {
    std::lock_guard lock(mutex_);
    if (client_sinks_[f] == nullptr) {
      client_sinks_[f] = sink;
      streams_[f] = stream;
      if (f != kFormatWriteComplete) owner_->da1_state().advise_words[f] = advf;
      sink = nullptr;
      stream = nullptr;
    }
  }
  if (sink != nullptr) {  // a second DAdvise of the same format got there first
    stream->Release();
    sink->Release();
    return CONNECT_E_ADVISELIMIT;
  }
  *pdwConnection = formats_[f];
  return S_OK;
}

HRESULT CImpIDataObject::DUnadvise(DWORD dwConnection) {
  int f = 0;
  while (f < kDa1FormatCount && (formats_[f] == 0 || dwConnection != formats_[f])) ++f;
  if (f == kDa1FormatCount) return OLE_E_NOCONNECTION;
  IAdviseSink* client = nullptr;
  IAdviseSink* poll = nullptr;
  IStream* stream = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (client_sinks_[f] == nullptr) return OLE_E_NOCONNECTION;
    client = client_sinks_[f];
    poll = poll_sinks_[f];
    stream = streams_[f];
    client_sinks_[f] = poll_sinks_[f] = nullptr;
    streams_[f] = nullptr;
    if (f != kFormatWriteComplete) owner_->da1_state().advise_words[f] = 0;
  }
  // A report on its way holds its own reference, so the sink stays until that call returns.
  release(poll);
  release(stream);
  release(client);
  return S_OK;
}

bool CImpIDataObject::advised(Da1Format format) {
  std::lock_guard lock(mutex_);
  return client_sinks_[format] != nullptr;
}

HBT_CALLS_FOREIGN_OBJECTS IAdviseSink* CImpIDataObject::poll_sink(Da1Format format) {
  std::lock_guard lock(mutex_);
  if (poll_sinks_[format] == nullptr && streams_[format] != nullptr) {
    IAdviseSink* sink = nullptr;
    HRESULT hr = CoGetInterfaceAndReleaseStream(streams_[format], IID_IAdviseSink, reinterpret_cast<void**>(&sink));
    streams_[format] = nullptr;  // released by the call, whatever its result
    if (SUCCEEDED(hr)) poll_sinks_[format] = sink;
  }
  IAdviseSink* sink = poll_sinks_[format];
  if (sink != nullptr) sink->AddRef();
  return sink;
}

}  // namespace hbt::opc
