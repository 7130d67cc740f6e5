// The runtime's plain functions: task memory, GUID texts, global memory blocks, clipboard
// formats, MS-DOS dates and the hand-over of an interface pointer between threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "com/filetime.h"
#include "com/include/objbase.h"

namespace hbt::com {
namespace {

TEST(TaskMemory, ReallocOfNullAllocatesAndOfZeroFrees) {
  void* zero = CoTaskMemAlloc(0);
  EXPECT_NE(zero, nullptr) << "a zero-length block is still a block";
  CoTaskMemFree(zero);
  auto* block = static_cast<char*>(CoTaskMemRealloc(nullptr, 16));
  ASSERT_NE(block, nullptr);
  std::memcpy(block, "0123456789abcdef", 16);
  block = static_cast<char*>(CoTaskMemRealloc(block, 4096));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::memcmp(block, "0123456789abcdef", 16), 0);
  EXPECT_EQ(CoTaskMemRealloc(block, 0), nullptr) << "size 0 frees the block (asan sees a leak otherwise)";
  void* fresh = CoTaskMemRealloc(nullptr, 0);
  EXPECT_NE(fresh, nullptr);
  CoTaskMemFree(fresh);
  CoTaskMemFree(nullptr);

  IMalloc* allocator = nullptr;
  EXPECT_EQ(CoGetMalloc(0, &allocator), E_INVALIDARG);
  EXPECT_EQ(allocator, nullptr);
  EXPECT_EQ(CoGetMalloc(MEMCTX_TASK, nullptr), E_INVALIDARG);
  ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &allocator), S_OK);
  void* via_interface = allocator->Alloc(100);
  ASSERT_NE(via_interface, nullptr);
  EXPECT_GE(allocator->GetSize(via_interface), 100u);
  CoTaskMemFree(via_interface);  // one allocator behind both doors
  EXPECT_EQ(allocator->GetSize(nullptr), static_cast<SIZE_T>(-1));
  allocator->Release();
}

TEST(Strings, SysAllocStringLenOfNullGivesZeroedUnits) {
  BSTR s = SysAllocStringLen(nullptr, 5);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 5u);
  for (int i = 0; i <= 5; ++i) EXPECT_EQ(s[i], u'\0');
  SysFreeString(s);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
}

TEST(GuidText, EveryGuidSurvivesTheRoundTrip) {
  std::set<std::u16string> seen;
  for (int i = 0; i < 2000; ++i) {
    GUID g{};
    ASSERT_EQ(CoCreateGuid(&g), S_OK);
    EXPECT_EQ(g.Data3 >> 12, 4) << "version 4";
    EXPECT_EQ(g.Data4[0] >> 6, 2) << "RFC 4122 variant";
    OLECHAR text[CHARS_IN_GUID];
    ASSERT_EQ(StringFromGUID2(g, text, CHARS_IN_GUID), CHARS_IN_GUID);
    seen.insert(text);
    GUID back{};
    ASSERT_EQ(CLSIDFromString(text, &back), S_OK) << std::string(text, text + 38);
    EXPECT_EQ(back, g);
    for (OLECHAR& c : text)
      if (c >= u'A' && c <= u'F') c = static_cast<OLECHAR>(c - u'A' + u'a');
    back = GUID_NULL;
    ASSERT_EQ(IIDFromString(text, &back), S_OK) << "lower case is read too";
    EXPECT_EQ(back, g);
  }
  EXPECT_EQ(seen.size(), 2000u);
}

TEST(GuidText, RegistryFormOnly) {
  OLECHAR text[CHARS_IN_GUID];
  EXPECT_EQ(StringFromGUID2(IID_IClassFactory, text, CHARS_IN_GUID - 1), 0) << "no room for the NUL";
  EXPECT_EQ(StringFromGUID2(IID_IClassFactory, nullptr, CHARS_IN_GUID), 0);
  ASSERT_EQ(StringFromGUID2(IID_IClassFactory, text, CHARS_IN_GUID), CHARS_IN_GUID);
  EXPECT_EQ(std::u16string(text), u"{00000001-0000-0000-C000-000000000046}");
  LPOLESTR allocated = nullptr;
  ASSERT_EQ(StringFromCLSID(CLSID_StdComponentCategoriesMgr, &allocated), S_OK);
  EXPECT_EQ(std::u16string(allocated), u"{0002E005-0000-0000-C000-000000000046}");
  CoTaskMemFree(allocated);

  CLSID clsid = IID_IMalloc;
  EXPECT_EQ(CLSIDFromString(nullptr, &clsid), S_OK);
  EXPECT_EQ(clsid, GUID_NULL);
  for (const char16_t* bad : {u"{00000001-0000-0000-C000-00000000004}", u"{00000001-0000-0000-C000-0000000000466}",
                              u"{00000001-0000-0000-C0000-00000000046}", u"{00000001-0000-0000-C000-00000000004G}",
                              u"{00000001-0000-0000-C000-000000000046", u"{00000001 0000-0000-C000-000000000046}",
                              u"{+0000001-0000-0000-C000-000000000046}", u"{}", u"{"}) {
    EXPECT_EQ(CLSIDFromString(bad, &clsid), CO_E_CLASSSTRING) << std::string(bad, bad + std::u16string_view(bad).size());
    EXPECT_EQ(IIDFromString(bad, &clsid), E_INVALIDARG);
  }
  EXPECT_EQ(IIDFromString(u"{00000001-0000-0000-C000-000000000046}", nullptr), E_INVALIDARG);
}

TEST(GlobalMemory, FixedAndMoveableBlocks) {
  HGLOBAL fixed = GlobalAlloc(GPTR, 64);
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(GlobalLock(fixed), fixed) << "a fixed block's handle is its address";
  EXPECT_EQ(static_cast<unsigned char*>(fixed)[63], 0) << "GMEM_ZEROINIT";
  EXPECT_EQ(GlobalSize(fixed), 64u);
  EXPECT_EQ(GlobalHandle(fixed), fixed);

  HGLOBAL moveable = GlobalAlloc(GHND, 10);
  ASSERT_NE(moveable, nullptr);
  auto* data = static_cast<char*>(GlobalLock(moveable));
  ASSERT_NE(data, nullptr);
  EXPECT_NE(static_cast<void*>(data), moveable);
  EXPECT_EQ(GlobalLock(moveable), data);
  std::memcpy(data, "abcdefghij", 10);
  EXPECT_EQ(GlobalReAlloc(moveable, 100, GMEM_ZEROINIT), nullptr) << "a locked block does not move";
  EXPECT_EQ(GlobalUnlock(moveable), TRUE) << "still locked once";
  EXPECT_EQ(GlobalUnlock(moveable), FALSE);
  EXPECT_EQ(GlobalUnlock(moveable), FALSE) << "not locked at all";
  EXPECT_EQ(GlobalReAlloc(moveable, 100, GMEM_ZEROINIT), moveable);
  data = static_cast<char*>(GlobalLock(moveable));
  EXPECT_EQ(std::memcmp(data, "abcdefghij", 10), 0);
  EXPECT_EQ(data[99], 0);
  EXPECT_EQ(GlobalSize(moveable), 100u);
  EXPECT_EQ(GlobalHandle(data), moveable);
  GlobalUnlock(moveable);

  EXPECT_EQ(GlobalFree(moveable), nullptr);
  EXPECT_EQ(GlobalFree(moveable), moveable) << "freeing twice is refused, not a crash";
  EXPECT_EQ(GlobalLock(moveable), nullptr);
  EXPECT_EQ(GlobalSize(moveable), 0u);
  EXPECT_EQ(GlobalFree(fixed), nullptr);
  int not_a_block = 0;
  EXPECT_EQ(GlobalSize(&not_a_block), 0u);
  EXPECT_EQ(GlobalFree(&not_a_block), &not_a_block);
  EXPECT_EQ(GlobalFree(nullptr), nullptr);
  HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(GlobalSize(empty), 0u);
  GlobalFree(empty);
}

TEST(ClipboardFormats, OneIdPerNameWhateverTheCaseAndThread) {
  const UINT data = RegisterClipboardFormatA("OPCSTMFORMATDATA");
  EXPECT_GE(data, 0xC000u);
  EXPECT_EQ(RegisterClipboardFormatA("opcstmformatdata"), data);
  const UINT time = RegisterClipboardFormatA("OPCSTMFORMATDATATIME");
  EXPECT_NE(time, data);
  EXPECT_EQ(RegisterClipboardFormatA(""), 0u);
  EXPECT_EQ(RegisterClipboardFormatA(nullptr), 0u);
  EXPECT_EQ(RegisterClipboardFormatA(std::string(256, 'x').c_str()), 0u) << "longer than a format name can be";

  char name[64];
  EXPECT_EQ(GetClipboardFormatNameA(data, name, sizeof name), 16);
  EXPECT_STREQ(name, "OPCSTMFORMATDATA") << "the first spelling is kept";
  EXPECT_EQ(GetClipboardFormatNameA(data, name, 4), 3);
  EXPECT_STREQ(name, "OPC");
  EXPECT_EQ(GetClipboardFormatNameA(0xBFFF, name, sizeof name), 0);
  EXPECT_EQ(GetClipboardFormatNameA(0xFFFF, name, sizeof name), 0);

  // Threads registering the same names at once all get the same ids.
  std::vector<std::thread> threads;
  std::vector<std::vector<UINT>> ids(4);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) ids[t].push_back(RegisterClipboardFormatA(("Format" + std::to_string(i)).c_str()));
    });
  for (auto& thread : threads) thread.join();
  for (int t = 1; t < 4; ++t) EXPECT_EQ(ids[t], ids[0]);
  EXPECT_EQ(std::set<UINT>(ids[0].begin(), ids[0].end()).size(), 50u);
}

USHORT dos_date(int year, int month, int day) { return static_cast<USHORT>(((year - 1980) << 9) | (month << 5) | day); }
USHORT dos_time(int hour, int minute, int second) { return static_cast<USHORT>((hour << 11) | (minute << 5) | (second / 2)); }

DATE variant_time(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = static_cast<WORD>(hour);
  st.wMinute = static_cast<WORD>(minute);
  st.wSecond = static_cast<WORD>(second);
  DATE d = 0;
  EXPECT_TRUE(SystemTimeToVariantTime(&st, &d));
  return d;
}

TEST(DosTime, ConvertsAndMendsDaysAsDocumented) {
  DOUBLE d = 0;
  ASSERT_TRUE(DosDateTimeToVariantTime(dos_date(2024, 5, 6), dos_time(7, 8, 10), &d));
  EXPECT_DOUBLE_EQ(d, variant_time(2024, 5, 6, 7, 8, 10));
  ASSERT_TRUE(DosDateTimeToVariantTime(dos_date(2001, 2, 29), 0, &d));
  EXPECT_DOUBLE_EQ(d, variant_time(2001, 3, 1)) << "a day past the month's end moves on";
  ASSERT_TRUE(DosDateTimeToVariantTime(dos_date(2001, 3, 0), 0, &d));
  EXPECT_DOUBLE_EQ(d, variant_time(2001, 2, 28)) << "day 0 is the previous month's last";
  ASSERT_TRUE(DosDateTimeToVariantTime(dos_date(1980, 1, 0), 0, &d));
  EXPECT_DOUBLE_EQ(d, variant_time(1979, 12, 31));
  EXPECT_FALSE(DosDateTimeToVariantTime(dos_date(2001, 13, 1), 0, &d)) << "months are not mended";
  EXPECT_FALSE(DosDateTimeToVariantTime(dos_date(2001, 0, 1), 0, &d));
  EXPECT_FALSE(DosDateTimeToVariantTime(dos_date(2100, 1, 1), 0, &d)) << "past 2099";
  EXPECT_FALSE(DosDateTimeToVariantTime(dos_date(2001, 1, 1), dos_time(24, 0, 0), &d));
  EXPECT_FALSE(DosDateTimeToVariantTime(dos_date(2001, 1, 1), dos_time(0, 60, 0), &d));
  EXPECT_FALSE(DosDateTimeToVariantTime(dos_date(2001, 1, 1), 30, &d)) << "60 seconds";
  EXPECT_FALSE(DosDateTimeToVariantTime(0, 0, nullptr));
}

TEST(DosTime, EveryValidValueSurvivesBothRoundTrips) {
  std::mt19937 random(20261208);
  for (int i = 0; i < 20000; ++i) {
    USHORT date = dos_date(1980 + static_cast<int>(random() % 120), 1 + static_cast<int>(random() % 12),
                           1 + static_cast<int>(random() % 28));
    USHORT time = dos_time(static_cast<int>(random() % 24), static_cast<int>(random() % 60),
                           static_cast<int>(random() % 30) * 2);
    DOUBLE d = 0;
    ASSERT_TRUE(DosDateTimeToVariantTime(date, time, &d)) << date << " " << time;
    USHORT date_back = 0, time_back = 0;
    ASSERT_TRUE(VariantTimeToDosDateTime(d, &date_back, &time_back));
    EXPECT_EQ(date_back, date);
    EXPECT_EQ(time_back, time);
    FILETIME ft{};
    ASSERT_TRUE(DosDateTimeToFileTime(date, time, &ft));
    WORD fat_date = 0, fat_time = 0;
    ASSERT_TRUE(FileTimeToDosDateTime(&ft, &fat_date, &fat_time));
    EXPECT_EQ(fat_date, date);
    EXPECT_EQ(fat_time, time);
  }
}

TEST(DosTime, FileTimesOutsideTheFatRangeFail) {
  SYSTEMTIME st{1979, 12, 0, 31, 23, 59, 59, 0};
  FILETIME ft{};
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  WORD date = 0, time = 0;
  EXPECT_FALSE(FileTimeToDosDateTime(&ft, &date, &time));
  st = {2107, 12, 0, 31, 23, 59, 59, 999};
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  ASSERT_TRUE(FileTimeToDosDateTime(&ft, &date, &time));
  EXPECT_EQ(date, dos_date(2107, 12, 31));
  EXPECT_EQ(time, dos_time(23, 59, 58)) << "odd seconds round down";
  st = {2108, 1, 0, 1, 0, 0, 0, 0};
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  EXPECT_FALSE(FileTimeToDosDateTime(&ft, &date, &time));
  EXPECT_FALSE(FileTimeToDosDateTime(nullptr, &date, &time));
}

// An object that counts its references, to see who holds one.
class Counted final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
  HRESULT CreateInstance(IUnknown*, REFIID, void**) override { return E_NOTIMPL; }
  HRESULT LockServer(BOOL) override { return S_OK; }
  std::atomic<ULONG> references{1};
};

TEST(InterfaceHandover, TheStreamCarriesOneReferenceToTheOtherThread) {
  Counted object;
  IStream* stream = nullptr;
  ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IClassFactory, &object, &stream), S_OK);
  EXPECT_EQ(object.references.load(), 2u) << "the stream holds one";
  IClassFactory* received = nullptr;
  HRESULT hr = E_FAIL;
  std::thread([&] {
    hr = CoGetInterfaceAndReleaseStream(stream, IID_IClassFactory, reinterpret_cast<void**>(&received));
  }).join();
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(received, static_cast<IClassFactory*>(&object));
  EXPECT_EQ(object.references.load(), 2u) << "the stream's reference went to the receiver";
  received->Release();

  ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IUnknown, &object, &stream), S_OK);
  IUnknown* wrong = nullptr;
  EXPECT_EQ(CoGetInterfaceAndReleaseStream(stream, IID_IStream, reinterpret_cast<void**>(&wrong)), E_NOINTERFACE);
  EXPECT_EQ(wrong, nullptr);
  EXPECT_EQ(object.references.load(), 1u) << "a failed unmarshal still drops the stream's reference";

  ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IUnknown, &object, &stream), S_OK);
  stream->Release();
  EXPECT_EQ(object.references.load(), 1u) << "a stream never unmarshalled releases what it held";

  EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IStream, &object, &stream), E_NOINTERFACE);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IUnknown, nullptr, &stream), E_INVALIDARG);
  EXPECT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IUnknown, &object, nullptr), E_INVALIDARG);
  EXPECT_EQ(CoGetInterfaceAndReleaseStream(nullptr, IID_IUnknown, reinterpret_cast<void**>(&wrong)), E_INVALIDARG);
  EXPECT_EQ(object.references.load(), 1u);
}

TEST(InterfaceHandover, AStreamOfAnotherKindIsRefused) {
  Counted object;
  IStream* stream = nullptr;
  ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IUnknown, &object, &stream), S_OK);
  // Not a hand-over stream: a stream of some other implementation.
  class Foreign final : public IStream {
   public:
    HRESULT QueryInterface(REFIID, void** out) override {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return static_cast<ULONG>(--references); }
    HRESULT Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT Revert() override { return E_NOTIMPL; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT Clone(IStream**) override { return E_NOTIMPL; }
    int references = 1;
  } foreign;
  IUnknown* out = nullptr;
  EXPECT_EQ(CoGetInterfaceAndReleaseStream(&foreign, IID_IUnknown,
                                           reinterpret_cast<void**>(&out)),
            E_INVALIDARG);
  EXPECT_EQ(foreign.references, 0) << "released all the same";
  ASSERT_EQ(CoGetInterfaceAndReleaseStream(stream, IID_IUnknown, reinterpret_cast<void**>(&out)), S_OK);
  out->Release();
  EXPECT_EQ(object.references.load(), 1u);
}

}  // namespace
}  // namespace hbt::com
