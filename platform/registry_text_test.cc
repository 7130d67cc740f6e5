// Key names read from text and key names read back after a save must agree, whatever
// blanks, tabs and separators the text put around them.
#include "platform/registry_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "testsupport/test_environment.h"

namespace hbt::platform::registry {
namespace {

std::vector<std::string> key_paths(std::string_view text) {
  std::vector<TextEntry> entries;
  std::string error;
  EXPECT_TRUE(parse_text(text, &entries, &error)) << error << "\n" << text;
  HiveData data;
  apply(data, Hive::CurrentUser, entries);
  std::vector<std::string> paths;
  for (const auto& key : data.keys) paths.push_back(key.path);
  return paths;
}

// A key line as a person or a tool might write it: blanks and tabs anywhere, doubled and
// trailing separators, forward slashes.
std::string random_key_line(std::mt19937& random) {
  static constexpr char kCharacters[] = "ab Z\t\\\\/ _-.]{}";
  std::uniform_int_distribution<int> length(0, 12);
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kCharacters - 2);
  std::string key;
  for (int i = length(random); i > 0; --i) key += kCharacters[pick(random)];
  return "[HKCU\\" + key + "]\n\"v\"=\"1\"\n";
}

TEST(RegistryText, KeysReadBackAfterASaveAsTheyWereFirstRead) {
  std::mt19937 random(20261208);
  for (int run = 0; run < 5000; ++run) {
    std::string text = random_key_line(random);
    std::vector<std::string> first = key_paths(text);
    std::vector<TextEntry> entries;
    std::string error;
    ASSERT_TRUE(parse_text(text, &entries, &error)) << error;
    HiveData data;
    apply(data, Hive::CurrentUser, entries);
    std::string saved = format_hive(Hive::CurrentUser, data);
    EXPECT_EQ(key_paths(saved), first) << "read from: " << text << "saved as: " << saved;
    for (const auto& path : first) {
      EXPECT_EQ(normalise_key_path(path), path) << "a stored key is already in normal form";
    }
  }
}

TEST(RegistryText, TrailingBlankBeforeATrailingBackslash) {
  EXPECT_EQ(normalise_key_path("a \\"), "a");
  EXPECT_EQ(normalise_key_path("a\t\\ \\\\"), "a");
  EXPECT_EQ(normalise_key_path("a \\b"), "a \\b") << "a blank inside a name stays";
  // Through the stored registry: the value is found under the same name before and after
  // the registry is written out and read in again.
  testsupport::TestEnvironment env;
  std::string error;
  ASSERT_TRUE(import_text("REGEDIT4\n[HKEY_CURRENT_USER\\a \\]\n\"v\"=\"1\"\n", &error)) << error;
  EXPECT_EQ(get_string(Hive::CurrentUser, "a", "v"), "1");
  std::string text = export_text();
  testsupport::TestEnvironment other;
  ASSERT_TRUE(import_text(text, &error)) << error;
  EXPECT_EQ(get_string(Hive::CurrentUser, "a", "v"), "1");
  EXPECT_EQ(export_text(), text);
}

}  // namespace
}  // namespace hbt::platform::registry
