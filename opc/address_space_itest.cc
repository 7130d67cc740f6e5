// Browsing, item properties and direct item I/O from end to end: mcsim as the PLC, the real
// poller started by the host library, HBTOPC.so activated through the registry and calling
// the real nio_* exports, and a client that browses the plant, reads the simulator's value by
// item ID and as a property, and writes by item ID back into the simulator.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "opc/com_base.h"
#include "testsupport/mcsim_peer.h"
#include "testsupport/child_process.h"
#include "testsupport/driver_setup.h"

namespace hbt::opc::testing {
namespace {

using namespace std::chrono_literals;

std::vector<std::u16string> drain(IEnumString* e) {
  std::vector<std::u16string> out;
  LPOLESTR name = nullptr;
  ULONG n = 0;
  while (e->Next(1, &name, &n) == S_OK) {
    out.emplace_back(name);
    CoTaskMemFree(name);
  }
  e->Release();
  return out;
}

TEST(AddressSpaceEndToEnd, BrowsePropertiesAndItemIoAgainstTheSimulator) {
  testsupport::TestEnvironment env;
  testsupport::McsimPeer plc(env.dir(), {"udp:0:3e-binary"});
  ASSERT_TRUE(plc.ready()) << plc.output();
  testsupport::ConfigSpec plan = testsupport::words_and_bits_configuration(plc.port(0));
  testsupport::DeviceSpec second = plan.channels[0].devices[0];
  second.name = "PLC2";
  second.records = {plan.channels[0].devices[0].records[0]};
  plan.channels[0].devices.push_back(second);
  testsupport::install_configuration(env, plan);
  testsupport::install_driver_exe("S");
  void* lib = dlopen(HBT_LIB_DIR "/HBTOPC.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  ASSERT_EQ(reinterpret_cast<HRESULT (*)()>(dlsym(lib, "DllRegisterServer"))(), S_OK);
  dlclose(lib);
  ASSERT_TRUE(plc.ok("set D100 4321"));

  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"Velmora.Brenlow", &clsid), S_OK);
  IOPCServer* server = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCServer, reinterpret_cast<void**>(&server)),
            S_OK);
  IOPCBrowseServerAddressSpace* browse = nullptr;
  IOPCItemProperties* props = nullptr;
  IOPCItemIO* io = nullptr;
  ASSERT_EQ(server->QueryInterface(IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void**>(&browse)), S_OK);
  ASSERT_EQ(server->QueryInterface(IID_IOPCItemProperties, reinterpret_cast<void**>(&props)), S_OK);
  ASSERT_EQ(server->QueryInterface(IID_IOPCItemIO, reinterpret_cast<void**>(&io)), S_OK);

  // The address space is the configuration the poller loaded.
  IEnumString* e = nullptr;
  ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, u"", VT_EMPTY, 0, &e), S_OK);
  EXPECT_EQ(drain(e), (std::vector<std::u16string>{u"PLC1:D:100 - D:109", u"PLC1:M:0 - M:15", u"PLC2:D:100 - D:109"}));
  ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_BRANCH, u"*2", VT_EMPTY, 0, &e), S_OK);
  EXPECT_EQ(drain(e), std::vector<std::u16string>{u"PLC2"});
  EXPECT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"PLC9"), E_INVALIDARG);
  ASSERT_EQ(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"PLC1"), S_OK);
  ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_LEAF, u"M*", VT_EMPTY, 0, &e), S_OK);
  EXPECT_EQ(drain(e), std::vector<std::u16string>{u"M:0 - M:15"});
  LPWSTR id = nullptr;
  ASSERT_EQ(browse->GetItemID(const_cast<LPWSTR>(u"D:100 - D:109"), &id), S_OK);
  const std::u16string item_id = id;
  CoTaskMemFree(id);
  EXPECT_EQ(item_id, u"PLC1:D:100");

  // The browsed item ID reads the simulator's value once the poller has brought it in.
  LPCWSTR ids[] = {item_id.c_str(), u"PLC9:D:0"};
  bool seen = testsupport::eventually(
      [&] {
        VARIANT* values = nullptr;
        WORD* qualities = nullptr;
        FILETIME* stamps = nullptr;
        HRESULT* errors = nullptr;
        if (io->Read(2, ids, nullptr, &values, &qualities, &stamps, &errors) != S_OK) return false;
        const bool good = values[0].vt == VT_R4 && values[0].fltVal == 4321.0f && qualities[0] == OPC_QUALITY_GOOD &&
                          errors[0] == S_OK && errors[1] == OPC_E_INVALIDITEMID && values[1].vt == VT_EMPTY;
        VariantClear(&values[0]);
        for (void* block : {static_cast<void*>(values), static_cast<void*>(qualities), static_cast<void*>(stamps),
                            static_cast<void*>(errors)})
          CoTaskMemFree(block);
        if (!good) std::this_thread::sleep_for(100ms);
        return good;
      },
      20000);
  EXPECT_TRUE(seen) << "IOPCItemIO::Read never gave D100 = 4321 with good quality";

  DWORD wanted[] = {2, 3, 5003, 5000};
  VARIANT* values = nullptr;
  HRESULT* errors = nullptr;
  ASSERT_EQ(props->GetItemProperties(const_cast<LPWSTR>(u"PLC1:D:100|NONE"), 4, wanted, &values, &errors), S_OK);
  EXPECT_EQ(values[0].vt, VT_R4);
  EXPECT_EQ(values[0].fltVal, 4321.0f);
  EXPECT_EQ(values[1].iVal, OPC_QUALITY_GOOD);
  ASSERT_EQ(values[2].vt, VT_BSTR);
  EXPECT_EQ(std::u16string(values[2].bstrVal), u"PLC1:D:100");
  ASSERT_EQ(values[3].vt, VT_BSTR);
  EXPECT_EQ(std::u16string(values[3].bstrVal), u"NONE");
  for (int i = 0; i < 4; ++i) VariantClear(&values[i]);
  CoTaskMemFree(values);
  CoTaskMemFree(errors);

  // A write by item ID reaches the simulator.
  OPCITEMVQT vqt{};
  vqt.vDataValue.vt = VT_I4;
  vqt.vDataValue.lVal = 777;
  LPCWSTR target[] = {u"PLC1:D:101|NONE"};
  ASSERT_EQ(io->WriteVQT(1, target, &vqt, &errors), S_OK);
  EXPECT_EQ(errors[0], S_OK);
  CoTaskMemFree(errors);
  EXPECT_TRUE(testsupport::eventually([&] { return plc.control("get D101").find("777") != std::string::npos; }, 5000))
      << plc.control("get D101");

  io->Release();
  props->Release();
  browse->Release();
  server->Release();
  CoUninitialize();
  testsupport::run_program({std::string(HBT_BIN_DIR) + "/hbtio", "shutdown"});
}

}  // namespace
}  // namespace hbt::opc::testing
