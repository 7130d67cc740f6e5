// What the Debian package holds besides the driver's tree, and what lintian says of it.
#include <algorithm>

#include <gtest/gtest.h>

#include "packaging/tests/built_packages.h"
#include "testsupport/child_process.h"

namespace hbt::packaging {
namespace {

using testsupport::run_program;

TEST(DebianPackage, LintianFindsNoErrorButTheOptLayoutAndTheProgramsAreHardened) {
  const BuiltPackages& packages = built_packages();
  ASSERT_EQ(packages.problem, "");
  if (packages.first_log.find("lintian is not installed") != std::string::npos)
    GTEST_SKIP() << "lintian is not installed (scripts/install-deps.sh package installs it)";
  EXPECT_NE(packages.first_log.find("lintian: no error in"), std::string::npos) << packages.first_log;
  // What lintian found before: no copyright, no changelog, no description, programs without
  // immediate binding or fortified calls.
  for (const char* tag : {"no-copyright-file", "no-changelog", "extended-description-is-empty",
                          "hardening-no-bindnow", "hardening-no-fortify-functions", "hardening-no-relro"})
    EXPECT_EQ(packages.first_log.find(tag), std::string::npos) << tag << "\n" << packages.first_log;
}

TEST(DebianPackage, DeclaresWhatItsScriptsAndLaunchersUseAndShipsItsDocumentation) {
  const BuiltPackages& packages = built_packages();
  ASSERT_EQ(packages.problem, "");
  auto depends = run_program({"/usr/bin/dpkg-deb", "--field", packages.first, "Depends"});
  for (const char* package : {"adduser", "xdg-utils", "libc6"})
    EXPECT_NE(depends.output.find(package), std::string::npos) << package << " in " << depends.output;
  auto contents_list = run_program({"/usr/bin/dpkg-deb", "--contents", packages.first});
  if (contents_list.output.find("./opt/hbt/bin/hbtua\n") != std::string::npos) {
    EXPECT_NE(depends.output.find("nodejs (>= 20)"), std::string::npos) << "hbtua runs on node: " << depends.output;
  }
  auto description = run_program({"/usr/bin/dpkg-deb", "--field", packages.first, "Description"});
  EXPECT_GT(std::count(description.output.begin(), description.output.end(), '\n'), 3) << description.output;

  auto contents = run_program({"/usr/bin/dpkg-deb", "--contents", packages.first});
  for (const char* path : {"./usr/share/doc/hbt/copyright", "./usr/share/doc/hbt/changelog.Debian.gz",
                           "./opt/hbt/share/hbt/services/hbtua.conf", "./opt/hbt/share/hbt/services/hbtmqtt.conf",
                           "./lib/systemd/system/hbtua.service", "./lib/systemd/system/hbtmqtt.service",
                           "./opt/hbt/bin/HBTSPOLL", "./opt/hbt/lib/HBTOPC.so", "./opt/hbt/HBT.inf"})
    EXPECT_NE(contents.output.find(std::string(path) + "\n"), std::string::npos) << path;
  // Nothing under /etc: the configuration is made by the scripts and never replaced by dpkg.
  EXPECT_EQ(contents.output.find("./etc/"), std::string::npos) << contents.output;
}

}  // namespace
}  // namespace hbt::packaging
