// The DA 3.0 browse interface of HBTOPC.so as the COM layer loads it, driven by a plain C
// client through the published headers: the items it walks a few at a time are the ranges of
// the configuration, each named by its first register.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "opc/loaded_server_fixture.h"

extern "C" int opc_c_browse_run(const OLECHAR* progid, const OLECHAR* device, char* ids, size_t size);

namespace hbt::opc {
namespace {

// Registered, so that the C client finds the server by its ProgID; once the client let go of
// everything, the library may be unloaded.
class LoadedBrowser : public testing::LoadedServer {
 protected:
  void SetUp() override {
    LoadedServer::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(get<HRESULT()>("DllRegisterServer")(), S_OK);
  }
  void TearDown() override {
    if (handle) {
      EXPECT_EQ(get<HRESULT()>("DllCanUnloadNow")(), S_OK);
    }
    LoadedServer::TearDown();
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
