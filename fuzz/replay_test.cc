// Every fuzz target over its seed corpus and over each input a fuzzing run found to break it
// (fuzz/regressions/TARGET/*): the ordinary and sanitizer builds keep them fixed.
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "fuzz/fuzz_target.h"

namespace hbt::fuzz {
namespace {

std::vector<std::string> files_in(const std::string& folder) {
  std::vector<std::string> out;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') out.push_back(folder + "/" + e->d_name);
    closedir(d);
  }
  std::sort(out.begin(), out.end());
  return out;
}

const Target* find(const std::string& name) {
  for (const auto& t : targets())
    if (name == t.name) return &t;
  return nullptr;
}

class Replay : public ::testing::TestWithParam<std::string> {};

TEST_P(Replay, SeedsAndRecordedCrashInputsPass) {
  const Target* target = find(GetParam());
  ASSERT_NE(target, nullptr);
  const std::vector<Bytes> seeds = target->seeds();
  EXPECT_FALSE(seeds.empty());
  for (const Bytes& seed : seeds) target->run(seed);
  for (const std::string& path : files_in(std::string(HBT_SOURCE_DIR) + "/fuzz/regressions/" + GetParam())) {
    SCOPED_TRACE(path);
    std::ifstream in(path, std::ios::binary);
    const Bytes input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Judged by the file's own name: the folders above it may hold "open-" too.
    if (path.compare(path.rfind('/') + 1, 5, "open-") != 0) {
      target->run(input);
      continue;
    }
    // A fault listed in fuzz/known_open.txt, being fixed elsewhere: replayed in a child so
    // that its abort is seen, and reported without failing.
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      target->run(input);
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::printf("%s: %s\n", path.c_str(),
                WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "passes now (rename it without open-)"
                                                              : "still breaks an invariant (known open fault)");
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, Replay,
                         ::testing::Values("poller_reply", "image_check", "editor_config", "editor_csv",
                                           "host_text", "registry_text", "mcsim_request", "opc_item_id",
                                           "inf_reader", "mqtt_command"),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace hbt::fuzz
