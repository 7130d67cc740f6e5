// What the JSON line writer prints, the reader gives back: random texts (any bytes), numbers
// and arrays, field by field.
#include "json_lines.h"

#include <gtest/gtest.h>

#include <random>

#include "tools/hbtio/json.h"

namespace hbt::hbtopc {
namespace {

TEST(HbtopcJsonLines, ReadsBackWhatTheWriterPrintsForRandomFields) {
  std::mt19937 rng(9);
  for (int run = 0; run < 2000; ++run) {
    std::string text;
    for (std::size_t k = rng() % 24; k > 0; --k) text.push_back(static_cast<char>(rng() % 0x80));  // ASCII incl. controls
    const std::int64_t whole = static_cast<std::int64_t>(rng()) - 0x7FFFFFFF;
    const bool flag = rng() & 1;
    hbtio::JsonLine line;
    line.field("text", text).field("whole", whole).field("flag", flag).raw("list", "[1.5,true,\"x\",null]");
    line.raw("none", "null");
    auto o = parse_json_line(line.str());
    ASSERT_TRUE(o) << line.str();
    EXPECT_EQ((*o)["text"].text, text);
    EXPECT_EQ((*o)["whole"].number(), static_cast<double>(whole));
    EXPECT_EQ((*o)["flag"].boolean, flag);
    ASSERT_EQ((*o)["list"].elements.size(), 4u);
    EXPECT_EQ((*o)["list"].elements[0].number_as_float(), 1.5f);
    EXPECT_EQ((*o)["list"].elements[2].text, "x");
    EXPECT_EQ((*o)["none"].kind, JsonValue::Kind::kNull);
  }
  EXPECT_FALSE(parse_json_line("{\"a\":1"));
  EXPECT_FALSE(parse_json_line("{\"a\":1} trailing"));
  EXPECT_FALSE(parse_json_line("server     running"));
  EXPECT_EQ(parse_json_lines("{\"a\":1}\nnoise\n{\"b\":\"\"}\n").size(), 2u);
}

}  // namespace
}  // namespace hbt::hbtopc
