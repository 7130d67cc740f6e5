// Handing an interface pointer to another thread. Every apartment here is free-threaded, so
// the "marshalled" form is the pointer itself, with a reference held by the stream until the
// receiving thread takes it out. The stream answers the IStream calls a caller may make on it
// (it reads as empty) and is recognised on the way back by an interface only it answers.
#include <atomic>
#include <mutex>
#include <new>

#include "com/include/objbase.h"
#include "com/unknown.h"

namespace {

// {8E4D2B61-3C7A-4F09-9B15-6A2E0C7D4F83}: the stream's own identity, never seen by clients.
DEFINE_GUID(kIID_HandoverStream, 0x8E4D2B61, 0x3C7A, 0x4F09, 0x9B, 0x15, 0x6A, 0x2E, 0x0C, 0x7D, 0x4F, 0x83);

class HandoverStream final : public IStream {
 public:
  explicit HandoverStream(IUnknown* object) : object_(object) {}

  HRESULT QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream || riid == kIID_HandoverStream) {
      *out = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT Read(void*, ULONG, ULONG* read) override {
    if (read != nullptr) *read = 0;
    return S_FALSE;
  }
  HRESULT Write(const void*, ULONG, ULONG*) override { return STG_E_INVALIDFUNCTION; }
  HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER* position) override {
    if (position != nullptr) position->QuadPart = 0;
    return S_OK;
  }
  HRESULT SetSize(ULARGE_INTEGER) override { return STG_E_INVALIDFUNCTION; }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return STG_E_INVALIDFUNCTION; }
  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return S_OK; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  HRESULT Stat(STATSTG* stat, DWORD) override {
    if (stat == nullptr) return STG_E_INVALIDPOINTER;
    *stat = STATSTG{};
    stat->type = STGTY_STREAM;
    return S_OK;
  }
  HRESULT Clone(IStream** copy) override {
    if (copy != nullptr) *copy = nullptr;
    return E_NOTIMPL;
  }

  // The object, with the stream's reference passed to the caller; null once taken.
  IUnknown* take() {
    std::lock_guard lock(mutex_);
    IUnknown* object = object_;
    object_ = nullptr;
    return object;
  }

 private:
  HBT_CALLS_FOREIGN_OBJECTS ~HandoverStream() {
    if (object_ != nullptr) object_->Release();  // never unmarshalled: the reference goes too
  }

  std::atomic<ULONG> references_{1};
  std::mutex mutex_;
  IUnknown* object_;
};

}  // namespace

extern "C" HBT_CALLS_FOREIGN_OBJECTS HRESULT CoMarshalInterThreadInterfaceInStream(REFIID riid, LPUNKNOWN object, LPSTREAM* stream) {
  if (stream == nullptr) return E_INVALIDARG;
  *stream = nullptr;
  if (object == nullptr) return E_INVALIDARG;
  IUnknown* held = nullptr;
  HRESULT hr = object->QueryInterface(riid, reinterpret_cast<void**>(&held));
  if (FAILED(hr)) return hr;
  if (held == nullptr) return E_NOINTERFACE;
  auto* created = new (std::nothrow) HandoverStream(held);
  if (created == nullptr) {
    held->Release();
    return E_OUTOFMEMORY;
  }
  *stream = created;
  return S_OK;
}

extern "C" HBT_CALLS_FOREIGN_OBJECTS HRESULT CoGetInterfaceAndReleaseStream(LPSTREAM stream, REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  if (stream == nullptr) return E_INVALIDARG;
  HandoverStream* ours = nullptr;
  if (FAILED(stream->QueryInterface(kIID_HandoverStream, reinterpret_cast<void**>(&ours))) || ours == nullptr) {
    stream->Release();
    return E_INVALIDARG;
  }
  IUnknown* held = ours->take();
  ours->Release();
  HRESULT hr = CO_E_OBJNOTCONNECTED;  // the stream was already unmarshalled once
  if (held != nullptr) {
    hr = held->QueryInterface(riid, object);
    held->Release();
    if (FAILED(hr)) *object = nullptr;
  }
  stream->Release();
  return hr;
}
