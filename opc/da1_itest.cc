// DA 1.0 from end to end: mcsim as the PLC, the real poller started by the host library,
// HBTOPC.so activated through the registry, and a client that reads and writes through
// IOPCAsyncIO and receives the results on its IDataObject streams.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "opc/com_base.h"
#include "opc/da1_stream_reader.h"
#include "testsupport/mcsim_peer.h"
#include "testsupport/child_process.h"
#include "testsupport/driver_setup.h"

namespace hbt::opc::testing {
namespace {

using namespace std::chrono_literals;

// Keeps the decoded blocks of every call.
class Sink final : public IAdviseSink {
 public:
  HRESULT QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (riid != IID_IUnknown && riid != IID_IAdviseSink) return E_NOINTERFACE;
    *out = static_cast<IAdviseSink*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
  void OnDataChange(FORMATETC* format, STGMEDIUM* medium) override {
    std::lock_guard lock(mutex);
    if (format->cfFormat == RegisterClipboardFormatA("OPCSTMFORMATWRITECOMPLETE")) {
      writes.push_back(decode_write(medium->hGlobal));
      return;
    }
    // The value bytes of each item, kept as the client would find them.
    const auto* base = static_cast<const unsigned char*>(GlobalLock(medium->hGlobal));
    DecodedStream s = decode(medium->hGlobal, true);
    for (auto& item : s.items) {
      VARIANT v;
      std::memset(&v, 0, sizeof v);
      std::memcpy(&v, base + item.offset, 16);
      values.push_back({s.transaction, item.client, item.quality, v.vt, v.vt == VT_R4 ? v.fltVal : 0.0f,
                        v.vt == VT_BOOL ? v.boolVal != 0 : false});
    }
    GlobalUnlock(medium->hGlobal);
  }
  void OnViewChange(DWORD, LONG) override {}
  void OnRename(IMoniker*) override {}
  void OnSave() override {}
  void OnClose() override {}

  struct Value {
    DWORD transaction;
    OPCHANDLE client;
    WORD quality;
    VARTYPE vt;
    float number;
    bool bit;
  };
  std::atomic<ULONG> references{1};
  std::mutex mutex;
  std::vector<Value> values;
  std::vector<DecodedWrite> writes;
};

TEST(Da1EndToEnd, ReadsAndWritesTravelBetweenTheSimulatorAndTheStreams) {
  testsupport::TestEnvironment env;
  testsupport::McsimPeer plc(env.dir(), {"udp:0:3e-binary"});
  ASSERT_TRUE(plc.ready()) << plc.output();
  testsupport::ConfigSpec plan = testsupport::words_and_bits_configuration(plc.port(0));
  testsupport::install_configuration(env, plan);
  testsupport::install_driver_exe("S");
  void* lib = dlopen(HBT_LIB_DIR "/HBTOPC.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  ASSERT_EQ(reinterpret_cast<HRESULT (*)()>(dlsym(lib, "DllRegisterServer"))(), S_OK);
  dlclose(lib);
  ASSERT_TRUE(plc.ok("set D100 4321"));
  ASSERT_TRUE(plc.ok("set M3 1"));

  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"Velmora.Brenlow", &clsid), S_OK);
  IOPCServer* server = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, reinterpret_cast<void**>(&server)),
            S_OK);
  OPCHANDLE group_handle = 0;
  DWORD rate = 0;
  IUnknown* unknown = nullptr;
  ASSERT_EQ(server->AddGroup(u"da1", TRUE, 100, 55, nullptr, nullptr, 1033, &group_handle, &rate,
                             IID_IOPCItemMgt, &unknown),
            S_OK);
  auto* items = static_cast<IOPCItemMgt*>(static_cast<void*>(unknown));
  OPCITEMDEF defs[2] = {};
  defs[0].szItemID = const_cast<LPWSTR>(u"PLC1:D:100");
  defs[1].szItemID = const_cast<LPWSTR>(u"PLC1:M:3");
  defs[0].bActive = defs[1].bActive = TRUE;
  defs[0].hClient = 1;
  defs[1].hClient = 2;
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  ASSERT_EQ(items->AddItems(2, defs, &results, &errors), S_OK);
  OPCHANDLE handles[2] = {results[0].hServer, results[1].hServer};
  CoTaskMemFree(results);
  CoTaskMemFree(errors);
  IDataObject* data = nullptr;
  IOPCAsyncIO* async = nullptr;
  ASSERT_EQ(items->QueryInterface(IID_IDataObject, reinterpret_cast<void**>(&data)), S_OK);
  ASSERT_EQ(items->QueryInterface(IID_IOPCAsyncIO, reinterpret_cast<void**>(&async)), S_OK);
  Sink sink;
  DWORD connection = 0;
  FORMATETC timed{static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATDATATIME")), nullptr,
                  DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  FORMATETC written{static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATWRITECOMPLETE")), nullptr,
                    DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  ASSERT_EQ(data->DAdvise(&timed, 0, &sink, &connection), S_OK);
  ASSERT_EQ(data->DAdvise(&written, 0, &sink, &connection), S_OK);

  // Device reads until the poller has brought the simulator's values into the image.
  bool seen = testsupport::eventually(
      [&] {
        DWORD id = 0;
        HRESULT* e = nullptr;
        if (async->Read(0, OPC_DS_DEVICE, 2, handles, &id, &e) != S_OK) return false;
        CoTaskMemFree(e);
        std::this_thread::sleep_for(300ms);
        std::lock_guard lock(sink.mutex);
        int good = 0;
        for (auto& v : sink.values)
          if (v.transaction == id && v.quality == OPC_QUALITY_GOOD &&
              ((v.client == 1 && v.vt == VT_R4 && v.number == 4321.0f) || (v.client == 2 && v.vt == VT_BOOL && v.bit)))
            ++good;
        return good == 2;
      },
      20000);
  EXPECT_TRUE(seen) << "the device read never reported D100 = 4321 and M3 on with good quality";

  // A write reaches the simulator and completes with S_OK.
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = 777;
  DWORD write_id = 0;
  ASSERT_EQ(async->Write(0, 1, handles, &value, &write_id, &errors), S_OK);
  CoTaskMemFree(errors);
  EXPECT_TRUE(testsupport::eventually(
      [&] {
        std::lock_guard lock(sink.mutex);
        for (auto& w : sink.writes)
          if (w.transaction == write_id && w.results.size() == 1 && w.results[0] == std::make_pair(1u, S_OK))
            return true;
        return false;
      },
      5000));
  EXPECT_TRUE(testsupport::eventually([&] { return plc.control("get D100").find("777") != std::string::npos; }, 5000))
      << plc.control("get D100");

  EXPECT_EQ(data->DUnadvise(RegisterClipboardFormatA("OPCSTMFORMATDATATIME")), S_OK);
  EXPECT_EQ(data->DUnadvise(RegisterClipboardFormatA("OPCSTMFORMATWRITECOMPLETE")), S_OK);
  async->Release();
  data->Release();
  items->Release();
  EXPECT_EQ(server->RemoveGroup(group_handle, FALSE), S_OK);
  server->Release();
  CoUninitialize();
  EXPECT_EQ(sink.references.load(), 1u);
  testsupport::run_program({std::string(HBT_BIN_DIR) + "/hbtio", "shutdown"});
}

}  // namespace
}  // namespace hbt::opc::testing
