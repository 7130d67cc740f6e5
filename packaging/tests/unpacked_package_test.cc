// The Debian package: built with CPack from this build, unpacked with dpkg-deb into a
// temporary folder, its programs run from there and its tree used as installation media.
#include <sys/stat.h>

#include <iostream>

#include <gtest/gtest.h>

#include "testsupport/child_process.h"
#include "testsupport/test_environment.h"

namespace hbt::setup {
namespace {

using testsupport::eventually;
using testsupport::run_program;
using testsupport::TestEnvironment;

TEST(DebianPackage, UnpackedAnywhereItsProgramsRunAndItInstallsANode) {
  TestEnvironment env;
  auto pack = run_program({HBT_CPACK, "-G", "DEB", "--config", HBT_BUILD_DIR "/CPackConfig.cmake", "-B",
                           env.path("package")},
                          240000, env.dir());
  ASSERT_EQ(pack.exit_code, 0) << pack.output;
  auto found = run_program({"/bin/sh", "-c", "ls " + env.path("package") + "/*.deb"});
  ASSERT_EQ(found.exit_code, 0) << found.output;
  std::string deb = found.output.substr(0, found.output.find('\n'));
  struct stat st {};
  ASSERT_EQ(stat(deb.c_str(), &st), 0);
  std::cout << deb << ": " << st.st_size << " bytes\n";
  RecordProperty("deb_bytes", static_cast<int>(st.st_size));

  // Package facts: its name, where it installs, and no maintainer scripts.
  auto info = run_program({"/usr/bin/dpkg-deb", "--field", deb, "Package", "Version"});
  EXPECT_EQ(info.output, "Package: hbt\nVersion: 7.9.21\n");
  auto control = run_program({"/usr/bin/dpkg-deb", "-e", deb, env.path("control")});
  ASSERT_EQ(control.exit_code, 0) << control.output;
  for (const char* script : {"preinst", "postinst", "prerm", "postrm"})
    EXPECT_NE(access(env.path(std::string("control/") + script).c_str(), F_OK), 0) << script;

  const std::string root = env.path("root");
  auto unpack = run_program({"/usr/bin/dpkg-deb", "-x", deb, root});
  ASSERT_EQ(unpack.exit_code, 0) << unpack.output;
  const std::string tree = root + "/opt/hbt";

  // Programs run where they were unpacked, finding their libraries through relative run paths.
  auto list = run_program({tree + "/bin/hbtcfg", "list", tree + "/share/hbt/DEFAULT.HBT"});
  EXPECT_EQ(list.exit_code, 0) << list.output;
  EXPECT_NE(list.output.find("PLC1"), std::string::npos) << list.output;
  auto help = run_program({tree + "/bin/hbtsetup", "--help"});
  EXPECT_EQ(help.exit_code, 0);

  // The package's tree is installation media: install a view node and a SCADA node from it.
  setenv("XDG_DATA_HOME", env.path("user").c_str(), 1);
  const std::string install = env.path("node/hbt");
  auto setup = run_program({tree + "/bin/hbtsetup", "1", "0", "1", tree, install, env.path("data"), "N1", "iFIX"});
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(setup.exit_code, 0) << setup.output;
  EXPECT_EQ(setup.output.find("Failed to copy"), std::string::npos) << setup.output;

  // The unpacked host tool starts the installed poller through DriverExe; the installed copy
  // of the tool sees the same running driver.
  auto start = run_program({tree + "/bin/hbtio", "start"}, 30000, env.dir());
  EXPECT_EQ(start.exit_code, 0) << start.output;
  EXPECT_TRUE(eventually(
      [&] {
        auto status = run_program({install + "/hbtio", "--json", "status"}, 30000, env.dir());
        return status.output.find("\"running\":true") != std::string::npos;
      },
      5000));
  auto shutdown = run_program({install + "/hbtio", "shutdown"}, 30000, env.dir());
  EXPECT_EQ(shutdown.exit_code, 0) << shutdown.output;
}

}  // namespace
}  // namespace hbt::setup
