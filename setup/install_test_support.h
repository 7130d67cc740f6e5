// What the installer's tests share: installation media made of the shipped HBT.inf and
// stand-in files in a private registry and scratch folder, message boxes recorded instead of
// printed, and a listing of a folder tree to compare before and after.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/registry_text.h"
#include "setup/file_queue.h"
#include "setup/install_driver.h"
#include "testsupport/test_environment.h"

namespace hbt::setup::testing {

inline const char* const kConfigKey = "Software\\Velmora\\Brenlow\\Config";
inline const char* const kProductKey = "Software\\Velmora\\Brenlow";
inline const std::vector<std::string> kScadaFiles = {"HBTSPOLL", "HBTSTSR.so", "HBTOPC.so", "hbtregsvr",      "hbtio",
                                                     "hbtopc",   "mcsim",      "hbtmqtt",   "libhbtpoints.so"};
inline const std::vector<std::string> kViewFiles = {"HBTDIDW", "HBTDOC.html", "DEFAULT.HBT", "hbtcfg", "hbtreg"};

inline std::string media_folder_of(const std::string& name) {
  if (name.ends_with(".so")) return "lib/";
  if (name == "HBTDOC.html" || name == "DEFAULT.HBT") return "share/hbt/";
  return "bin/";
}

struct RecordingMessages : MessagePort {
  std::vector<std::pair<std::string, std::string>> boxes;
  void show(std::string_view title, std::string_view text) override { boxes.emplace_back(title, text); }
  std::string all() const {
    std::string out;
    for (const auto& [title, text] : boxes) out += format_message_box(title, text);
    return out;
  }
};

inline bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Every path below `root`, folders marked with a trailing '/'; empty when root is missing.
inline std::set<std::string> tree(const std::string& root, const std::string& prefix = "") {
  std::set<std::string> out;
  DIR* d = opendir(root.c_str());
  if (d == nullptr) return out;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    std::string full = root + "/" + name;
    if (lstat(full.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      out.insert(prefix + name + "/");
      for (const auto& inner : tree(full, prefix + name + "/")) out.insert(inner);
    } else {
      out.insert(prefix + name);
    }
  }
  closedir(d);
  return out;
}

// The whole registry as keys and their values, in no particular order: the order of keys in
// a hive file carries no meaning.
inline std::map<std::string, std::set<std::string>> registry_content() {
  std::map<std::string, std::set<std::string>> content;
  std::vector<platform::registry::TextEntry> entries;
  std::string error;
  EXPECT_TRUE(platform::registry::parse_text(platform::registry::export_text(), &entries, &error)) << error;
  for (const auto& e : entries) {
    std::string key = std::string(platform::registry::hive_root_name(e.hive)) + "\\" + e.key;
    if (e.kind == platform::registry::TextEntry::SetKey) content[key];
    if (e.kind == platform::registry::TextEntry::SetValue) content[key].insert(platform::registry::format_value(e.value));
  }
  return content;
}

class InstallTest : public ::testing::Test {
 protected:
  testsupport::TestEnvironment env;
  std::string media = env.path("media");
  std::string install = env.path("FIX/install");
  std::string data = env.path("data");
  InstallSettings settings;
  RecordingMessages messages;

  void SetUp() override {
    setenv("XDG_DATA_DIRS", (env.path("all") + ":/usr/share").c_str(), 1);
    setenv("XDG_DATA_HOME", env.path("user").c_str(), 1);
    ASSERT_EQ(make_directories(media), 0);
    ASSERT_TRUE(testsupport::write_file(media + "/HBT.inf",
                                        testsupport::read_file(std::string(HBT_SOURCE_DIR) + "/setup/HBT.inf")));
    for (const auto& list : {kScadaFiles, kViewFiles, std::vector<std::string>{"libhbtcom.so"}}) {
      for (const auto& name : list) {
        ASSERT_EQ(make_directories(media + "/" + media_folder_of(name)), 0);
        ASSERT_TRUE(testsupport::write_file(media + "/" + media_folder_of(name) + name, name + " from the media"));
      }
    }
    // Registration goes to a program that cannot exist unless a test names a real one.
    settings.registration_program = env.path("no-registration-program");
  }
  void TearDown() override {
    unsetenv("XDG_DATA_DIRS");
    unsetenv("XDG_DATA_HOME");
  }

  int run(int mode, int scada, const char* node, const char* host, const char* dist = nullptr) {
    InstallArguments a{1, mode, scada, dist ? dist : media.c_str(), install.c_str(), data.c_str(), node, host};
    return install_driver(a, settings, messages);
  }
  std::string installed(const std::string& name) { return install + "/" + name; }
#ifdef HBT_TEST_SERVER
  // The media's OPC server is a test library; the registration program loads it and calls
  // its entry points.
  void use_test_registration() {
    ASSERT_TRUE(testsupport::write_file(media + "/lib/HBTOPC.so", testsupport::read_file(HBT_TEST_SERVER)));
    settings.registration_program = HBT_TEST_REGSVR;
  }
#endif
  void replace_in_inf(const std::string& from, const std::string& to) {
    std::string inf = testsupport::read_file(media + "/HBT.inf");
    auto at = inf.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    inf.replace(at, from.size(), to);
    ASSERT_TRUE(testsupport::write_file(media + "/HBT.inf", inf));
  }
};

}  // namespace hbt::setup::testing
