// InstallDriver from media made of the shipped HBT.inf and stand-in files: every step, the
// directory-id rules, the shortcut table, and the inputs that must not lose anything.
#include "setup/install_driver.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "setup/file_queue.h"
#include "setup/install_test_support.h"
#include "testsupport/child_process.h"
#include "testsupport/test_environment.h"

namespace hbt::setup {
namespace {

namespace registry = platform::registry;
using registry::Hive;
using testing::exists;
using testing::kConfigKey;
using testing::kScadaFiles;
using testing::kViewFiles;
using testsupport::read_file;
using testsupport::TestEnvironment;
using testsupport::write_file;

using InstallDriverTest = testing::InstallTest;

TEST_F(InstallDriverTest, ScadaNodeGetsEveryFileTheRegistryValuesAndItsConfiguration) {
  settings.registration_program = "/bin/true";
  ASSERT_EQ(run(1, 1, "NODE1", "iFIX"), 1) << messages.all();
  EXPECT_TRUE(messages.boxes.empty()) << messages.all();
  for (const auto& list : {kScadaFiles, kViewFiles, std::vector<std::string>{"libhbtcom.so"}})
    for (const auto& name : list) EXPECT_EQ(read_file(installed(name)), name + " from the media");
  EXPECT_EQ(registry::get_string(Hive::LocalMachine, kConfigKey, "DriverExe"), installed("HBTSPOLL"));
  // The install folder names the host (FIX) and the node has a name: its own file.
  EXPECT_EQ(registry::get_string(Hive::LocalMachine, kConfigKey, "ConfigFile"), data + "/NODE1.HBT");
  EXPECT_EQ(read_file(data + "/NODE1.HBT"), "DEFAULT.HBT from the media");
  EXPECT_EQ(registry::get_string(Hive::LocalMachine, "Software\\Velmora\\Brenlow", "NodeType"), "SCADA");
  EXPECT_EQ(registry::get_string(Hive::LocalMachine, "Software\\Velmora\\Brenlow", "InstallDir"), install);
  EXPECT_EQ(registry::get_string(Hive::LocalMachine, "Software\\Velmora\\Brenlow", "FolderName"), "iFIX");
  const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
  for (const char* dll : {"OPCDAAuto.dll", "OPCProxy.dll", "opccomn_ps.dll"})
    EXPECT_EQ(registry::get_dword(Hive::LocalMachine, key, install + "/" + dll), 1u) << dll;
}

TEST_F(InstallDriverTest, ViewNodeGetsNeitherScadaFilesNorRegistration) {
  settings.registration_program = env.path("registered");
  ASSERT_TRUE(write_file(settings.registration_program, "#!/bin/sh\ntouch \"$0.ran\"\n"));
  chmod(settings.registration_program.c_str(), 0755);
  ASSERT_EQ(run(1, 0, "VIEW1", "iFIX"), 1) << messages.all();
  EXPECT_TRUE(messages.boxes.empty()) << messages.all();
  for (const auto& name : kScadaFiles) EXPECT_FALSE(exists(installed(name))) << name;
  for (const auto& name : kViewFiles) EXPECT_TRUE(exists(installed(name))) << name;
  EXPECT_TRUE(exists(installed("libhbtcom.so")));
  EXPECT_EQ(registry::get_string(Hive::LocalMachine, "Software\\Velmora\\Brenlow", "NodeType"), "VIEW");
  EXPECT_EQ(registry::get_dword(Hive::LocalMachine, "Software\\Velmora\\Brenlow", "ScadaNode"), 0u);
  EXPECT_FALSE(registry::get_value(Hive::LocalMachine, kConfigKey, "DriverExe")) << "a view node gets no poller";
  EXPECT_EQ(registry::get_string(Hive::LocalMachine, kConfigKey, "ConfigFile"), data + "/VIEW1.HBT");
  usleep(300 * 1000);
  EXPECT_FALSE(exists(settings.registration_program + ".ran")) << "a view node registers nothing";

  // A SCADA node is argument 3 exactly 1 for the registration; 2 copies its files only.
  ASSERT_EQ(run(1, 2, "VIEW1", "iFIX"), 1) << messages.all();
  EXPECT_TRUE(exists(installed("HBTSPOLL")));
  usleep(300 * 1000);
  EXPECT_FALSE(exists(settings.registration_program + ".ran"));
}

TEST_F(InstallDriverTest, RegistersTheOpcServerFromTheInstallFolderBeforeItReturns) {
  // The test server's DllRegisterServer records its working folder.
  use_test_registration();
  ASSERT_EQ(run(1, 1, "", nullptr), 1) << messages.all();
  EXPECT_EQ(registry::get_string(Hive::ClassesRoot, "CLSID\\{TEST}\\InprocServer32", ""), install);

  // A registration program that cannot start, or that fails, is reported; the installation
  // goes on, and the message does not say it was aborted.
  settings.registration_program = env.path("missing-regsvr");
  EXPECT_EQ(run(1, 1, "", nullptr), 1);
  ASSERT_EQ(messages.boxes.size(), 1u) << messages.all();
  EXPECT_EQ(messages.boxes[0].second, "Failed to start \"" + env.path("missing-regsvr") + "\" /s \"" +
                                          installed("HBTOPC.so") +
                                          "\": No such file or directory\nWin32 error code: 2");
  settings.registration_program = "/bin/false";
  EXPECT_EQ(run(1, 1, "", nullptr), 1);
  ASSERT_EQ(messages.boxes.size(), 2u) << messages.all();
  EXPECT_EQ(messages.boxes[1].second,
            "\"/bin/false\" /s \"" + installed("HBTOPC.so") + "\" failed with exit status 1\nWin32 error code: 1");
}

TEST_F(InstallDriverTest, ConfigurationFileFollowsTheHostFolderRule) {
  struct Case {
    std::string install_folder;
    const char* node;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"/opt/DYNAMICS/hbt", "N1", "/data/N1.HBT"}, {"/opt/iFIX", "N1", "/data/N1.HBT"},
      {"/opt/PROFICY/hbt", "N1", "/data/N1.HBT"},  {"/opt/ifix", "N1", "/opt/ifix/DEFAULT.HBT"},
      {"/opt/FIX", "", "/opt/FIX/DEFAULT.HBT"},     {"/opt/hbt/", "N1", "/opt/hbt/DEFAULT.HBT"},
  };
  for (const auto& c : cases) EXPECT_EQ(configuration_file_path(c.install_folder, "/data", c.node), c.expected);

  install = env.path("plain");
  ASSERT_EQ(run(1, 0, "N2", nullptr), 1);
  EXPECT_EQ(registry::get_string(Hive::LocalMachine, kConfigKey, "ConfigFile"), install + "/DEFAULT.HBT");
  EXPECT_TRUE(exists(data + "/N2.HBT")) << "a named node gets its file wherever ConfigFile points";
}

TEST_F(InstallDriverTest, DistributionPathWithOrWithoutTrailingSeparator) {
  ASSERT_EQ(run(1, 0, "", nullptr, media.c_str()), 1);
  std::string with_slash = media + "/";
  install = env.path("second");
  ASSERT_EQ(run(1, 0, "", nullptr, with_slash.c_str()), 1);
  EXPECT_TRUE(messages.boxes.empty()) << messages.all();
  EXPECT_TRUE(exists(install + "/HBTDIDW"));
}

TEST_F(InstallDriverTest, EarlyFailuresReturnZeroAndInstallNothing) {
  InstallArguments disabled{0, 1, 1, media.c_str(), install.c_str(), data.c_str(), "N", "iFIX"};
  EXPECT_EQ(install_driver(disabled, settings, messages), 0);
  EXPECT_TRUE(messages.boxes.empty());

  InstallArguments no_media{1, 1, 1, nullptr, install.c_str(), data.c_str(), "N", "iFIX"};
  EXPECT_EQ(install_driver(no_media, settings, messages), 0);
  ASSERT_EQ(messages.boxes.size(), 1u);
  EXPECT_EQ(messages.boxes[0], (std::pair<std::string, std::string>{
                                   "I/O Server Setup Error",
                                   "Path to the distribution media was not specified\n\nI/O Server Setup aborted"}));

  messages.boxes.clear();
  std::string empty_media = env.path("empty");
  ASSERT_EQ(make_directories(empty_media), 0);
  EXPECT_EQ(run(1, 1, "N", "iFIX", empty_media.c_str()), 0);
  ASSERT_EQ(messages.boxes.size(), 1u);
  EXPECT_EQ(messages.boxes[0].second, "Failed to open server's information file " + empty_media +
                                          "/HBT.inf\n" + empty_media +
                                          "/HBT.inf: No such file or directory\n\nI/O Server Setup aborted");

  messages.boxes.clear();
  ASSERT_TRUE(write_file(media + "/HBT.inf", read_file(media + "/HBT.inf") + "\n[Broken\n"));
  EXPECT_EQ(run(1, 1, "N", "iFIX"), 0);
  ASSERT_EQ(messages.boxes.size(), 1u);
  EXPECT_NE(messages.boxes[0].second.find("/HBT.inf line "), std::string::npos) << messages.all();
  EXPECT_NE(messages.boxes[0].second.find(": section header without ']'"), std::string::npos);

  messages.boxes.clear();
  install.clear();
  ASSERT_TRUE(write_file(media + "/HBT.inf", read_file(std::string(HBT_SOURCE_DIR) + "/setup/HBT.inf")));
  EXPECT_EQ(run(1, 1, "N", "iFIX"), 0);
  ASSERT_EQ(messages.boxes.size(), 1u);
  EXPECT_EQ(messages.boxes[0].second.rfind("Failed to associate a directory id with the destination directory", 0), 0u);
  EXPECT_FALSE(exists(data)) << "nothing was installed";
  EXPECT_FALSE(registry::get_value(Hive::LocalMachine, kConfigKey, "DriverExe"));
}

TEST_F(InstallDriverTest, ShortcutTable) {
  struct Case {
    const char* host;
    int mode;
    bool all_users;
    std::string group;
    std::string help_link;
  };
  const std::string help = "Brenlow Ethernet Driver Help";
  const std::string configurator_help = "Brenlow Ethernet Driver Configurator Help";
  const std::vector<Case> cases = {
      {"iFIX", 1, true, "iFIX", help},
      {"FIX Dynamics", 1, true, "FIX Dynamics", help},
      {"Intellution FIX", 7, true, "FIX Dynamics", help},
      {"iFIX", 0, false, "Intellution FIX", help},
      {"FIX Dynamics", 0, false, "Intellution FIX", help},
      {"Intellution FIX", 0, false, "Intellution FIX", help},
      {"ifix", 0, true, "ifix", configurator_help},
      {"Plant Tools", 1, true, "Plant Tools", configurator_help},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.host) + " " + std::to_string(c.mode));
    ASSERT_EQ(run(c.mode, 0, "", c.host), 1) << messages.all();
    std::string folder = (c.all_users ? env.path("all") : env.path("user")) + "/applications/" + c.group + "/";
    std::string editor = read_file(folder + "Brenlow Ethernet Driver Configurator.desktop");
    EXPECT_NE(editor.find("Name=Brenlow Ethernet Driver Configurator\n"), std::string::npos) << editor;
    EXPECT_NE(editor.find("Exec=\"" + install + "/HBTDIDW\"\n"), std::string::npos) << editor;
    std::string help_entry = read_file(folder + c.help_link + ".desktop");
    EXPECT_NE(help_entry.find("Name=Brenlow Ethernet Driver Configurator Help\n"), std::string::npos) << help_entry;
    EXPECT_NE(help_entry.find("Exec=\"xdg-open\" \"" + install + "/HBTDOC.html\"\n"), std::string::npos);
    EXPECT_EQ(registry::get_string(Hive::LocalMachine, "Software\\Velmora\\Brenlow\\", "FolderName"), c.group);
  }
  EXPECT_TRUE(messages.boxes.empty()) << messages.all();

  // No host name: no shortcuts and no FolderName.
  registry::delete_value(Hive::LocalMachine, "Software\\Velmora\\Brenlow", "FolderName");
  TestEnvironment fresh;
  setenv("XDG_DATA_HOME", fresh.path("user").c_str(), 1);
  setenv("XDG_DATA_DIRS", fresh.path("all").c_str(), 1);
  ASSERT_EQ(run(1, 0, "", nullptr), 1);
  EXPECT_FALSE(exists(fresh.path("all"))) << "no menu folder";
  EXPECT_FALSE(registry::get_value(Hive::LocalMachine, "Software\\Velmora\\Brenlow", "FolderName"));

  // A group that climbs out of the menu folder is refused and reported.
  ASSERT_EQ(run(1, 0, "", "../../outside"), 1);
  ASSERT_EQ(messages.boxes.size(), 1u);
  EXPECT_EQ(messages.boxes[0].second.rfind("Failed to create the shortcut ../../outside: Invalid argument", 0), 0u);
  EXPECT_EQ(messages.boxes[0].second.find("aborted"), std::string::npos) << "the installation went on";
  EXPECT_FALSE(exists(fresh.path("outside")));
  EXPECT_FALSE(registry::get_value(Hive::LocalMachine, "Software\\Velmora\\Brenlow", "FolderName"));
}

TEST_F(InstallDriverTest, NothingInstalledIsLostOrDowngraded) {
  settings.registration_program = "/bin/true";
  ASSERT_EQ(make_directories(install), 0);
  ASSERT_EQ(make_directories(data), 0);
  // The node's own configuration, a newer poller and an older editor are already there.
  ASSERT_TRUE(write_file(data + "/NODE1.HBT", "the plant's configuration"));
  ASSERT_TRUE(write_file(installed("HBTSPOLL"), "newer poller"));
  ASSERT_TRUE(write_file(installed("HBTDIDW"), "older editor"));
  ASSERT_TRUE(write_file(installed("libhbtcom.so"), "newer runtime"));
  struct timespec old_times[2] = {{1500000000, 0}, {1500000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, installed("HBTDIDW").c_str(), old_times, 0), 0);
  // The media's files are older than the ones just written.
  for (const char* f : {"/bin/HBTSPOLL", "/bin/HBTDIDW", "/lib/libhbtcom.so"}) {
    struct timespec t[2] = {{1600000000, 0}, {1600000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (media + f).c_str(), t, 0), 0);
  }
  // A registry value chosen later stays too.
  ASSERT_TRUE(registry::set_string(Hive::LocalMachine, kConfigKey, "ConfigFile", "/plant/CHOSEN.HBT"));
  chmod((media + "/share/hbt/DEFAULT.HBT").c_str(), 0444);

  ASSERT_EQ(run(1, 1, "NODE1", nullptr), 1) << messages.all();
  EXPECT_TRUE(messages.boxes.empty()) << messages.all();
  EXPECT_EQ(read_file(data + "/NODE1.HBT"), "the plant's configuration");
  EXPECT_EQ(read_file(installed("HBTSPOLL")), "newer poller");
  EXPECT_EQ(read_file(installed("libhbtcom.so")), "newer runtime");
  EXPECT_EQ(read_file(installed("HBTDIDW")), "HBTDIDW from the media");
  EXPECT_EQ(registry::get_string(Hive::LocalMachine, kConfigKey, "ConfigFile"), "/plant/CHOSEN.HBT");
  struct stat st {};
  ASSERT_EQ(stat(installed("DEFAULT.HBT").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IWUSR) << "the installed default is writable again";

  // Counts go up by one per install; a count of another type is left alone.
  const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
  registry::Value text{install + "/OPCProxy.dll", registry::ValueType::String, "not a count"};
  ASSERT_TRUE(registry::set_value(Hive::LocalMachine, key, text));
  ASSERT_EQ(run(1, 1, "NODE1", nullptr), 1);
  EXPECT_EQ(registry::get_dword(Hive::LocalMachine, key, install + "/OPCDAAuto.dll"), 2u);
  EXPECT_EQ(registry::get_string(Hive::LocalMachine, key, install + "/OPCProxy.dll"), "not a count");
}

TEST(InstallDriverExport, SetupLibraryExportsOnlyItsTwoEntryPoints) {
  void* library = dlopen(HBT_LIB_DIR "/setup.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  using Function = int (*)(int, int, int, const char*, const char*, const char*, const char*, const char*);
  auto install = reinterpret_cast<Function>(dlsym(library, "InstallDriver"));
  ASSERT_NE(install, nullptr);
  EXPECT_EQ(install(0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_NE(dlsym(library, "UninstallDriver"), nullptr);
  dlclose(library);
  // The dynamic symbol table offers the two entry points and nothing else of ours.
  auto symbols = testsupport::run_program({"/usr/bin/nm", "-D", "--defined-only", HBT_LIB_DIR "/setup.so"});
  ASSERT_EQ(symbols.exit_code, 0) << symbols.output;
  EXPECT_NE(symbols.output.find(" T InstallDriver\n"), std::string::npos) << symbols.output;
  EXPECT_NE(symbols.output.find(" T UninstallDriver\n"), std::string::npos) << symbols.output;
  EXPECT_EQ(symbols.output.find("hbt"), std::string::npos) << symbols.output;
}

}  // namespace
}  // namespace hbt::setup
