// UninstallDriver after InstallDriver: the registry and the targets as they were before,
// except the node's configuration and what others changed or still share since.
#include "setup/uninstall_driver.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "setup/install_test_support.h"
#include "setup/shared_dll_counts.h"

namespace hbt::setup {
namespace {

namespace registry = platform::registry;
using registry::Hive;
using testing::exists;
using testing::kConfigKey;
using testing::tree;
using testsupport::read_file;
using testsupport::write_file;

class UninstallDriverTest : public testing::InstallTest {
 protected:
  int uninstall() { return uninstall_driver(settings, messages); }
};

TEST_F(UninstallDriverTest, AfterAScadaNodeTheRegistryAndTheTargetsAreAsBefore) {
  // Settings of the node's own that the installation overwrites or must not touch.
  ASSERT_TRUE(registry::set_string(Hive::LocalMachine, kConfigKey, "DriverExe", "/srv/by-hand/HBTSPOLL"));
  ASSERT_TRUE(registry::set_dword(Hive::LocalMachine, "Software\\Other", "Kept", 7));
  ASSERT_TRUE(registry::set_string(Hive::ClassesRoot, "CLSID\\{OTHER}\\InprocServer32", "", "/other.so"));
  const auto registry_before = testing::registry_content();
  use_test_registration();

  ASSERT_EQ(run(1, 1, "NODE1", "iFIX"), 1) << messages.all();
  ASSERT_TRUE(messages.boxes.empty()) << messages.all();
  ASSERT_TRUE(exists(env.path("all/applications/iFIX/Brenlow Ethernet Driver Configurator.desktop")));
  ASSERT_TRUE(registry::key_exists(Hive::ClassesRoot, "CLSID\\{TEST}"));
  ASSERT_TRUE(registry::key_exists(Hive::ClassesRoot, "Component Categories\\{TESTCAT}"));
  ASSERT_EQ(registry::get_dword(Hive::LocalMachine, kSharedDllsKey, installed("OPCDAAuto.dll")), 1u);
  ASSERT_EQ(registry::get_dword(Hive::LocalMachine, kSharedDllsKey, installed("libhbtcom.so")), 1u);
  ASSERT_EQ(registry::get_string(Hive::LocalMachine, kConfigKey, "DriverExe"), installed("HBTSPOLL"));

  EXPECT_EQ(uninstall(), 1) << messages.all();
  EXPECT_TRUE(messages.boxes.empty()) << messages.all();
  EXPECT_EQ(testing::registry_content(), registry_before);
  EXPECT_EQ(tree(env.path("FIX")), std::set<std::string>{});
  EXPECT_FALSE(exists(env.path("FIX"))) << "the folders it made are gone";
  EXPECT_FALSE(exists(env.path("all"))) << "and the menu entries with theirs";
  EXPECT_EQ(tree(data), std::set<std::string>{"NODE1.HBT"}) << "the node's configuration stays";

  // Nothing is recorded any more.
  messages.boxes.clear();
  EXPECT_EQ(uninstall(), 0);
  ASSERT_EQ(messages.boxes.size(), 1u);
  EXPECT_EQ(messages.boxes[0].second.rfind("No installation of the Brenlow Ethernet Driver is recorded", 0), 0u);
}

TEST_F(UninstallDriverTest, TwoInstallationsAreTakenBackByOne) {
  const auto registry_before = testing::registry_content();
  use_test_registration();
  ASSERT_EQ(run(1, 1, "NODE1", "iFIX"), 1) << messages.all();
  ASSERT_EQ(run(1, 1, "NODE1", "iFIX"), 1) << messages.all();
  ASSERT_EQ(registry::get_dword(Hive::LocalMachine, kSharedDllsKey, installed("OPCProxy.dll")), 2u);
  EXPECT_EQ(uninstall(), 1) << messages.all();
  EXPECT_EQ(testing::registry_content(), registry_before);
  EXPECT_FALSE(exists(env.path("FIX")));
}

TEST_F(UninstallDriverTest, WhatOthersShareOrChangedSinceStays) {
  settings.system_directory = env.path("system");
  const std::string runtime = env.path("system/libhbtcom.so");
  // Another product counts the runtime of the shared system folder already.
  ASSERT_TRUE(registry::set_dword(Hive::LocalMachine, kSharedDllsKey, runtime, 1));
  use_test_registration();
  install = env.path("plain");  // not a host folder: the node's configuration is DEFAULT.HBT here
  ASSERT_EQ(run(1, 1, "", "iFIX"), 1) << messages.all();
  ASSERT_EQ(registry::get_dword(Hive::LocalMachine, kSharedDllsKey, runtime), 2u);
  ASSERT_EQ(registry::get_string(Hive::LocalMachine, kConfigKey, "ConfigFile"), installed("DEFAULT.HBT"));
  // Since the installation: another server implements the same category, the user chose
  // another menu group, and the poller wrote its log beside itself.
  ASSERT_TRUE(registry::create_key(Hive::ClassesRoot, "CLSID\\{OTHER}\\Implemented Categories\\{TESTCAT}"));
  ASSERT_TRUE(registry::set_string(Hive::LocalMachine, testing::kProductKey, "FolderName", "Plant"));
  ASSERT_TRUE(write_file(installed("HBT_LOG.TXT"), "1 10:00:00 |started"));

  EXPECT_EQ(uninstall(), 1) << messages.all();
  EXPECT_EQ(registry::get_dword(Hive::LocalMachine, kSharedDllsKey, runtime), 1u);
  EXPECT_EQ(read_file(runtime), "libhbtcom.so from the media") << "its other user still needs it";
  EXPECT_TRUE(registry::key_exists(Hive::ClassesRoot, "Component Categories\\{TESTCAT}"));
  EXPECT_FALSE(registry::key_exists(Hive::ClassesRoot, "CLSID\\{TEST}"));
  EXPECT_EQ(registry::get_string(Hive::LocalMachine, testing::kProductKey, "FolderName"), "Plant");
  EXPECT_FALSE(registry::get_value(Hive::LocalMachine, kConfigKey, "DriverExe"));
  EXPECT_EQ(tree(install), (std::set<std::string>{"DEFAULT.HBT", "HBT_LOG.TXT"}));
}

TEST_F(UninstallDriverTest, AFailedUnregistrationIsSaidAndNoClassNamesTheRemovedLibrary) {
  const auto registry_before = testing::registry_content();
  use_test_registration();
  ASSERT_EQ(run(1, 1, "NODE1", nullptr), 1) << messages.all();
  settings.registration_program = "/bin/false";
  EXPECT_EQ(uninstall(), 0);
  ASSERT_EQ(messages.boxes.size(), 1u) << messages.all();
  EXPECT_EQ(messages.boxes[0].second,
            "\"/bin/false\" /u /s \"" + installed("HBTOPC.so") + "\" failed with exit status 1\nWin32 error code: 1");
  EXPECT_EQ(testing::registry_content(), registry_before);
  EXPECT_FALSE(exists(installed("HBTOPC.so")));
}

}  // namespace
}  // namespace hbt::setup
