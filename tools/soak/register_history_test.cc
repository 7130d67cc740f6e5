// The register history the soak's oracles judge by: read from a file that mcsim is still
// writing, and asked what a register held over a span.
#include "tools/soak/register_history.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "testsupport/test_environment.h"

namespace hbt::soak {
namespace {

TEST(SoakRegisterHistory, AnswersWhatARegisterHeldOverASpan) {
  RegisterHistory h;
  h.add(100, 5, 1);
  h.add(200, 5, 2);
  h.add(300, 5, 1);
  // Before its first change a register holds 0; a register never changed holds 0 always.
  EXPECT_TRUE(h.held(5, 0, 0, 99));
  EXPECT_FALSE(h.held(5, 0, 100, 1000));
  EXPECT_TRUE(h.held(7, 0, 0, 1e9));
  EXPECT_FALSE(h.held(7, 3, 0, 1e9));
  // The value at the start of the span counts, and every value the span saw.
  EXPECT_TRUE(h.held(5, 1, 150, 160));
  EXPECT_TRUE(h.held(5, 2, 150, 200));
  EXPECT_FALSE(h.held(5, 2, 150, 199.9));
  EXPECT_FALSE(h.held(5, 2, 300, 400));
  // Until when it held a value last, seen from a moment.
  EXPECT_EQ(h.last_held(5, 2, 1000), 300);
  EXPECT_EQ(h.last_held(5, 1, 250), 200);
  EXPECT_EQ(h.last_held(5, 1, 350), 350);
  EXPECT_EQ(h.last_held(5, 0, 1000), 100);
  EXPECT_EQ(h.last_held(5, 9, 1000), -1);
  EXPECT_TRUE(h.became(5, 1, 250));
  EXPECT_FALSE(h.became(5, 2, 250));
  EXPECT_EQ(h.latest(5), 1);
  EXPECT_EQ(h.latest(6), 0);
}

// mcsim appends while the soak reads: a line cut anywhere is taken only once it is whole, and
// lines of other register types are skipped.
TEST(SoakRegisterHistory, ReadsAFileGrowingInRandomPieces) {
  testsupport::TestEnvironment env;
  const std::string path = env.path("history.txt");
  std::string all;
  for (int i = 0; i < 300; ++i) {
    all += std::to_string(1000 + i) + ".250 D " + std::to_string(i % 7) + " " + std::to_string(i) + "\n";
    if (i % 10 == 0) all += std::to_string(1000 + i) + ".5 M 3 1\n";
  }
  std::mt19937 rng(4);
  RegisterHistory h(path);
  std::ofstream out(path, std::ios::binary);
  for (std::size_t at = 0; at < all.size();) {
    const std::size_t n = std::min<std::size_t>(1 + rng() % 40, all.size() - at);
    out.write(all.data() + at, static_cast<std::streamsize>(n));
    out.flush();
    at += n;
    h.catch_up();
  }
  EXPECT_EQ(h.lines(), 300);
  for (int i = 0; i < 300; ++i) {
    EXPECT_TRUE(h.held(static_cast<std::uint32_t>(i % 7), static_cast<std::uint16_t>(i), 1000 + i + 0.25, 1000 + i + 0.25)) << i;
  }
  EXPECT_EQ(h.latest(3), 297);
}

}  // namespace
}  // namespace hbt::soak
