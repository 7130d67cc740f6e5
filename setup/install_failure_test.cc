// An installation that cannot put every file in place fails: result 0, what it copied taken
// back, and nothing in the registry, the menus or the shared counts that names a file that
// is not there. Read-only and full targets are made through the system-call table, which
// refuses writes whoever runs the test (root included) and on any file system.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/system_calls.h"
#include "setup/install_test_support.h"
#include "testsupport/system_call_faults.h"

namespace hbt::setup {
namespace {

namespace registry = platform::registry;
namespace sys = platform::sys;
using registry::Hive;
using testing::exists;
using testing::kConfigKey;
using testing::tree;
using testsupport::read_file;
using testsupport::write_file;

constexpr const char* kAbortedTail = "\n\nI/O Server Setup aborted";

class InstallFailureTest : public testing::InstallTest {
 protected:
  void SetUp() override {
    InstallTest::SetUp();
    settings.registration_program = "/bin/true";
    registry_before = registry::export_text();
  }
  // Nothing of the failed installation is left: no file or folder under the targets, the
  // registry as it was, no menu entries.
  void expect_nothing_installed() {
    EXPECT_EQ(tree(env.path("FIX")), std::set<std::string>{}) << "install folder";
    EXPECT_EQ(tree(data), std::set<std::string>{}) << "data folder";
    EXPECT_EQ(registry::export_text(), registry_before);
    EXPECT_FALSE(exists(env.path("all/applications/iFIX")));
  }
  std::string registry_before;
};

TEST_F(InstallFailureTest, AFileMissingOnTheMediaEndsTheInstallationAndTakesBackWhatItCopied) {
  ASSERT_EQ(unlink((media + "/bin/hbtopc").c_str()), 0);
  EXPECT_EQ(run(1, 1, "NODE1", "iFIX"), 0);
  ASSERT_EQ(messages.boxes.size(), 2u) << messages.all();
  // The file's own box goes on to the commit's; only the last says the installation ended.
  EXPECT_EQ(messages.boxes[0].second, "Failed to copy " + media + "/bin/hbtopc to " + installed("hbtopc") +
                                          ": No such file or directory\nWin32 error code: 2");
  EXPECT_EQ(messages.boxes[1].second, std::string("Failed to commit the file queue\nWin32 error code: 2") + kAbortedTail);
  expect_nothing_installed();
}

TEST_F(InstallFailureTest, AReadOnlyTargetFailsTheInstallationAndRecordsNothing) {
  const std::string target = env.path("FIX");
  testsupport::CallOverride<int(const char*, int, unsigned)> read_only(
      sys::table().open, [&, original = sys::table().open](const char* path, int flags, unsigned mode) {
        if ((flags & (O_WRONLY | O_RDWR)) && std::string(path).rfind(target, 0) == 0) {
          errno = EROFS;
          return -1;
        }
        return original(path, flags, mode);
      });
  EXPECT_EQ(run(1, 1, "NODE1", "iFIX"), 0);
  ASSERT_EQ(messages.boxes.size(), 2u) << messages.all();
  EXPECT_EQ(messages.boxes[0].second.rfind("Failed to copy " + media + "/bin/HBTSPOLL to " + installed("HBTSPOLL") +
                                               ": Read-only file system\nWin32 error code: 30",
                                           0),
            0u)
      << messages.all();
  EXPECT_EQ(messages.boxes[0].second.find("aborted"), std::string::npos);
  EXPECT_EQ(messages.boxes[1].second, std::string("Failed to commit the file queue\nWin32 error code: 30") + kAbortedTail);
  expect_nothing_installed();
  for (const char* dll : {"OPCDAAuto.dll", "OPCProxy.dll", "opccomn_ps.dll"})
    EXPECT_FALSE(registry::get_value(Hive::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls",
                                     installed(dll)));
}

TEST_F(InstallFailureTest, AFullDiskLeavesNothingOfANewInstallation) {
  // The disk fills during the fourth file.
  testsupport::FailCalls full(sys::table().write, 4, 1000000, ENOSPC, -1L);
  EXPECT_EQ(run(1, 1, "NODE1", "iFIX"), 0);
  EXPECT_GE(full.failed(), 1);
  EXPECT_NE(messages.all().find("No space left on device"), std::string::npos) << messages.all();
  expect_nothing_installed();
}

TEST_F(InstallFailureTest, AFullDiskDuringAnUpdateKeepsTheEarlierInstallationWhole) {
  ASSERT_EQ(run(1, 1, "NODE1", "iFIX"), 1) << messages.all();
  const std::set<std::string> files_before = tree(env.path("FIX"));
  const std::string registry_after_first = registry::export_text();
  // Newer media replace every file.
  for (const auto& list : {testing::kScadaFiles, testing::kViewFiles, std::vector<std::string>{"libhbtcom.so"}})
    for (const auto& name : list)
      ASSERT_TRUE(write_file(media + "/" + testing::media_folder_of(name) + name, name + " version 2"));
  ASSERT_TRUE(write_file(media + "/bin/hbtcfg.new", "a file the new media add"));
  replace_in_inf("[ScadaFiles]\n", "[ScadaFiles]\nhbtcfg.new\n");
  replace_in_inf("[SourceDisksFiles]\n", "[SourceDisksFiles]\nhbtcfg.new = 1, bin\n");
  messages.boxes.clear();
  {
    testsupport::FailCalls full(sys::table().write, 6, 1000000, ENOSPC, -1L);
    EXPECT_EQ(run(1, 1, "NODE1", "iFIX"), 0);
  }
  EXPECT_NE(messages.all().find("No space left on device"), std::string::npos) << messages.all();
  // Every file is whole (the old or the new version), no temporary is left, the file only the
  // new media have is gone, and the registry is that of the first installation.
  EXPECT_EQ(tree(env.path("FIX")), files_before);
  for (const auto& name : testing::kScadaFiles) {
    std::string text = read_file(installed(name));
    EXPECT_TRUE(text == name + " from the media" || text == name + " version 2") << name << ": " << text;
  }
  EXPECT_EQ(registry::export_text(), registry_after_first);
}

TEST_F(InstallFailureTest, AnInfWithoutTheNodesFileSectionInstallsNothing) {
  replace_in_inf("[ScadaNode]\nCopyFiles = ScadaFiles\nAddReg    = ScadaReg\n", "");
  EXPECT_EQ(run(1, 1, "NODE1", "iFIX"), 0);
  ASSERT_EQ(messages.boxes.size(), 1u) << messages.all();
  EXPECT_EQ(messages.boxes[0].second.rfind("Failed to process Scada node files\n" + media + "/HBT.inf: no section [ScadaNode]",
                                           0),
            0u)
      << messages.all();
  expect_nothing_installed();

  messages.boxes.clear();
  replace_in_inf("CopyFiles = ViewFiles", "CopyFiles = NoSuchList");
  EXPECT_EQ(run(1, 0, "NODE1", "iFIX"), 0);
  ASSERT_EQ(messages.boxes.size(), 1u) << messages.all();
  EXPECT_EQ(messages.boxes[0].second.rfind("Failed to process View node files\n", 0), 0u);
  expect_nothing_installed();
}

TEST_F(InstallFailureTest, ANodeConfigurationThatCannotBeMadeFailsTheInstallation) {
  ASSERT_TRUE(write_file(env.path("in-the-way"), "a file where the data folder should be"));
  data = env.path("in-the-way/data");
  EXPECT_EQ(run(1, 1, "NODE1", "iFIX"), 0);
  ASSERT_EQ(messages.boxes.size(), 1u) << messages.all();
  EXPECT_EQ(messages.boxes[0].second, "Failed to copy " + installed("DEFAULT.HBT") + " to " + data +
                                          "/NODE1.HBT: Not a directory\nWin32 error code: 20" + kAbortedTail);
  expect_nothing_installed();
}

TEST_F(InstallFailureTest, BrokenRegistrySectionsAreReportedUnderTheirTitlesAndTheInstallationGoesOn) {
  replace_in_inf("AddReg = ProductReg", "AddReg = NoSuchReg");
  replace_in_inf("HKLM, %ProductKey%, \"NodeType\",    0x00000000, \"SCADA\"", "HKU, x, y, 0, z");
  ASSERT_EQ(run(1, 1, "", nullptr), 1);
  ASSERT_EQ(messages.boxes.size(), 2u) << messages.all();
  EXPECT_EQ(messages.boxes[0].first, "INF");
  EXPECT_EQ(messages.boxes[0].second.rfind("Failed to do registry stuff\n", 0), 0u);
  EXPECT_EQ(messages.boxes[1].first, "INF");
  EXPECT_EQ(messages.boxes[1].second.rfind("Failed to add scada registry info\n", 0), 0u);
  EXPECT_TRUE(exists(installed("HBTDIDW")));
  EXPECT_TRUE(exists(installed("libhbtcom.so")));
}

}  // namespace
}  // namespace hbt::setup
