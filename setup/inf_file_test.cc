// The INF reader on the shipped HBT.inf, on every construct it uses, on malformed lines and
// on random files.
#include "setup/inf_file.h"

#include <random>

#include <gtest/gtest.h>

namespace hbt::setup {
namespace {

const std::string kShipped = std::string(HBT_SOURCE_DIR) + "/setup/HBT.inf";

std::optional<InfFile> parse(const std::string& text, std::string* error = nullptr) {
  std::string ignored;
  return InfFile::parse(text, "T.inf", error ? error : &ignored);
}

const std::string kVersion = "[Version]\nSignature=\"$Windows NT$\"\n";

TEST(InfFile, ShippedFileHasTheSectionsTheInstallerUses) {
  std::string error;
  auto inf = InfFile::load(kShipped, &error);
  ASSERT_TRUE(inf) << error;
  for (const char* name : {"ScadaNode", "ViewNode", "NtSystem32", "ProductInstall", "DestinationDirs", "Strings"})
    EXPECT_NE(inf->section(name), nullptr) << name;
  EXPECT_NE(inf->section("scadanode"), nullptr) << "section names ignore case";

  // [Strings] substituted when read; directory ids left for expansion.
  const InfSection* product = inf->section("ProductReg");
  ASSERT_NE(product, nullptr);
  const InfLine* driver_exe = nullptr;
  const InfLine* config_file = nullptr;
  for (const auto& line : product->lines) {
    if (line.fields.size() > 2 && line.fields[2] == "DriverExe") driver_exe = &line;
    if (line.fields.size() > 2 && line.fields[2] == "ConfigFile") config_file = &line;
  }
  EXPECT_EQ(driver_exe, nullptr) << "a view node gets no poller to start";
  const InfSection* scada = inf->section("ScadaReg");
  ASSERT_NE(scada, nullptr);
  for (const auto& line : scada->lines)
    if (line.fields.size() > 2 && line.fields[2] == "DriverExe") driver_exe = &line;
  ASSERT_NE(driver_exe, nullptr);
  EXPECT_EQ(driver_exe->fields, (std::vector<std::string>{"HKLM", "Software\\Velmora\\Brenlow\\Config", "DriverExe",
                                                          "0x00000000", "%65704%"}));
  // The continued line is one line with the fields of both.
  ASSERT_NE(config_file, nullptr);
  EXPECT_EQ(config_file->fields.size(), 5u);
  EXPECT_EQ(config_file->fields[4], "%65702%");
  EXPECT_EQ(config_file->last_line, config_file->first_line + 1);

  std::string value;
  ASSERT_TRUE(inf->expand(config_file->fields[4], *config_file, {{65702, "/srv/data/N1.HBT"}}, &value, &error));
  EXPECT_EQ(value, "/srv/data/N1.HBT");

  const InfLine* dest = inf->find_key("DestinationDirs", "SystemFiles");
  ASSERT_NE(dest, nullptr);
  EXPECT_EQ(dest->fields, std::vector<std::string>{"11"});
  const InfLine* source = inf->find_key("SourceDisksFiles", "HBTSTSR.so");
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->fields, (std::vector<std::string>{"1", "lib"}));
}

TEST(InfFile, FieldsQuotesCommentsAndContinuations) {
  auto inf = parse(kVersion +
                   "; a comment line\n"
                   "[Data]   ; comment after a header\n"
                   "key = a, \"b, c\" , \"say \"\"hi\"\"\"   ; trailing comment\n"
                   "  \" padded \" ,, last\n"
                   "x = \"semi;colon\", 0x10\n"
                   "joined = one, \\\n"
                   "   two, \\\n"
                   "   three\n"
                   "empty =\n"
                   "\"quoted=key\"\r\n"
                   "[data]\n"
                   "merged = yes\n"
                   "[Strings]\n"
                   "Name = \"Brenlow\"\n");
  ASSERT_TRUE(inf);
  const InfSection* data = inf->section("DATA");
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(data->lines.size(), 7u);
  EXPECT_EQ(data->lines[0].key, "key");
  EXPECT_EQ(data->lines[0].fields, (std::vector<std::string>{"a", "b, c", "say \"hi\""}));
  EXPECT_FALSE(data->lines[1].has_key);
  EXPECT_EQ(data->lines[1].fields, (std::vector<std::string>{" padded ", "", "last"}));
  EXPECT_EQ(data->lines[2].fields, (std::vector<std::string>{"semi;colon", "0x10"}));
  EXPECT_EQ(data->lines[3].fields, (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(data->lines[3].first_line, 8);
  EXPECT_EQ(data->lines[3].last_line, 10);
  EXPECT_TRUE(data->lines[4].has_key);
  EXPECT_TRUE(data->lines[4].fields.empty());
  EXPECT_FALSE(data->lines[5].has_key) << "an '=' inside quotes is text";
  EXPECT_EQ(data->lines[5].fields, std::vector<std::string>{"quoted=key"});
  EXPECT_EQ(data->lines[6].key, "merged") << "a repeated section continues the first";
  EXPECT_EQ(inf->find_key("Data", "MERGED"), &data->lines[6]);
}

TEST(InfFile, StringsAndDirectoryIdsAreSubstituted) {
  auto inf = parse(kVersion +
                   "[Install]\n"
                   "path = %Base%\\%SUB%, \"100%%\", %65701%/bin, %1%\n"
                   "[Strings]\n"
                   "base = \"C:\\Program Files\"\n"
                   "Sub = \"Brenlow, Ethernet\"\n");
  ASSERT_TRUE(inf);
  const InfLine& line = inf->section("Install")->lines[0];
  EXPECT_EQ(line.fields[0], "C:\\Program Files\\Brenlow, Ethernet") << "a string's comma stays in its field";
  DirectoryIds ids{{65701, "/opt/hbt"}, {1, "/media/"}};
  std::string out, error;
  ASSERT_TRUE(inf->expand(line.fields[1], line, ids, &out, &error));
  EXPECT_EQ(out, "100%");
  ASSERT_TRUE(inf->expand(line.fields[2], line, ids, &out, &error));
  EXPECT_EQ(out, "/opt/hbt/bin");
  ASSERT_TRUE(inf->expand(line.fields[3], line, ids, &out, &error));
  EXPECT_EQ(out, "/media/");
  EXPECT_FALSE(inf->expand(line.fields[2], line, {}, &out, &error));
  EXPECT_EQ(error, "T.inf line 4: directory id %65701% has no value");
}

TEST(InfFile, MalformedFilesNameTheLine) {
  struct Case {
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {kVersion + "[A]\nkey = \"open\n", "T.inf line 4: a quoted value is not closed"},
      {kVersion + "[A\nx=1\n", "T.inf line 3: section header without ']'"},
      {kVersion + "[A] junk\n", "T.inf line 3: text after the section header"},
      {kVersion + "[ ]\n", "T.inf line 3: section without a name"},
      {"stray = 1\n" + kVersion, "T.inf line 1: text outside any section"},
      {kVersion + "[A]\nk = %Nowhere%\n", "T.inf line 4: %Nowhere% is not defined in [Strings]"},
      {kVersion + "[A]\nk = 50%\n", "T.inf line 4: '%' without a closing '%'"},
      {kVersion + "[A]\n = value\n", "T.inf line 4: '=' without a key before it"},
      {kVersion + "[A]\nx\n" + std::string("y\0z\n", 4), "T.inf line 5: contains a NUL byte"},
      {kVersion + "[Strings]\nA = 1, 2\n", "T.inf line 4: a [Strings] line must be 'name = value'"},
      {"[Version]\nSignature=\"$Windows 3.1$\"\n", "T.inf line 2: unknown signature $Windows 3.1$"},
      {"[A]\nx=1\n", "T.inf: no [Version] section with a Signature"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(parse(c.text, &error)) << c.text;
    EXPECT_EQ(error, c.message);
  }
  EXPECT_TRUE(parse("\xEF\xBB\xBF" + kVersion)) << "a byte-order mark is allowed";
  EXPECT_TRUE(parse("[version]\nsignature = $CHICAGO$\n"));
  std::string error;
  EXPECT_FALSE(InfFile::load("/nonexistent/HBT.inf", &error));
  EXPECT_EQ(error, "/nonexistent/HBT.inf: No such file or directory");
}

TEST(InfFile, Numbers) {
  EXPECT_EQ(parse_inf_number("0x00010001"), 0x10001ul);
  EXPECT_EQ(parse_inf_number("0X1f"), 31ul);
  EXPECT_EQ(parse_inf_number("65701"), 65701ul);
  EXPECT_EQ(parse_inf_number(""), 0ul);
  EXPECT_EQ(parse_inf_number("0xFFFFFFFF"), 0xFFFFFFFFul);
  EXPECT_FALSE(parse_inf_number("0x100000000"));
  EXPECT_FALSE(parse_inf_number("12a"));
  EXPECT_FALSE(parse_inf_number("-1"));
  EXPECT_FALSE(parse_inf_number("0x"));
}

// Any fields written with the quoting rules come back unchanged, and random bytes never
// crash the reader: they parse or give a message that names the file.
TEST(InfFile, RandomFieldsRoundTripAndRandomBytesAreRefusedCleanly) {
  std::mt19937 random(20260115);
  const std::string alphabet = "ab Z09,;=\"%\\[]\t-_.";
  auto random_text = [&](std::size_t max) {
    std::string s;
    for (std::size_t n = random() % (max + 1); n > 0; --n) s.push_back(alphabet[random() % alphabet.size()]);
    return s;
  };
  for (int round = 0; round < 500; ++round) {
    std::vector<std::vector<std::string>> lines;
    std::string text = kVersion + "[Data]\n";
    for (int l = 1 + static_cast<int>(random() % 6); l > 0; --l) {
      std::vector<std::string> fields;
      std::string line = "k" + std::to_string(l) + " =";
      for (int f = 1 + static_cast<int>(random() % 5); f > 0; --f) {
        std::string field = random_text(12);
        fields.push_back(field);
        std::string quoted;
        for (char c : field) {
          if (c == '"') quoted += "\"\"";
          else if (c == '%') quoted += "%%";
          else quoted.push_back(c);
        }
        line += (fields.size() > 1 ? ", \"" : " \"") + quoted + "\"";
        if (random() % 4 == 0) line += " \\\n ";
      }
      text += line + "\n";
      lines.push_back(fields);
    }
    std::string error;
    auto inf = parse(text, &error);
    ASSERT_TRUE(inf) << error << "\n" << text;
    const InfSection* data = inf->section("Data");
    ASSERT_EQ(data->lines.size(), lines.size()) << text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::vector<std::string> expanded;
      for (const auto& f : data->lines[i].fields) {
        std::string out;
        ASSERT_TRUE(inf->expand(f, data->lines[i], {}, &out, &error)) << error;
        expanded.push_back(out);
      }
      EXPECT_EQ(expanded, lines[i]) << text;
    }
  }
  for (int round = 0; round < 2000; ++round) {
    std::string text = kVersion;
    for (int n = static_cast<int>(random() % 200); n > 0; --n) text.push_back(static_cast<char>(random() % 256));
    std::string error;
    if (!parse(text, &error)) {
      EXPECT_EQ(error.rfind("T.inf", 0), 0u) << error;
    }
  }
}

}  // namespace
}  // namespace hbt::setup
