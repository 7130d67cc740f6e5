#include "platform/process.h"

#include <gtest/gtest.h>

#include "platform/console.h"
#include "testsupport/child_process.h"
#include "testsupport/test_environment.h"

namespace hbt::platform {
namespace {

TEST(CommandLine, SplitsOnBlanksAndHonoursQuotes) {
  EXPECT_EQ(split_command_line("  /opt/hbt/HBTSPOLL  /FP S "),
            (std::vector<std::string>{"/opt/hbt/HBTSPOLL", "/FP", "S"}));
  EXPECT_EQ(split_command_line("\"/opt/my dir/prog\" \"a b\"c \\\"x\\\" \"\""),
            (std::vector<std::string>{"/opt/my dir/prog", "a bc", "\"x\"", ""}));
  EXPECT_TRUE(split_command_line("   ").empty());
}

TEST(CommandLine, DirectoryIsTheTextBeforeTheLastSeparator) {
  EXPECT_EQ(directory_of("C:\\Program Files\\HBT\\HBTSPOLL.EXE"), "C:\\Program Files\\HBT");
  EXPECT_EQ(directory_of("/opt/hbt/HBTSPOLL"), "/opt/hbt");
  EXPECT_EQ(directory_of("HBTSPOLL"), "");
}

TEST(StartDetached, RunsInTheProgramsDirectoryWithoutBeingOurChild) {
  testsupport::TestEnvironment env;
  // A script in the scratch folder writes its working directory and arguments beside itself.
  const std::string script = env.path("probe.sh");
  ASSERT_TRUE(testsupport::write_file(script, "#!/bin/sh\npwd > out.txt\necho \"$@\" >> out.txt\n"));
  ASSERT_EQ(chmod(script.c_str(), 0755), 0);
  int error = 0;
  int pid = start_detached(script + " one \"two three\"", "", &error);
  ASSERT_GT(pid, 0) << error;
  EXPECT_TRUE(testsupport::eventually([&] { return testsupport::read_file(env.path("out.txt")).find("three") != std::string::npos; }, 5000));
  EXPECT_EQ(testsupport::read_file(env.path("out.txt")), env.dir() + "\none two three\n");
  EXPECT_TRUE(testsupport::eventually([&] { return !process_alive(pid); }, 5000));
}

TEST(StartDetached, ReportsAProgramThatCannotRun) {
  int error = 0;
  EXPECT_EQ(start_detached("/nonexistent/program arg", "", &error), -1);
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(start_detached("", "", &error), -1);
}

TEST(Console, AttributesBecomeAnsiColours) {
  EXPECT_EQ(ansi_for_attribute(0x07), "\033[0m");
  EXPECT_EQ(ansi_for_attribute(0x46), "\033[0;33;41m");  // brown on red
  EXPECT_EQ(ansi_for_attribute(0x17), "\033[0;37;44m");  // grey on blue
  EXPECT_EQ(ansi_for_attribute(0x9C), "\033[0;91;104m");  // bright red on bright blue
}

}  // namespace
}  // namespace hbt::platform
