// The DA 3.0 browse interface of HBTOPC.so as the COM layer loads it, driven by a plain C
// client through the published headers: the items it walks a few at a time are the ranges of
// the configuration, each named by its first register.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "hostlib/test_plant.h"
#include "opc/com_base.h"
#include "testsupport/driver_setup.h"

extern "C" int opc_c_browse_run(const OLECHAR* progid, const OLECHAR* device, char* ids, size_t size);

namespace hbt::opc {
namespace {

class LoadedBrowser : public ::testing::Test {
 protected:
  testsupport::TestEnvironment env;
  testsupport::RecordingSink driver_messages;
  std::unique_ptr<image::Niolib> driver;
  void* handle = nullptr;

  void SetUp() override {
    testsupport::install_configuration(env, hostlib::testing::standard_plant());
    driver = std::make_unique<image::Niolib>(image::NiolibOptions{image::NiolibVariant::kDriver}, driver_messages);
    ASSERT_TRUE(driver->init_dit());
    for (int k = 0; k < driver->poll_record_count(); ++k) driver->nio_map_dit(k)->status = 0;
    handle = dlopen(HBT_LIB_DIR "/HBTOPC.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    ASSERT_EQ(reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllRegisterServer"))(), S_OK);
  }
  void TearDown() override {
    if (handle) {
      EXPECT_EQ(reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllCanUnloadNow"))(), S_OK);
      dlclose(handle);
    }
  }
};

std::vector<std::string> lines(const char* text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST_F(LoadedBrowser, APlainCClientWalksADeviceThroughContinuationPoints) {
  char ids[2048] = {};
  EXPECT_EQ(opc_c_browse_run(u"Velmora.Brenlow", u"PLC1", ids, sizeof ids), 0);
  EXPECT_EQ(lines(ids), (std::vector<std::string>{"PLC1:D:100", "PLC1:D:200", "PLC1:D:300", "PLC1:D:400", "PLC1:X:0",
                                                  "PLC1:D:500", "PLC1:D:100", "PLC1:EX:2:300", "PLC1:W:10", "PLC1:M:0",
                                                  "PLC1:D:600", "PLC1:D:700"}));
  char one[256] = {};
  EXPECT_EQ(opc_c_browse_run(u"Velmora.Brenlow", u"PLC2", one, sizeof one), 15) << "PLC2 has one range: one call";
  EXPECT_EQ(opc_c_browse_run(u"Velmora.Brenlow", u"PLC9", one, sizeof one), 11) << "no such device at the root";
  EXPECT_EQ(opc_c_browse_run(u"No.Such.Server", u"PLC1", one, sizeof one), 2);
}

}  // namespace
}  // namespace hbt::opc
