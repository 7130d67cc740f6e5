// AddReg entries: value types, flags, and the lines that cannot be applied.
#include "setup/registry_sections.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "testsupport/test_environment.h"

namespace hbt::setup {
namespace {

namespace registry = platform::registry;
using registry::Hive;

const std::string kHead = "[Version]\nSignature=$Chicago$\n[Install]\nAddReg = Values\n[Values]\n";

bool apply_lines(const std::string& lines, std::string* error, const DirectoryIds& ids = {{65704, "/opt/hbt/HBTSPOLL"}}) {
  auto inf = InfFile::parse(kHead + lines, "R.inf", error);
  return inf && apply_registry_section(*inf, "Install", ids, error);
}

TEST(RegistrySections, WritesEveryValueTypeTheInstallerUses) {
  testsupport::TestEnvironment env;
  std::string error;
  ASSERT_TRUE(apply_lines("HKLM, Software\\V\\Config, DriverExe, 0, \"%65704%\"\n"
                    "HKEY_LOCAL_MACHINE, Software\\V, Count, 0x00010001, 0x2A\n"
                    "HKLM, Software\\V, Bytes4, 0x00010001, 01, 02, 00, 80\n"
                    "HKCU, Software\\V, Blob, 0x00000001, de, AD, 0x00\n"
                    "HKCR, Software\\V, Expand, 0x00020000, \"%%PATH%%\"\n"
                    "HKLM, Software\\V\\Empty, , 0x00000010\n"
                    "HKLM, Software\\V\\KeyOnly\n"
                    "HKLM, Software\\V, , 0, \"default value\"\n",
                    &error))
      << error;
  EXPECT_EQ(registry::get_string(Hive::LocalMachine, "Software\\V\\Config", "DriverExe"), "/opt/hbt/HBTSPOLL");
  EXPECT_EQ(registry::get_dword(Hive::LocalMachine, "Software\\V", "Count"), 42u);
  EXPECT_EQ(registry::get_dword(Hive::LocalMachine, "Software\\V", "Bytes4"), 0x80000201u);
  auto blob = registry::get_value(Hive::CurrentUser, "Software\\V", "Blob");
  ASSERT_TRUE(blob);
  EXPECT_EQ(blob->bytes, (std::vector<std::uint8_t>{0xde, 0xad, 0x00}));
  EXPECT_EQ(registry::get_string(Hive::ClassesRoot, "Software\\V", "Expand"), "%PATH%");
  EXPECT_TRUE(registry::key_exists(Hive::LocalMachine, "Software\\V\\Empty"));
  EXPECT_TRUE(registry::key_exists(Hive::LocalMachine, "Software\\V\\KeyOnly"));
  EXPECT_EQ(registry::get_string(Hive::LocalMachine, "Software\\V", ""), "default value");
}

TEST(RegistrySections, NoClobberOverwriteOnlyAndDelete) {
  testsupport::TestEnvironment env;
  std::string error;
  ASSERT_TRUE(registry::set_string(Hive::LocalMachine, "Software\\V", "Kept", "mine"));
  ASSERT_TRUE(registry::set_string(Hive::LocalMachine, "Software\\V", "Gone", "old"));
  ASSERT_TRUE(apply_lines("HKLM, Software\\V, Kept, 0x2, \"installer's\"\n"
                    "HKLM, Software\\V, New, 0x2, \"installer's\"\n"
                    "HKLM, Software\\V, Absent, 0x20, \"only if present\"\n"
                    "HKLM, Software\\V, Kept, 0x20, \"replaced\"\n"
                    "HKLM, Software\\V, Gone, 0x4\n",
                    &error))
      << error;
  EXPECT_EQ(registry::get_string(Hive::LocalMachine, "Software\\V", "Kept"), "replaced");
  EXPECT_EQ(registry::get_string(Hive::LocalMachine, "Software\\V", "New"), "installer's");
  EXPECT_FALSE(registry::get_value(Hive::LocalMachine, "Software\\V", "Absent"));
  EXPECT_FALSE(registry::get_value(Hive::LocalMachine, "Software\\V", "Gone"));
}

TEST(RegistrySections, LinesThatCannotBeAppliedNameTheirLine) {
  testsupport::TestEnvironment env;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"HKU, Software\\V, X, 0, a\n", "R.inf line 6: unknown registry root HKU"},
      {"HKLM, Software\\V, X, 0x40, a\n", "R.inf line 6: unknown AddReg flags 0x40"},
      {"HKLM, Software\\V, X, zero, a\n", "R.inf line 6: unknown AddReg flags zero"},
      {"HKLM, Software\\V, X, 0x00010000, a, b\n",
       "R.inf line 6: value type or flags not supported here (flags 0x00010000)"},
      {"HKLM, Software\\V, X, 0x00010001, many\n", "R.inf line 6: a REG_DWORD value must be one number or four bytes"},
      {"HKLM, Software\\V, X, 1, 1ff\n", "R.inf line 6: a binary value must be hexadecimal bytes"},
      {"HKLM, Software\\V, X, 0, \"%65701%\"\n", "R.inf line 6: directory id %65701% has no value"},
      {"name = HKLM, Software\\V\n", "R.inf line 6: an AddReg line is 'root, subkey, name, flags, value'"},
      {"HKLM\n", "R.inf line 6: an AddReg line is 'root, subkey, name, flags, value'"},
  };
  for (const auto& [line, message] : cases) {
    std::string error;
    EXPECT_FALSE(apply_lines(line, &error)) << line;
    EXPECT_EQ(error, message);
  }
  std::string error;
  auto inf = InfFile::parse("[Version]\nSignature=$Chicago$\n[Install]\nAddReg = Nowhere\n", "R.inf", &error);
  ASSERT_TRUE(inf);
  EXPECT_FALSE(apply_registry_section(*inf, "Install", {}, &error));
  EXPECT_EQ(error, "R.inf line 4: AddReg names a missing section [Nowhere]");
  EXPECT_TRUE(registry::values(Hive::LocalMachine, "Software\\V").empty()) << "nothing of a refused line is written";
}

}  // namespace
}  // namespace hbt::setup
