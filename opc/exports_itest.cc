// HBTOPC.so as the COM layer loads it: its four exports, registration naming the library
// itself, and a plain C client that activates the server by ProgID through the runtime, adds
// a group and items and lets go of everything, after which the library may be unloaded.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "com/task_memory.h"
#include "opc/identity.h"
#include "opc/loaded_server_fixture.h"
#include "platform/registry.h"

extern "C" int opc_c_client_run(const OLECHAR* progid, const OLECHAR* const* item_ids, unsigned count,
                                VARTYPE* canonical_types);

namespace hbt::opc {
namespace {

using testing::LoadedServer;

TEST_F(LoadedServer, ExportsOnlyTheComEntryPoints) {
  for (const char* name : {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"})
    EXPECT_NE(dlsym(handle, name), nullptr) << name;
  // The server's own code stays inside.
  for (const char* hidden : {"_ZN3hbt3opc13load_settingsEv", "_ZN3hbt3opc8settingsEv", "_ZN3hbt3opc8identityEv"})
    EXPECT_EQ(dlsym(handle, hidden), nullptr) << hidden;
}

TEST_F(LoadedServer, RegistrationNamesTheLibraryFile) {
  auto reg_server = get<HRESULT()>("DllRegisterServer");
  auto unreg_server = get<HRESULT()>("DllUnregisterServer");
  ASSERT_EQ(reg_server(), S_OK);
  char* expected = realpath(HBT_LIB_DIR "/HBTOPC.so", nullptr);
  EXPECT_EQ(platform::registry::get_string(platform::registry::Hive::ClassesRoot,
                                           "CLSID\\" + identity().clsid_text + "\\InprocServer32", ""),
            expected);
  std::free(expected);
  ASSERT_EQ(unreg_server(), S_OK);
  EXPECT_FALSE(platform::registry::key_exists(platform::registry::Hive::ClassesRoot, "CLSID\\" + identity().clsid_text));
}

TEST_F(LoadedServer, APlainCClientAddsItemsAndReleasesEverything) {
  auto can_unload = get<HRESULT()>("DllCanUnloadNow");
  ASSERT_EQ(get<HRESULT()>("DllRegisterServer")(), S_OK);
  const OLECHAR* ids[] = {u"PLC1:D:100", u"PLC1:M:10", u"PLC1:D:200$20", u"PLC9:D:1"};
  VARTYPE types[4] = {};
  // Activation goes through the registry to the library this test loaded: the same copy.
  EXPECT_EQ(opc_c_client_run(u"Velmora.Brenlow", ids, 4, types), 0);
  EXPECT_EQ(opc_c_client_run(u"No.Such.Server", ids, 4, types), 2);
  EXPECT_EQ(types[0], VT_R4);
  EXPECT_EQ(types[1], VT_BOOL);
  EXPECT_EQ(types[2], VT_BSTR);
  EXPECT_EQ(types[3], 0);
  EXPECT_EQ(can_unload(), S_OK);
  // The server's messages reached the ring of the image, in the host library's form.
  std::vector<std::string> texts;
  image::RingReader reader(driver->pointer_block(), 0);
  while (auto m = reader.next()) texts.push_back(m->text);
  EXPECT_NE(std::find(texts.begin(), texts.end(), "NIO-Client added 4 new tags err=0x1"), texts.end())
      << ::testing::PrintToString(texts);
  EXPECT_NE(std::find(texts.begin(), texts.end(), "NIO-OPC: RemoveGroup"), texts.end());
}

}  // namespace
}  // namespace hbt::opc
