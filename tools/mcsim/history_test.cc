// The value history: one line per change, with the monotonic time, none for a write that
// leaves the value as it was; the lines of a control "set" and of a moving counter alike.
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testsupport/test_environment.h"
#include "tools/mcsim/control.h"
#include "tools/mcsim/history.h"

namespace hbt::mcsim {
namespace {

double monotonic_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct Line {
  double ms;
  std::string type;
  unsigned number, value;
};

std::vector<Line> lines_of(const std::string& path) {
  std::ifstream in(path);
  std::vector<Line> out;
  Line l;
  while (in >> l.ms >> l.type >> l.number >> l.value) out.push_back(l);
  return out;
}

TEST(History, LogsEachChangeOnceWithItsTime) {
  testsupport::TestEnvironment env;
  const std::string path = env.path("history.txt");
  std::string error;
  ASSERT_TRUE(start_history(path, &error)) << error;
  const double before = monotonic_ms();
  Simulator sim;
  sim.plc(kDefaultPlc);
  Controller control(&sim);
  EXPECT_EQ(control.execute("set D100 7 8", 0).substr(0, 2), "ok");
  EXPECT_EQ(control.execute("set D100 7", 0).substr(0, 2), "ok");  // no change
  EXPECT_EQ(control.execute("set M5 1", 0).substr(0, 2), "ok");
  EXPECT_EQ(control.execute("set EX2:300 65535", 0).substr(0, 2), "ok");
  const double after = monotonic_ms();
  const std::vector<Line> lines = lines_of(path);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].type, "D");
  EXPECT_EQ(lines[0].number, 100u);
  EXPECT_EQ(lines[0].value, 7u);
  EXPECT_EQ(lines[1].number, 101u);
  EXPECT_EQ(lines[1].value, 8u);
  EXPECT_EQ(lines[2].type, "M");
  EXPECT_EQ(lines[2].number, 5u);
  EXPECT_EQ(lines[2].value, 1u);
  EXPECT_EQ(lines[3].type, "EX2");
  EXPECT_EQ(lines[3].number, 300u);
  EXPECT_EQ(lines[3].value, 65535u);
  for (const Line& l : lines) {
    EXPECT_GE(l.ms, before - 1);
    EXPECT_LE(l.ms, after + 1);
  }
  EXPECT_FALSE(start_history(env.path("missing/dir/history.txt"), &error));
  EXPECT_NE(error.find("history"), std::string::npos);
}

}  // namespace
}  // namespace hbt::mcsim
