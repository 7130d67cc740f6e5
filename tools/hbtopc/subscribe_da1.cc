// The DA 1.0 way to subscribe: IDataObject::DAdvise on the group for "OPCSTMFORMATDATATIME",
// with an IAdviseSink that decodes each block the server hands over.
#include "da1_stream.h"
#include "subscribe.h"
#include "winbase.h"
#include "winuser.h"

namespace hbt::hbtopc {

namespace {

class StreamSink final : public IAdviseSink {
 public:
  StreamSink(std::shared_ptr<SubscriptionPrinter> printer, CLIPFORMAT data, CLIPFORMAT data_time)
      : printer_(std::move(printer)), data_(data), data_time_(data_time) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IAdviseSink)) {
      *out = static_cast<IAdviseSink*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // The block belongs to the server, which frees it when this returns.
  void STDMETHODCALLTYPE OnDataChange(FORMATETC* format, STGMEDIUM* medium) override {
    const bool with_time = format != nullptr && format->cfFormat == data_time_;
    const char* name = with_time ? OPC_STMFORMAT_DATATIME : OPC_STMFORMAT_DATA;
    if (format == nullptr || medium == nullptr || (format->cfFormat != data_ && !with_time)) {
      printer_->stream_error(name, "a block of a format that was not advised");
      return;
    }
    if (medium->tymed != TYMED_HGLOBAL || medium->hGlobal == nullptr) {
      printer_->stream_error(name, "the medium is no global memory block");
      return;
    }
    const auto* bytes = static_cast<const unsigned char*>(GlobalLock(medium->hGlobal));
    const std::size_t size = GlobalSize(medium->hGlobal);
    DecodedStream stream;
    std::string error;
    if (decode_stream(with_time ? StreamFormat::kDataTime : StreamFormat::kData, bytes, size, &stream, &error)) {
      printer_->stream(name, stream.size, stream.group, stream.transaction, stream.status, stream.items, with_time);
    } else {
      printer_->stream_error(name, error);
    }
    if (bytes != nullptr) GlobalUnlock(medium->hGlobal);
  }
  void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
  void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
  void STDMETHODCALLTYPE OnSave() override {}
  void STDMETHODCALLTYPE OnClose() override {}

 private:
  ~StreamSink() = default;
  std::atomic<ULONG> references_{1};
  std::shared_ptr<SubscriptionPrinter> printer_;
  CLIPFORMAT data_, data_time_;
};

class StreamSubscription final : public Subscription {
 public:
  StreamSubscription(IDataObject* data, StreamSink* sink, DWORD connection)
      : data_(data), sink_(sink), connection_(connection) {}
  ~StreamSubscription() override {
    data_->DUnadvise(connection_);
    data_->Release();
    sink_->Release();
  }

 private:
  IDataObject* data_;
  StreamSink* sink_;
  DWORD connection_;
};

}  // namespace

std::unique_ptr<Subscription> subscribe_da1(ItemGroup& group, std::shared_ptr<SubscriptionPrinter> printer,
                                            std::string* error) {
  IDataObject* data = group.query<IDataObject>(IID_IDataObject, "IDataObject", error);
  if (data == nullptr) return nullptr;
  const auto data_format = static_cast<CLIPFORMAT>(RegisterClipboardFormatA(OPC_STMFORMAT_DATA));
  const auto time_format = static_cast<CLIPFORMAT>(RegisterClipboardFormatA(OPC_STMFORMAT_DATATIME));
  auto* sink = new StreamSink(std::move(printer), data_format, time_format);
  FORMATETC format{time_format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  DWORD connection = 0;
  // Prime-first: the first stream carries every item once, changed or not.
  HRESULT hr = data->DAdvise(&format, ADVF_PRIMEFIRST, sink, &connection);
  if (FAILED(hr)) {
    *error = "DAdvise failed (" + hresult_hex(hr) + ")";
    sink->Release();
    data->Release();
    return nullptr;
  }
  return std::make_unique<StreamSubscription>(data, sink, connection);
}

}  // namespace hbt::hbtopc
