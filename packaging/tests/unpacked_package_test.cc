// The Debian package unpacked with dpkg-deb into a temporary folder: its programs run from
// there and its tree is installation media.
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>

#include <gtest/gtest.h>

#include "packaging/tests/built_packages.h"
#include "testsupport/child_process.h"
#include "testsupport/test_environment.h"

namespace hbt::packaging {
namespace {

using testsupport::eventually;
using testsupport::run_program;
using testsupport::TestEnvironment;

TEST(DebianPackage, UnpackedAnywhereItsProgramsRunAndItInstallsANode) {
  const BuiltPackages& packages = built_packages();
  ASSERT_EQ(packages.problem, "");
  const std::string& deb = packages.first;
  TestEnvironment env;
  struct stat st {};
  ASSERT_EQ(stat(deb.c_str(), &st), 0);
  std::cout << deb << ": " << st.st_size << " bytes, built in " << packages.first_seconds << " s\n";
  RecordProperty("deb_bytes", static_cast<int>(st.st_size));

  // Package facts: its name, its version (the driver's, Debian revision 1) and the scripts
  // that set up the services.
  auto info = run_program({"/usr/bin/dpkg-deb", "--field", deb, "Package", "Version"});
  EXPECT_EQ(info.output, "Package: hbt\nVersion: 7.9.21-1\n");
  auto control = run_program({"/usr/bin/dpkg-deb", "-e", deb, env.path("control")});
  ASSERT_EQ(control.exit_code, 0) << control.output;
  for (const char* script : {"postinst", "prerm", "postrm"})
    EXPECT_EQ(access(env.path(std::string("control/") + script).c_str(), X_OK), 0) << script;
  EXPECT_NE(access(env.path("control/preinst").c_str(), F_OK), 0);

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
}  // namespace hbt::packaging
