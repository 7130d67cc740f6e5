#include "platform/registry.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/registry_text.h"
#include "testsupport/test_environment.h"

namespace hbt::platform::registry {
namespace {

using testsupport::TestEnvironment;

constexpr char kKey[] = "Software\\Velmora\\Brenlow\\Config";

TEST(Registry, ValuesRoundTripWithKeysAndNamesInAnyCase) {
  TestEnvironment env;
  ASSERT_TRUE(set_string(Hive::LocalMachine, kKey, "ConfigFile", "C:\\HBT\\\"quoted\"\\DEFAULT.HBT"));
  ASSERT_TRUE(set_dword(Hive::LocalMachine, kKey, "Timeout", 0xDEADBEEF));
  Value binary;
  binary.name = "Blob";
  binary.type = ValueType::Binary;
  binary.bytes = {0, 1, 0xFE, 0xFF};
  ASSERT_TRUE(set_value(Hive::LocalMachine, kKey, binary));

  EXPECT_EQ(get_string(Hive::LocalMachine, "SOFTWARE\\velmora\\BRENLOW\\config", "configfile"),
            "C:\\HBT\\\"quoted\"\\DEFAULT.HBT");
  EXPECT_EQ(get_dword(Hive::LocalMachine, kKey, "TIMEOUT"), 0xDEADBEEFu);
  EXPECT_EQ(get_value(Hive::LocalMachine, kKey, "blob")->bytes, binary.bytes);
  // A value of another type is not returned as text.
  EXPECT_FALSE(get_string(Hive::LocalMachine, kKey, "Timeout"));
  // Hives are separate.
  EXPECT_FALSE(get_string(Hive::CurrentUser, kKey, "ConfigFile"));
}

TEST(Registry, OverwritingKeepsOneValueAndStoredCase) {
  TestEnvironment env;
  ASSERT_TRUE(set_string(Hive::LocalMachine, kKey, "DriverExe", "a"));
  ASSERT_TRUE(set_string(Hive::LocalMachine, "software\\velmora\\brenlow\\config", "DRIVEREXE", "b"));
  auto all = values(Hive::LocalMachine, kKey);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].name, "DriverExe");
  EXPECT_EQ(all[0].text, "b");
}

TEST(Registry, KeysExistImplicitlyAndDeleteWithTheirSubkeys) {
  TestEnvironment env;
  ASSERT_TRUE(set_string(Hive::ClassesRoot, "A\\B\\C", "x", "1"));
  ASSERT_TRUE(set_string(Hive::ClassesRoot, "A\\D", "", "default"));
  EXPECT_TRUE(key_exists(Hive::ClassesRoot, "a\\b"));
  EXPECT_EQ(subkeys(Hive::ClassesRoot, "A"), (std::vector<std::string>{"B", "D"}));
  EXPECT_EQ(get_string(Hive::ClassesRoot, "A\\D", ""), "default");
  ASSERT_TRUE(delete_key(Hive::ClassesRoot, "a\\B"));
  EXPECT_FALSE(key_exists(Hive::ClassesRoot, "A\\B\\C"));
  EXPECT_TRUE(key_exists(Hive::ClassesRoot, "A\\D"));
  ASSERT_TRUE(delete_value(Hive::ClassesRoot, "A\\D", ""));
  EXPECT_FALSE(get_string(Hive::ClassesRoot, "A\\D", ""));
  EXPECT_TRUE(delete_key(Hive::ClassesRoot, "Not\\There"));
}

TEST(Registry, ExportImportRoundTrip) {
  TestEnvironment env;
  ASSERT_TRUE(set_string(Hive::LocalMachine, kKey, "ConfigFile", "/opt/hbt/DEFAULT.HBT"));
  ASSERT_TRUE(set_dword(Hive::CurrentUser, "Software\\X", "n", 7));
  std::string text = export_text();
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Velmora\\Brenlow\\Config]"), std::string::npos);
  EXPECT_NE(text.find("\"n\"=dword:00000007"), std::string::npos);

  TestEnvironment other;
  std::string error;
  ASSERT_TRUE(import_text(text, &error)) << error;
  EXPECT_EQ(get_string(Hive::LocalMachine, kKey, "ConfigFile"), "/opt/hbt/DEFAULT.HBT");
  EXPECT_EQ(get_dword(Hive::CurrentUser, "Software\\X", "n"), 7u);
  EXPECT_EQ(export_text(), text);
}

TEST(Registry, ImportHonoursDeletionsAndContinuedHexLines) {
  TestEnvironment env;
  ASSERT_TRUE(set_string(Hive::LocalMachine, "Software\\Gone\\Deep", "v", "1"));
  ASSERT_TRUE(set_string(Hive::LocalMachine, "Software\\Keep", "drop", "1"));
  std::string error;
  ASSERT_TRUE(import_text("REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\Software\\Gone]\n\n"
                          "[HKLM\\Software\\Keep]\n\"drop\"=-\n\"bin\"=hex:01,02,\\\n  03\n",
                          &error))
      << error;
  EXPECT_FALSE(key_exists(Hive::LocalMachine, "Software\\Gone"));
  EXPECT_FALSE(get_value(Hive::LocalMachine, "Software\\Keep", "drop"));
  EXPECT_EQ(get_value(Hive::LocalMachine, "Software\\Keep", "bin")->bytes, (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(Registry, BadTextIsRefusedWithItsLineAndWritesNothing) {
  TestEnvironment env;
  std::string error;
  EXPECT_FALSE(import_text("REGEDIT4\n[HKLM\\A]\n\"x\"=\"1\"\n\"y\"=dword:xyz\n", &error));
  EXPECT_NE(error.find("line 4"), std::string::npos) << error;
  EXPECT_FALSE(key_exists(Hive::LocalMachine, "A"));
  EXPECT_FALSE(import_text("[HKEY_NOWHERE\\A]\n", &error));
  EXPECT_FALSE(import_text("\"x\"=\"outside any key\"\n", &error));
  EXPECT_FALSE(import_text("[HKLM\\A]\n\"unterminated=\"1\"\n", &error));
}

TEST(Registry, DamagedHiveIsNeitherReadNorOverwritten) {
  TestEnvironment env;
  ASSERT_TRUE(set_string(Hive::LocalMachine, kKey, "ConfigFile", "x"));
  const std::string path = directory() + "/HKLM.reg";
  ASSERT_TRUE(testsupport::write_file(path, "REGEDIT4\n[HKLM\\A]\n\"x\"=garbage\n"));
  EXPECT_FALSE(get_string(Hive::LocalMachine, "A", "x"));
  EXPECT_FALSE(set_string(Hive::LocalMachine, "A", "y", "1"));
  EXPECT_EQ(testsupport::read_file(path), "REGEDIT4\n[HKLM\\A]\n\"x\"=garbage\n");
}

TEST(Registry, ConcurrentWritersInSeveralProcessesLoseNothing) {
  TestEnvironment env;
  constexpr int kProcesses = 4;
  constexpr int kValuesEach = 25;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    if (pid == 0) {
      bool ok = true;
      for (int v = 0; v < kValuesEach; ++v)
        ok &= set_dword(Hive::LocalMachine, "Software\\Race", "p" + std::to_string(p) + "v" + std::to_string(v),
                        static_cast<std::uint32_t>(v));
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  EXPECT_EQ(values(Hive::LocalMachine, "Software\\Race").size(), std::size_t{kProcesses * kValuesEach});
}

TEST(RegistryText, SplitRootAcceptsShortAndLongNamesAndSlashes) {
  Hive hive;
  std::string key;
  ASSERT_TRUE(split_root("HKLM\\Software\\X", &hive, &key));
  EXPECT_EQ(hive, Hive::LocalMachine);
  EXPECT_EQ(key, "Software\\X");
  ASSERT_TRUE(split_root("hkey_classes_root/CLSID//{1}\\", &hive, &key));
  EXPECT_EQ(hive, Hive::ClassesRoot);
  EXPECT_EQ(key, "CLSID\\{1}");
  EXPECT_FALSE(split_root("HKXX\\A", &hive, &key));
}

}  // namespace
}  // namespace hbt::platform::registry
