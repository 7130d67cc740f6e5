// Data transfer: the IDataObject/IAdviseSink declarations are the same in C and C++ and in
// the Windows slot order, an advise sink crosses threads through the interface hand-over,
// and ReleaseStgMedium frees exactly what the medium says it owns.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <thread>

#include "com/include/objbase.h"
#include "com/unknown.h"
#include "com/testing/c_advise_sink.h"

namespace hbt::com {
namespace {

// The receiving side: calls the sink (written in C) through its slots, then frees the medium.
HBT_CALLS_FOREIGN_OBJECTS void deliver_on_this_thread(IStream* stream, UINT format, HRESULT* hr) {
  IAdviseSink* received = nullptr;
  *hr = CoGetInterfaceAndReleaseStream(stream, IID_IAdviseSink, reinterpret_cast<void**>(&received));
  if (FAILED(*hr)) return;
  HGLOBAL block = GlobalAlloc(GMEM_FIXED, 64);
  DWORD size = 64;
  std::memcpy(GlobalLock(block), &size, sizeof size);
  GlobalUnlock(block);
  FORMATETC formatetc{static_cast<CLIPFORMAT>(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = block;
  received->OnDataChange(&formatetc, &medium);
  received->OnSave();
  ReleaseStgMedium(&medium);
  EXPECT_EQ(GlobalSize(block), 0u) << "the block is gone";
  EXPECT_EQ(medium.tymed, static_cast<DWORD>(TYMED_NULL));
  received->Release();
}

TEST(DataTransfer, CAndCxxAgreeOnLayoutsAndSlots) {
  EXPECT_EQ(c_data_transfer_layout(0), sizeof(FORMATETC));
  EXPECT_EQ(c_data_transfer_layout(1), sizeof(STGMEDIUM));
  EXPECT_EQ(c_data_transfer_layout(2), offsetof(STGMEDIUM, pUnkForRelease));
  EXPECT_EQ(c_data_transfer_layout(3), sizeof(STATDATA));
  EXPECT_EQ(c_data_transfer_layout(6), sizeof(DVTARGETDEVICE));
  EXPECT_EQ(c_data_transfer_layout(7), offsetof(FORMATETC, tymed));
  // IUnknown, then OnDataChange, OnViewChange, OnRename, OnSave, OnClose.
  EXPECT_EQ(c_data_transfer_layout(4), 3u + 5u);
  // IUnknown, then GetData .. EnumDAdvise.
  EXPECT_EQ(c_data_transfer_layout(5), 3u + 9u);
  // The union is one pointer wide: tymed, the handle, the release object.
  EXPECT_EQ(offsetof(STGMEDIUM, hGlobal), sizeof(void*));
  EXPECT_EQ(offsetof(STGMEDIUM, pstm), offsetof(STGMEDIUM, hGlobal));
  EXPECT_EQ(ADVF_PRIMEFIRST, 2);
  EXPECT_EQ(TYMED_HGLOBAL, 1);
  EXPECT_EQ(DVASPECT_CONTENT, 1);
  EXPECT_EQ(IID_IDataObject.Data1, 0x0000010Eu);
  EXPECT_EQ(IID_IAdviseSink.Data1, 0x0000010Fu);
  EXPECT_EQ(IID_IAdviseSink.Data4[0], 0xC0);
  EXPECT_EQ(IID_IAdviseSink.Data4[7], 0x46);
}

TEST(DataTransfer, AnAdviseSinkWrittenInCCrossesThreadsAndIsCalledThroughItsSlots) {
  IAdviseSink* sink = c_advise_sink_create();
  ASSERT_NE(sink, nullptr);
  IStream* stream = nullptr;
  ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IAdviseSink, sink, &stream), S_OK);
  EXPECT_EQ(c_advise_sink_seen(sink, 0), 2u);

  UINT format = RegisterClipboardFormatA("OPCSTMFORMATDATA");
  ASSERT_NE(format, 0u);
  HRESULT hr = E_FAIL;
  std::thread([&] { deliver_on_this_thread(stream, format, &hr); }).join();
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(c_advise_sink_seen(sink, 1), 1u);
  EXPECT_EQ(c_advise_sink_seen(sink, 2), format);
  EXPECT_EQ(c_advise_sink_seen(sink, 3), static_cast<unsigned long>(TYMED_HGLOBAL));
  EXPECT_EQ(c_advise_sink_seen(sink, 4), 64u);
  EXPECT_EQ(c_advise_sink_seen(sink, 0), 1u) << "no reference left behind";
  c_advise_sink_destroy(sink);
}

// Counts its references; stands for the owner of a medium.
class Owner final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (riid != IID_IUnknown) return E_NOINTERFACE;
    *out = this;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
  ULONG references = 1;
};

TEST(DataTransfer, ReleaseStgMediumFreesWhatTheMediumOwnsOnly) {
  // With a release object, the object is released and the block left to it.
  Owner owner;
  HGLOBAL block = GlobalAlloc(GMEM_FIXED, 8);
  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = block;
  medium.pUnkForRelease = &owner;
  ReleaseStgMedium(&medium);
  EXPECT_EQ(owner.references, 0u);
  EXPECT_EQ(GlobalSize(block), 8u) << "the owner frees it, not the receiver";
  EXPECT_EQ(medium.pUnkForRelease, nullptr);
  EXPECT_EQ(GlobalFree(block), nullptr);

  // A stream medium releases the stream.
  Owner held;
  IStream* stream = nullptr;
  ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IUnknown, &held, &stream), S_OK);
  EXPECT_EQ(held.references, 2u);
  medium = STGMEDIUM{};
  medium.tymed = TYMED_ISTREAM;
  medium.pstm = stream;
  ReleaseStgMedium(&medium);
  EXPECT_EQ(held.references, 1u) << "the stream went, and with it its reference";

  // A file medium frees its name from the task allocator (asan sees a leak otherwise).
  medium = STGMEDIUM{};
  medium.tymed = TYMED_FILE;
  medium.lpszFileName = static_cast<LPOLESTR>(CoTaskMemAlloc(4 * sizeof(OLECHAR)));
  ReleaseStgMedium(&medium);

  // Empty media and no medium at all are fine.
  medium = STGMEDIUM{};
  ReleaseStgMedium(&medium);
  medium.tymed = TYMED_HGLOBAL;
  ReleaseStgMedium(&medium);
  ReleaseStgMedium(nullptr);
}

}  // namespace
}  // namespace hbt::com
