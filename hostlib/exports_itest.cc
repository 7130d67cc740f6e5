// HBTSTSR.so as a host loads it: only nio_* is exported, loading attaches the process as a
// client and unloading detaches it, and the exports survive careless arguments.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include "hostlib/loaded_library_fixture.h"
#include "hostlib/nio_exports.h"
#include "platform/process.h"
#include "testsupport/by_value.h"

namespace hbt::hostlib::testing {
namespace {

using testsupport::by_value;

const char* const kExports[] = {
    "nio_paddr",        "nio_daddr",        "nio_read",           "nio_readEx",       "nio_on",
    "nio_off",          "nio_fetch",        "nio_enable_options", "nio_send",         "nio_sendEx",
    "nio_sendVQT",      "nio_psig",         "nio_dsig",           "nio_EnumSigCond",  "nio_SigCondSize",
    "nio_popt",         "nio_dopt",         "nio_EnumOptions",    "nio_OptionsSize",  "nio_Enum_Devices",
    "nio_Enum_PollRecs", "nio_Free",        "nio_find_dev",       "nio_num_pollblocks", "nio_get_Watchdog",
    "nio_get_ServerStatus", "nio_read_stats", "nio_reset_stats",  "nio_SendMsg",      "nio_CleanUp",
    "nio_getsub",       "nio_reset",        "nio_tick",           "nio_tick_enable",  "nio_tick_disable",
    "nio_reload_dit",
};

// The image is loaded by a driver-side NIOLIB of this process; the library attaches to it.
class LoadedLibrary : public LoadedLibraryOverImage {
 protected:
  LoadedLibrary() : LoadedLibraryOverImage(HBT_LIB_DIR "/HBTSTSR.so") {}
};

TEST_F(LoadedLibrary, ExportsExactlyTheNioEntryPoints) {
  for (const char* name : kExports) EXPECT_NE(dlsym(handle, name), nullptr) << name;
  // The library's own code and the Automation subset stay inside.
  for (const char* hidden : {"_ZN3hbt3com14SysAllocStringEPKDs", "_ZN3hbt5image14append_to_ringEPNS0_12PointerBlockEtSt17basic_string_viewIcSt11char_traitsIcEE",
                             "_ZN3hbt7hostlib16condition_writeERKNS0_12ConditioningEf"})
    EXPECT_EQ(dlsym(handle, hidden), nullptr) << hidden;
}

TEST_F(LoadedLibrary, LoadingAttachesAndUnloadingDetaches) {
  image::PointerBlock* block = driver->pointer_block();
  EXPECT_EQ(block->client_count, 1u);
  EXPECT_EQ(block->client_usage_countdown, image::kClientUsageTicks);
  ASSERT_EQ(dlclose(handle), 0);
  handle = nullptr;
  EXPECT_EQ(block->client_count, 0u);
  std::vector<std::string> texts;
  image::RingReader reader(block, 0);
  while (auto m = reader.next()) texts.push_back(m->text);
  auto has = [&](const std::string& t) { return std::find(texts.begin(), texts.end(), t) != texts.end(); };
  EXPECT_TRUE(has("NIO-Conneting 1 Clients Connected")) << ::testing::PrintToString(texts);
  EXPECT_TRUE(has("NIO-Disconnecting 0 Clients Connected"));
  EXPECT_TRUE(has("NIO-Application " + platform::program_file_name() + " connecting Map HBT0"));
}

TEST_F(LoadedLibrary, APointThroughTheExports) {
  auto paddr = get<decltype(::nio_paddr)>("nio_paddr");
  auto read = get<decltype(::nio_read)>("nio_read");
  auto send = get<decltype(::nio_send)>("nio_send");
  Point p;
  p.format.kind = 1;
  NioStatus status = -1;
  EXPECT_EQ(paddr(&status, &p.block, &p.format, "PLC1:D:107"), 0);
  EXPECT_EQ(status, 0);
  std::uint16_t raw = 321;
  std::memcpy(driver->nio_find_data(0, 1) + 14, &raw, 2);
  float f = 0;
  NioValue v{0, 4, 0, &f};
  EXPECT_EQ(read(&status, &p.block, &p.format, &v), 0);
  EXPECT_EQ(f, 321.0f);
  f = 9;
  EXPECT_EQ(send(&status, &p.block, &p.format, &v), 0);
  EXPECT_EQ(by_value(driver->nio_map_ptr(0)->write_request_count), 16);
}

TEST_F(LoadedLibrary, MissingStatusWordsAndRecordsAreSurvived) {
  auto paddr = get<decltype(::nio_paddr)>("nio_paddr");
  auto read = get<decltype(::nio_read)>("nio_read");
  auto fetch = get<decltype(::nio_fetch)>("nio_fetch");
  auto cleanup = get<decltype(::nio_CleanUp)>("nio_CleanUp");
  auto tick = get<decltype(::nio_tick)>("nio_tick");
  auto enum_sig = get<decltype(::nio_EnumSigCond)>("nio_EnumSigCond");
  Point p;
  EXPECT_EQ(paddr(nullptr, &p.block, &p.format, "PLC1:D:100"), 0) << "works without a status word";
  EXPECT_EQ(read(nullptr, nullptr, nullptr, nullptr), kStatusBadAddress);
  NioStatus status = -1;
  EXPECT_EQ(read(&status, &p.block, &p.format, nullptr), kStatusWrongKind);
  std::int16_t count = 5;
  EXPECT_EQ(fetch(&status, nullptr, nullptr, 10, &count), 0);
  EXPECT_EQ(count, 0);
  NioStatus block[3] = {7, 7, 7};
  EXPECT_EQ(cleanup(block), 0);
  EXPECT_EQ(block[0], 0);
  EXPECT_EQ(block[1], 7) << "only the status word";
  tick();
  std::uint32_t n = 0, bytes = 100;
  EXPECT_EQ(enum_sig(nullptr, &n, &bytes, nullptr), 0);
  EXPECT_EQ(bytes, 100u) << "a null status makes the call do nothing";
}

}  // namespace
}  // namespace hbt::hostlib::testing
