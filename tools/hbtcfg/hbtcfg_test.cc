// hbtcfg as a person or a script runs it: exit statuses, files, output, registry answers.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/registry.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status;
  std::string out, err;
};

class HbtcfgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("hbtcfg_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    ::setenv("HBT_REGISTRY_DIR", (dir / "registry").c_str(), 1);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string p(const char* name) const { return (dir / name).string(); }
  static std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static std::string example(const char* name) {
    return std::string(HBT_SOURCE_DIR) + "/examples/" + name;
  }
  Outcome run(const std::string& args) {
    std::string command = "cd '" + dir.string() + "' && '" + std::string(HBT_BIN_DIR) + "/hbtcfg' " + args +
                          " >'" + p("out.txt") + "' 2>'" + p("err.txt") + "' </dev/null";
    int raw = std::system(command.c_str());
    return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(p("out.txt")), slurp(p("err.txt"))};
  }
  // The configuration bytes without the save time, which differs from save to save.
  static std::string without_time(std::string bytes) {
    if (bytes.size() >= 112) bytes.replace(108, 4, 4, '\0');
    return bytes;
  }

  fs::path dir;
};

TEST_F(HbtcfgTest, DemoPlantImportsChecksListsAndExportsBack) {
  Outcome import = run("import '" + example("demo_plant.csv") + "' -o demo.HBT");
  ASSERT_EQ(import.status, 0) << import.err;
  EXPECT_EQ(import.out, p("demo.HBT") + ": 3 channels, 3 devices, 22 poll records; 0 errors\n");
  Outcome check = run("check demo.HBT");
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.out, "demo.HBT: good: 3 channels, 3 devices, 22 poll records (format 279)\n");
  Outcome list = run("list demo.HBT --json");
  ASSERT_EQ(list.status, 0) << list.err;
  // What the poller's tests rely on: three channels on the simulator's ports.
  EXPECT_NE(list.out.find("\"number\":1,\"ip_address\":\"127.0.0.1\",\"ip_port\":5000,\"ip_protocol\":\"UDP\""),
            std::string::npos) << list.out;
  EXPECT_NE(list.out.find("\"ip_port\":5001,\"ip_protocol\":\"TCP\""), std::string::npos);
  EXPECT_NE(list.out.find("\"ip_port\":5002,\"ip_protocol\":\"TCP\""), std::string::npos);
  EXPECT_NE(list.out.find("{\"name\":\"APLC2\",\"description\":\"Packing line (A series ASCII)\","
                          "\"cpu\":\"AnU\",\"protocol\":\"ASCII\""),
            std::string::npos);
  EXPECT_NE(list.out.find("{\"number\":12,\"start\":\"D:60\",\"end\":\"D:63\",\"length\":4,\"data_type\":"
                          "\"Float\",\"poll_time\":\"1.0\",\"access_time\":\"Disabled\",\"exception\":"
                          "\"Analog\",\"dead_band\":\"0.5\"}"),
            std::string::npos);
  Outcome text = run("list demo.HBT");
  EXPECT_NE(text.out.find("Channel 2  127.0.0.1:5001 TCP"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("  Device APLC3  \"Boiler house (A series binary)\"  AnA BINARY"), std::string::npos);

  Outcome exported = run("export demo.HBT -o again.csv");
  ASSERT_EQ(exported.status, 0) << exported.err;
  ASSERT_EQ(run("import again.csv -o again.HBT").status, 0);
  EXPECT_EQ(without_time(slurp(dir / "again.HBT")), without_time(slurp(dir / "demo.HBT")));
  // With another separator too.
  ASSERT_EQ(run("export demo.HBT -o semi.csv --separator ';'").status, 0);
  EXPECT_NE(slurp(dir / "semi.csv").find("QPLC1;1;Mixing line (Q series);Q Series;BINARY"), std::string::npos);
  ASSERT_EQ(run("import semi.csv -o semi.HBT --separator ';'").status, 0);
  EXPECT_EQ(without_time(slurp(dir / "semi.HBT")), without_time(slurp(dir / "demo.HBT")));
}

TEST_F(HbtcfgTest, LimitsConfigurationIsAtEveryLimit) {
  Outcome import = run("import '" + example("limits.csv") + "' -o limits.HBT");
  ASSERT_EQ(import.status, 0) << import.err;
  EXPECT_EQ(import.out, p("limits.HBT") + ": 32 channels, 255 devices, 10000 poll records; 0 errors\n");
  Outcome check = run("check limits.HBT --json");
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.out,
            "{\"file\":\"limits.HBT\",\"status\":\"good\",\"version\":279,\"channels\":32,\"devices\":255,"
            "\"poll_records\":10000,\"problems\":[],\"warnings\":[]}\n");
}

TEST_F(HbtcfgTest, RefusedLinesGoToTheErrorFileAndTheExitStatus) {
  std::ofstream(p("bad.csv"), std::ios::binary)
      << "!CHANNEL\r\n1,Yes,,,,,,1.0,10.0,3,,,,,,,,,,127.0.0.1,5000,UDP\r\n!DEVICE NAME\r\nPLC1,1\r\n"
         "PLC2,4\r\n!IOREC\r\n1,PLC1,Unsigned,1.0,300.0,Disabled,0.0,D:0,10\r\n"
         "2,PLC1,Unsigned,1.0,300.0,Disabled,0.0,D:5,10\r\n";
  Outcome import = run("import bad.csv -o bad.HBT --errors errors.txt");
  EXPECT_EQ(import.status, 1);
  EXPECT_EQ(import.out, p("bad.HBT") + ": 1 channels, 1 devices, 1 poll records; 2 errors (see errors.txt)\n");
  EXPECT_NE(import.err.find("2 Errors detected during import. Errors reported to file errors.txt"), std::string::npos);
  EXPECT_EQ(slurp(dir / "errors.txt"),
            "Line Number   5 : CHANNEL NUMBER not found. Line ignored!\r\n"
            "Line Number   8 : Address already defined in Poll Record 1\r\n");
  EXPECT_EQ(run("check bad.HBT").status, 0) << "the accepted lines are saved";
  // Without --errors the file goes to the working directory (no host folder recorded).
  EXPECT_EQ(run("import bad.csv -o bad.HBT").status, 1);
  EXPECT_TRUE(fs::exists(dir / "HBTDIDW.ERR"));
}

TEST_F(HbtcfgTest, CheckTellsGoodFromCorruptAndRefused) {
  ASSERT_EQ(run("import '" + example("demo_plant.csv") + "' -o demo.HBT").status, 0);
  std::string bytes = slurp(dir / "demo.HBT");
  std::ofstream(p("cut.HBT"), std::ios::binary).write(bytes.data(), 300);
  Outcome cut = run("check cut.HBT");
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.out.rfind("cut.HBT: corrupt\n  problem: ", 0), 0u) << cut.out;
  Outcome listed = run("list cut.HBT");
  EXPECT_EQ(listed.status, 1);
  EXPECT_NE(listed.err.find("File Open Error"), std::string::npos);
  // Loadable by the editor, refused by the driver: a data area that does not match.
  std::string damaged = bytes;
  std::size_t control = static_cast<unsigned char>(damaged[102 + 30]) + 256 * static_cast<unsigned char>(damaged[102 + 31]) + 102;
  std::size_t first = static_cast<unsigned char>(damaged[control]) + 256 * static_cast<unsigned char>(damaged[control + 1]) + 102;
  damaged[first + 32] = 99;  // size of data area 1
  std::ofstream(p("areas.HBT"), std::ios::binary).write(damaged.data(), static_cast<std::streamsize>(damaged.size()));
  Outcome areas = run("check areas.HBT --json");
  EXPECT_EQ(areas.status, 1);
  EXPECT_NE(areas.out.find("\"status\":\"refused\""), std::string::npos) << areas.out;
  EXPECT_NE(areas.out.find("poll record 1 (D:0): data area 1 does not match"), std::string::npos);
  // An empty configuration is a valid file the driver will not load.
  std::ofstream(p("empty.csv")) << "[ nothing ]\n";
  Outcome empty = run("import empty.csv -o empty.HBT");
  EXPECT_EQ(empty.status, 0);
  EXPECT_NE(empty.err.find("holds no poll record"), std::string::npos);
  Outcome refused = run("check empty.HBT");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find("problem: channel count 0 (1..32 accepted)"), std::string::npos) << refused.out;
}

TEST_F(HbtcfgTest, StartupFileIsRecordedOnlyWhenAsked) {
  namespace reg = hbt::platform::registry;
  const char* key = "Software\\Velmora\\Brenlow\\Config";
  ASSERT_EQ(run("import '" + example("demo_plant.csv") + "' -o a.HBT").status, 0);
  EXPECT_FALSE(reg::get_string(reg::Hive::LocalMachine, key, "ConfigFile"));
  ASSERT_EQ(run("import '" + example("demo_plant.csv") + "' -o a.HBT --startup").status, 0);
  EXPECT_EQ(reg::get_string(reg::Hive::LocalMachine, key, "ConfigFile"), p("a.HBT"));
  Outcome other = run("import '" + example("demo_plant.csv") + "' -o b.HBT");
  EXPECT_EQ(other.status, 0);
  EXPECT_NE(other.err.find("Warning !: You are Saving to " + p("b.HBT") + " The Driver is starting up with " +
                           p("a.HBT")),
            std::string::npos)
      << other.err;
  EXPECT_NE(other.err.find("answered No"), std::string::npos);
  EXPECT_EQ(reg::get_string(reg::Hive::LocalMachine, key, "ConfigFile"), p("a.HBT"));
  ASSERT_EQ(run("import '" + example("demo_plant.csv") + "' -o b.HBT --startup").status, 0);
  EXPECT_EQ(reg::get_string(reg::Hive::LocalMachine, key, "ConfigFile"), p("b.HBT"));
}

TEST_F(HbtcfgTest, AFailedSaveLeavesTheStartupFileAlone) {
  namespace reg = hbt::platform::registry;
  const char* key = "Software\\Velmora\\Brenlow\\Config";
  ASSERT_EQ(run("import '" + example("demo_plant.csv") + "' -o a.HBT --startup").status, 0);
  Outcome failed = run("import '" + example("demo_plant.csv") + "' -o missing/b.HBT --startup");
  EXPECT_NE(failed.status, 0);
  EXPECT_NE(failed.err.find("answered Yes"), std::string::npos) << failed.err;
  EXPECT_NE(failed.err.find("Unable to save"), std::string::npos) << failed.err;
  EXPECT_EQ(reg::get_string(reg::Hive::LocalMachine, key, "ConfigFile"), p("a.HBT"));
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST_F(HbtcfgTest, FoldersAndUnreadableFilesAreReportedNotAborted) {
  fs::create_directories(dir / "folder.csv");
  fs::create_directories(dir / "folder.HBT");
  for (const char* command : {"import folder.csv -o x.HBT", "export folder.HBT -o x.csv", "check folder.HBT",
                              "list folder.HBT", "import folder.HBT -o x.HBT"}) {
    Outcome outcome = run(command);
    EXPECT_EQ(outcome.status, 2) << command << "\n" << outcome.err;
    EXPECT_NE(outcome.err.find("Is a directory"), std::string::npos) << command << "\n" << outcome.err;
  }
  EXPECT_FALSE(fs::exists(dir / "x.HBT"));
  EXPECT_FALSE(fs::exists(dir / "x.csv"));
}

TEST_F(HbtcfgTest, EverySeparatorRoundTripsThroughFiles) {
  ASSERT_EQ(run("import '" + example("demo_plant.csv") + "' -o demo.HBT").status, 0);
  for (const char* separator : {"\"$(printf '\\t')\"", "' '", "';'", "'|'", "':'"}) {
    std::string option = std::string(" --separator ") + separator;
    ASSERT_EQ(run("export demo.HBT -o sep.csv" + option).status, 0) << separator;
    Outcome back = run("import sep.csv -o sep.HBT" + option);
    ASSERT_EQ(back.status, 0) << separator << "\n" << back.err;
    EXPECT_EQ(without_time(slurp(dir / "sep.HBT")), without_time(slurp(dir / "demo.HBT"))) << separator;
  }
  EXPECT_EQ(run("export demo.HBT -o x.csv --separator '\"'").status, 2);
  EXPECT_EQ(run("export demo.HBT -o x.csv --separator A").status, 2);
}

TEST_F(HbtcfgTest, JsonEscapesConfigurationTexts) {
  std::ofstream(p("quoted.csv"), std::ios::binary)
      << "!CHANNEL\n1,Yes\n!DEVICE NAME\nPLC1,1,\"Say \"\"hi\"\" \\ there\"\n!IOREC\n"
         "1,PLC1,Unsigned,1.0,300.0,Disabled,0.0,D:0,1\n";
  ASSERT_EQ(run("import quoted.csv -o q.HBT").status, 0);
  Outcome list = run("list q.HBT --json");
  EXPECT_NE(list.out.find("\"description\":\"Say \\\"hi\\\" \\\\ there\""), std::string::npos) << list.out;
}

TEST_F(HbtcfgTest, UsageErrors) {
  EXPECT_EQ(run("").status, 2);
  EXPECT_EQ(run("frobnicate x").status, 2);
  EXPECT_EQ(run("import in.csv").status, 2);
  EXPECT_EQ(run("check a.HBT -o b").status, 2);
  EXPECT_EQ(run("check a.HBT --bogus").status, 2);
  EXPECT_EQ(run("export a.HBT -o x.csv --json").status, 2);
  EXPECT_EQ(run("import a.csv b.csv -o x.HBT").status, 2);
  Outcome missing = run("check missing.HBT");
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("cannot open missing.HBT"), std::string::npos);
  EXPECT_EQ(run("import missing.csv -o x.HBT").status, 2);
  Outcome help = run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage:\n  hbtcfg import IN.csv -o OUT.HBT", 0), 0u);
}

}  // namespace
