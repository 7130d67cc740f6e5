#include "tools/hbtio/json.h"

#include <limits>

#include <gtest/gtest.h>

namespace hbt::hbtio {
namespace {

TEST(JsonQuote, EscapesControlsAndKeepsOutputValidForAnyBytes) {
  EXPECT_EQ(json_quote("a\"b\\c\n\r\t\x01\x7f"), "\"a\\\"b\\\\c\\n\\r\\t\\u0001\\u007f\"");
  // Well-formed UTF-8 passes through; stray high bytes are read as Latin-1.
  EXPECT_EQ(json_quote("Gr\xc3\xbc\xc3\x9f \xe2\x82\xac"), "\"Gr\xc3\xbc\xc3\x9f \xe2\x82\xac\"");
  EXPECT_EQ(json_quote("Gr\xfc\xdf"), "\"Gr\\u00fc\\u00df\"");
  EXPECT_EQ(json_quote("\xe2\x82"), "\"\\u00e2\\u0082\"") << "a sequence cut short";
  EXPECT_EQ(json_quote("\xc0\xaf"), "\"\\u00c0\\u00af\"") << "an overlong form";
  EXPECT_EQ(json_quote("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\"") << "a surrogate";
}

TEST(JsonLine, FieldsInOrderWithNumbersAndNoNaN) {
  EXPECT_EQ(JsonLine().field("a", "x").field("n", std::int64_t{-3}).field("f", 1.5).field("b", true).str(),
            "{\"a\":\"x\",\"n\":-3,\"f\":1.5,\"b\":true}");
  EXPECT_EQ(JsonLine().field("nan", std::numeric_limits<double>::quiet_NaN()).str(), "{\"nan\":null}");
}

}  // namespace
}  // namespace hbt::hbtio
