// The Debian package's maintainer scripts at work, in a scratch root (never on this machine):
// installed, the services' user, folders, registry and configuration are made and the units
// verify; upgraded to the next revision, what the user configured stays; removed, nothing
// names a removed file and the configuration stays; purged, the configuration goes.
#include <unistd.h>

#include <algorithm>
#include <iostream>

#include <gtest/gtest.h>

#include "packaging/tests/built_packages.h"
#include "packaging/tests/scratch_root.h"
#include "testsupport/child_process.h"

namespace hbt::packaging {
namespace {

constexpr const char* kConfigKey = "HKLM\\Software\\Velmora\\Brenlow\\Config";

class PackageLifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(built_packages().problem, "");
    root_ = std::make_unique<ScratchRoot>(built_packages().folder);
    if (!root_->problem().empty()) GTEST_SKIP() << root_->problem();
  }
  std::string in_root(const std::string& deb) {
    return std::string(ScratchRoot::kShared) + deb.substr(built_packages().folder.size());
  }
  testsupport::ProgramResult dpkg(const std::vector<std::string>& args) {
    // The packages the machine lacks (xdg-utils, say) are not what is tested here.
    std::vector<std::string> argv{"/usr/bin/dpkg", "--force-depends"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto r = root_->run(argv);
    std::cout << "dpkg";
    for (const auto& a : args) std::cout << " " << a;
    std::cout << ":\n" << r.output;
    return r;
  }
  // A value of the services' registry, read as the services read it.
  std::string registry_value(const std::string& key, const std::string& name) {
    auto r = root_->run({"/usr/bin/env", "HBT_REGISTRY_DIR=/var/lib/hbt/registry", "/opt/hbt/bin/hbtreg", "get", key,
                         name});
    return r.exit_code == 0 ? r.output : "(none)";
  }
  std::unique_ptr<ScratchRoot> root_;
};

TEST_F(PackageLifecycle, InstallUpgradeRemoveAndPurge) {
  ScratchRoot& root = *root_;
  const bool user_on_machine = testsupport::run_program({"/usr/bin/getent", "passwd", "hbt"}).exit_code == 0;
  ASSERT_NE(access("/opt/hbt", F_OK), 0) << "the machine has an installed driver; the scratch root would show it";

  // Installed.
  auto install = dpkg({"-i", in_root(built_packages().first)});
  ASSERT_EQ(install.exit_code, 0) << install.output;
  EXPECT_EQ(install.output.find("could not be registered"), std::string::npos);
  EXPECT_EQ(root.run({"/usr/bin/getent", "passwd", "hbt"}).exit_code, 0) << "the services' user";
  EXPECT_EQ(root.run({"/usr/bin/stat", "-c", "%n %U:%G %a", "/var/lib/hbt", "/var/lib/hbt/registry", "/etc/hbt",
                      "/etc/hbt/DEFAULT.HBT", "/etc/hbt/hbtua.conf", "/etc/hbt/hbtmqtt.conf"})
                .output,
            "/var/lib/hbt hbt:hbt 750\n/var/lib/hbt/registry hbt:hbt 2770\n/etc/hbt root:hbt 2775\n"
            "/etc/hbt/DEFAULT.HBT root:hbt 664\n/etc/hbt/hbtua.conf root:hbt 640\n/etc/hbt/hbtmqtt.conf root:hbt 640\n");
  EXPECT_EQ(root.read("/etc/hbt/DEFAULT.HBT"), root.read("/opt/hbt/share/hbt/DEFAULT.HBT"));
  // The services' settings files are there to be edited, and read as the services read them.
  EXPECT_EQ(root.read("/etc/hbt/hbtua.conf"), root.read("/opt/hbt/share/hbt/services/hbtua.conf"));
  auto ua_settings = root.shell("setpriv --reuid=hbt --regid=hbt --clear-groups cat /etc/hbt/hbtua.conf >/dev/null");
  EXPECT_EQ(ua_settings.exit_code, 0) << ua_settings.output;
  auto mqtt_settings =
      root.shell("setpriv --reuid=hbt --regid=hbt --clear-groups /opt/hbt/bin/hbtmqtt --config /etc/hbt/hbtmqtt.conf --check");
  EXPECT_EQ(mqtt_settings.exit_code, 0) << mqtt_settings.output;
  EXPECT_EQ(registry_value(kConfigKey, "DriverExe"), "/opt/hbt/bin/HBTSPOLL\n");
  EXPECT_EQ(registry_value(kConfigKey, "ConfigFile"), "/etc/hbt/DEFAULT.HBT\n");
  EXPECT_EQ(registry_value("HKCR\\Velmora.Brenlow\\CLSID", ""), "{6F1D2C3A-9B47-4E85-A0C2-7D5E8B91F346}\n");
  EXPECT_EQ(root.shell("stat -c %U /var/lib/hbt/registry/*.reg | sort -u").output, "hbt\n");
  // The root shares this machine's processes: only a poller started from the package counts.
  EXPECT_EQ(root.shell("pgrep -f '^/opt/hbt/bin/HBTSPOLL' | wc -l").output, "0\n") << "installing started the poller";

  // A client running as the services do starts the poller through DriverExe, as the services'
  // user, on the configuration the package set up.
  const std::vector<std::string> as_service{"/usr/bin/setpriv", "--reuid=hbt", "--regid=hbt", "--clear-groups",
                                            "/usr/bin/env", "HBT_REGISTRY_DIR=/var/lib/hbt/registry", "HBT_GROUP=hbt"};
  auto client = [&](const std::vector<std::string>& args) {
    std::vector<std::string> argv = as_service;
    argv.push_back("/opt/hbt/bin/hbtio");
    argv.insert(argv.end(), args.begin(), args.end());
    return root.run(argv);
  };
  auto start = client({"start"});
  EXPECT_EQ(start.exit_code, 0) << start.output;
  auto status = client({"--json", "status"});
  EXPECT_NE(status.output.find("\"running\":true"), std::string::npos) << status.output;
  EXPECT_NE(status.output.find("\"config_path\":\"/etc/hbt/DEFAULT.HBT\""), std::string::npos) << status.output;
  EXPECT_EQ(root.shell("ps -o user= -p $(pgrep -d, -f '^/opt/hbt/bin/HBTSPOLL')").output, "hbt\n");
  EXPECT_EQ(client({"shutdown"}).exit_code, 0);
  EXPECT_TRUE(testsupport::eventually(
      [&] { return root.shell("pgrep -f '^/opt/hbt/bin/HBTSPOLL'").exit_code != 0; }, 20000));

  // The units: installed, left disabled, and sound. The network services are built apart;
  // stand-ins take their place where this build lacks them.
  EXPECT_TRUE(root.exists("/lib/systemd/system/hbtua.service"));
  EXPECT_FALSE(root.exists("/etc/systemd/system/multi-user.target.wants/hbtua.service"));
  EXPECT_FALSE(root.exists("/etc/systemd/system/multi-user.target.wants/hbtmqtt.service"));
  auto stand_ins = root.shell(
      "for p in hbtua hbtmqtt; do [ -e /opt/hbt/bin/$p ] || { printf '#!/bin/sh\\n' > /opt/hbt/bin/$p; "
      "chmod 755 /opt/hbt/bin/$p; echo /opt/hbt/bin/$p; }; done");
  auto verify = root.run({"/usr/bin/systemd-analyze", "verify", "/lib/systemd/system/hbtua.service",
                          "/lib/systemd/system/hbtmqtt.service"});
  EXPECT_EQ(verify.exit_code, 0) << verify.output;
  EXPECT_EQ(verify.output.find("hbtua.service:"), std::string::npos) << verify.output;
  EXPECT_EQ(verify.output.find("hbtmqtt.service:"), std::string::npos) << verify.output;
  std::string made = stand_ins.output;
  std::replace(made.begin(), made.end(), '\n', ' ');
  if (!made.empty()) {
    EXPECT_EQ(root.shell("rm " + made).exit_code, 0);
  }

  // What the user configures: the services' files, the driver's configuration written by the
  // editor, another configuration file chosen in the editor.
  ASSERT_EQ(root.shell("echo edited > /etc/hbt/hbtua.conf && echo plant > /etc/hbt/DEFAULT.HBT && "
                       "setpriv --reuid=hbt --regid=hbt --clear-groups env HBT_REGISTRY_DIR=/var/lib/hbt/registry "
                       "HBT_GROUP=hbt /opt/hbt/bin/hbtreg set 'HKLM\\Software\\Velmora\\Brenlow\\Config' ConfigFile "
                       "/etc/hbt/PLANT.HBT")
                .exit_code,
            0);

  // Upgraded: the configuration stays as the user left it.
  auto upgrade = dpkg({"-i", in_root(built_packages().second)});
  ASSERT_EQ(upgrade.exit_code, 0) << upgrade.output;
  EXPECT_EQ(root.run({"/usr/bin/dpkg-query", "-W", "-f", "${Version}", "hbt"}).output, "7.9.21-2");
  EXPECT_EQ(root.read("/etc/hbt/hbtua.conf"), "edited\n");
  EXPECT_EQ(root.read("/etc/hbt/DEFAULT.HBT"), "plant\n");
  EXPECT_EQ(registry_value(kConfigKey, "ConfigFile"), "/etc/hbt/PLANT.HBT\n");
  EXPECT_EQ(registry_value(kConfigKey, "DriverExe"), "/opt/hbt/bin/HBTSPOLL\n");
  EXPECT_EQ(registry_value("HKCR\\Velmora.Brenlow\\CLSID", ""), "{6F1D2C3A-9B47-4E85-A0C2-7D5E8B91F346}\n");

  // Removed: the programs go and nothing in the registry names them; the configuration and
  // the registry stay.
  auto remove = dpkg({"-r", "hbt"});
  ASSERT_EQ(remove.exit_code, 0) << remove.output;
  EXPECT_FALSE(root.exists("/opt/hbt")) << root.run({"/usr/bin/find", "/opt/hbt"}).output;
  EXPECT_FALSE(root.exists("/lib/systemd/system/hbtua.service"));
  EXPECT_EQ(root.read("/etc/hbt/hbtua.conf"), "edited\n");
  EXPECT_EQ(root.read("/etc/hbt/DEFAULT.HBT"), "plant\n");
  const std::string machine = root.read("/var/lib/hbt/registry/HKLM.reg");
  EXPECT_NE(machine.find("\"ConfigFile\"=\"/etc/hbt/PLANT.HBT\""), std::string::npos) << machine;
  EXPECT_EQ(machine.find("/opt/hbt"), std::string::npos) << machine;
  const std::string classes = root.read("/var/lib/hbt/registry/HKCR.reg");
  EXPECT_EQ(classes.find("/opt/hbt"), std::string::npos) << classes;

  // Purged: the configuration, the registry and the services' state go; the user stays.
  auto purge = dpkg({"-P", "hbt"});
  ASSERT_EQ(purge.exit_code, 0) << purge.output;
  EXPECT_FALSE(root.exists("/etc/hbt"));
  EXPECT_FALSE(root.exists("/var/lib/hbt"));
  EXPECT_NE(root.run({"/usr/bin/dpkg-query", "-W", "hbt"}).exit_code, 0);
  EXPECT_EQ(root.run({"/usr/bin/getent", "passwd", "hbt"}).exit_code, 0);

  // And this machine saw none of it.
  EXPECT_NE(access("/opt/hbt", F_OK), 0);
  EXPECT_NE(access("/etc/hbt", F_OK), 0);
  EXPECT_EQ(testsupport::run_program({"/usr/bin/getent", "passwd", "hbt"}).exit_code == 0, user_on_machine);
}

}  // namespace
}  // namespace hbt::packaging
