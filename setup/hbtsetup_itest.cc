// hbtsetup as a person runs it, in whole processes on media made as `make dist` makes them:
// a read-only target and a full disk fail the installation and leave nothing that names a
// missing file, and --uninstall takes an installation back. The read-only bind mount and the
// small tmpfs are made in a private user and mount namespace (unshare), which refuses writes
// to root as well and needs no privileges where the kernel allows user namespaces; where it
// does not, these two tests say so and are skipped.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "setup/install_test_support.h"
#include "setup/media_test_support.h"
#include "testsupport/child_process.h"
#include "testsupport/test_environment.h"

namespace hbt::setup {
namespace {

namespace registry = platform::registry;
using testing::exists;
using testing::registry_content;
using testing::tree;
using testsupport::ProgramResult;
using testsupport::run_program;

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Processes whose program is `path`.
int processes_running(const std::string& path) {
  int n = 0;
  DIR* d = opendir("/proc");
  if (d == nullptr) return 0;
  while (dirent* e = readdir(d)) {
    char target[4096];
    std::string link = std::string("/proc/") + e->d_name + "/exe";
    ssize_t size = readlink(link.c_str(), target, sizeof target - 1);
    if (size > 0 && std::string(target, static_cast<std::size_t>(size)) == path) ++n;
  }
  closedir(d);
  return n;
}

class Hbtsetup : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = (std::filesystem::temp_directory_path() / "hbt-media-XXXXXX").string();
    media_ = mkdtemp(pattern.data()) ? pattern : "";
    ASSERT_FALSE(media_.empty());
    make_media(media_);
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    if (!media_.empty()) std::filesystem::remove_all(media_, ignored);
  }
  void SetUp() override {
    setenv("XDG_DATA_DIRS", env.path("all").c_str(), 1);
    setenv("XDG_DATA_HOME", env.path("user").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("XDG_DATA_DIRS");
    unsetenv("XDG_DATA_HOME");
  }
  std::vector<std::string> install_command(const std::string& install) {
    return {media_ + "/bin/hbtsetup", "1", "1", "1", media_, install, data, "NODE1", "iFIX"};
  }
  ProgramResult hbtsetup(const std::vector<std::string>& args) {
    std::vector<std::string> argv{media_ + "/bin/hbtsetup"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, 120000, env.dir());
  }
  static bool namespaces_available() {
    return run_program({"/usr/bin/unshare", "--user", "--map-root-user", "--mount", "/bin/true"}).exit_code == 0;
  }
  // Runs the shell script as root of a new user and mount namespace, with the arguments.
  ProgramResult in_namespace(const std::string& script, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/unshare", "--user", "--map-root-user", "--mount", "/bin/sh", "-c",
                                  script, "sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, 120000, env.dir());
  }
  // Nothing of the failed installation is left.
  void expect_nothing_installed(const std::map<std::string, std::set<std::string>>& registry_before) {
    EXPECT_EQ(registry_content(), registry_before);
    EXPECT_EQ(tree(data), std::set<std::string>{});
    EXPECT_FALSE(exists(env.path("all/applications")));
  }

  static std::string media_;
  testsupport::TestEnvironment env;
  std::string data = env.path("data");
};

std::string Hbtsetup::media_;

TEST_F(Hbtsetup, AReadOnlyTargetFailsTheInstallation) {
  if (!namespaces_available()) GTEST_SKIP() << "unshare cannot make a user and mount namespace here";
  const std::string target = env.path("read-only");
  ASSERT_EQ(make_directories(target), 0);
  const auto registry_before = registry_content();
  std::vector<std::string> args{target};
  for (const auto& word : install_command(target + "/FIX/hbt")) args.push_back(word);
  ProgramResult r = in_namespace("mount --bind -o ro \"$1\" \"$1\" || exit 99; shift; exec \"$@\"", args);
  ASSERT_NE(r.exit_code, 99) << r.output;
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("Read-only file system"), std::string::npos) << r.output;
  EXPECT_EQ(count_of(r.output, "I/O Server Setup aborted"), 1u) << r.output;
  EXPECT_EQ(tree(target), std::set<std::string>{});
  expect_nothing_installed(registry_before);
}

TEST_F(Hbtsetup, AFullDiskFailsTheInstallationAndLeavesTheTargetEmpty) {
  if (!namespaces_available()) GTEST_SKIP() << "unshare cannot make a user and mount namespace here";
  const std::string target = env.path("small-disk");
  ASSERT_EQ(make_directories(target), 0);
  const auto registry_before = registry_content();
  std::vector<std::string> args{target};
  for (const auto& word : install_command(target + "/FIX/hbt")) args.push_back(word);
  // The tmpfs goes with the namespace: what is left on it is listed from inside.
  ProgramResult r = in_namespace(
      "mount -t tmpfs -o size=1m hbt-small \"$1\" || exit 99; t=$1; shift; \"$@\"; status=$?; "
      "echo \"left on the disk: [$(ls -A \"$t\")]\"; exit $status",
      args);
  ASSERT_NE(r.exit_code, 99) << r.output;
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("No space left on device"), std::string::npos) << r.output;
  EXPECT_EQ(count_of(r.output, "I/O Server Setup aborted"), 1u) << r.output;
  EXPECT_NE(r.output.find("left on the disk: []"), std::string::npos) << r.output;
  expect_nothing_installed(registry_before);
}

TEST_F(Hbtsetup, UninstallTakesAnInstallationFromTheMediaBack) {
  ASSERT_TRUE(registry::set_string(registry::Hive::LocalMachine, "Software\\Plant", "Line", "3"));
  const auto registry_before = registry_content();
  const std::string install = env.path("FIX/hbt");
  ProgramResult setup = run_program(install_command(install), 120000, env.dir());
  ASSERT_EQ(setup.exit_code, 0) << setup.output;
  EXPECT_EQ(setup.output, "");
  EXPECT_EQ(registry::get_string(registry::Hive::ClassesRoot,
                                 "CLSID\\{6F1D2C3A-9B47-4E85-A0C2-7D5E8B91F346}\\InprocServer32", ""),
            install + "/HBTOPC.so");
  EXPECT_EQ(processes_running(install + "/HBTSPOLL"), 0) << "registering the OPC server started the poller";
  ASSERT_TRUE(exists(env.path("all/applications/iFIX/Brenlow Ethernet Driver Configurator.desktop")));

  ProgramResult removed = hbtsetup({"--uninstall"});
  EXPECT_EQ(removed.exit_code, 0) << removed.output;
  EXPECT_EQ(removed.output, "");
  EXPECT_EQ(registry_content(), registry_before);
  EXPECT_FALSE(exists(env.path("FIX")));
  EXPECT_FALSE(exists(env.path("all")));
  EXPECT_EQ(tree(data), std::set<std::string>{"NODE1.HBT"}) << "the node's configuration stays";

  ProgramResult again = hbtsetup({"--uninstall"});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_NE(again.output.find("No installation of the Brenlow Ethernet Driver is recorded"), std::string::npos)
      << again.output;
  EXPECT_EQ(hbtsetup({"--uninstall", "now"}).exit_code, 2);
}

}  // namespace
}  // namespace hbt::setup
