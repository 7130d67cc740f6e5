// The tag file's grammar: what is accepted, and every refusal with its line and reason.
#include "points/tag_file.h"

#include <gtest/gtest.h>

namespace hbt::points {
namespace {

std::string refusal(const std::string& text) {
  TagFile f;
  std::string error;
  EXPECT_FALSE(parse_tag_text(text, "tags", &f, &error)) << text;
  return error;
}

TEST(TagFile, LinesAttributesCommentsAndQuotes) {
  TagFile f;
  std::string error;
  ASSERT_TRUE(parse_tag_text("# comment\r\n"
                             "\n"
                             "  QPLC1:D:100|LIN,0,100,,degC   deadband=0.5\r\n"
                             "QPLC1:D:400$11 readonly\n"
                             "\"QPLC1:D:104|LIN,0,10,,deg C\" deadband=1e-1\n"
                             "QPLC1:D:102\tdeadband=10 units=rpm",
                             "tags", &f, &error))
      << error;
  ASSERT_EQ(f.lines.size(), 4u);
  EXPECT_EQ(f.lines[0].line, 3);
  EXPECT_EQ(f.lines[0].item_id, "QPLC1:D:100|LIN,0,100,,degC");
  EXPECT_TRUE(f.lines[0].has_deadband);
  EXPECT_EQ(f.lines[0].deadband, 0.5);
  EXPECT_TRUE(f.lines[1].readonly);
  EXPECT_EQ(f.lines[2].item_id, "QPLC1:D:104|LIN,0,10,,deg C");
  EXPECT_EQ(f.lines[2].deadband, 0.1);
  EXPECT_EQ(f.lines[3].units, "rpm");
  EXPECT_EQ(f.lines[3].line, 6) << "the last line needs no line feed";
  EXPECT_TRUE(parse_tag_text("", "tags", &f, &error));
  EXPECT_TRUE(f.lines.empty());
}

TEST(TagFile, EveryRefusalNamesItsLineAndWhy) {
  EXPECT_EQ(refusal("QPLC1:D:100\nQPLC1:D:100|XYZ"), "tags:2: unknown signal conditioning \"XYZ\"");
  EXPECT_EQ(refusal("QPLC1"), "tags:1: \"QPLC1\" has no device name");
  EXPECT_EQ(refusal(":D:100"), "tags:1: \":D:100\" has no device name");
  EXPECT_EQ(refusal("QPLC1:Q:100"), "tags:1: \"QPLC1:Q:100\" is not a register address");
  EXPECT_EQ(refusal("QPLC1:X:1G"), "tags:1: \"QPLC1:X:1G\" is not a register address");
  EXPECT_EQ(refusal("ABCDEFGHIJKLMN:D:1"), "tags:1: the device name of \"ABCDEFGHIJKLMN:D:1\" is too long");
  EXPECT_EQ(refusal("QPLC1:D:100[5]"), "tags:1: an array is not one point; name its elements");
  EXPECT_EQ(refusal("QPLC1:D:400$x"), "tags:1: the text length \"x\" is not a number");
  EXPECT_EQ(refusal("QPLC1:D:400$128"), "tags:1: a text is at most 127 characters");
  EXPECT_EQ(refusal("QPLC1:D:100|LIN,a"), "tags:1: the low limit \"a\" is not a number");
  EXPECT_EQ(refusal("QPLC1:D:100|LIN,0,1e999"), "tags:1: the high limit \"1e999\" is not a number");
  EXPECT_EQ(refusal("QPLC1:D:100|LIN,5,5"), "tags:1: the engineering range is empty (high must be above low)");
  EXPECT_EQ(refusal("QPLC1:D:100 deadband=-1"), "tags:1: the dead band \"-1\" is not a number of 0 or more");
  EXPECT_EQ(refusal("QPLC1:D:100 deadband=nan"), "tags:1: the dead band \"nan\" is not a number of 0 or more");
  EXPECT_EQ(refusal("QPLC1:D:100 colour=red"), "tags:1: unknown attribute \"colour=red\" (deadband=, units= or readonly)");
  EXPECT_EQ(refusal("QPLC1:D:100 units=0123456789012345678901234567890123"), "tags:1: units are at most 31 characters");
  EXPECT_EQ(refusal("QPLC1:D:100|LIN,0,1,,C units=F"), "tags:1: units are given twice, in the item ID and as an attribute");
  EXPECT_EQ(refusal("\"QPLC1:D:100"), "tags:1: a quoted item ID is not closed");
  EXPECT_EQ(refusal("QPLC1:D:100\n\n# x\nqplc1:d:1\nQPLC1:D:100"), "tags:5: \"QPLC1:D:100\" is already on line 1");
  EXPECT_EQ(refusal(std::string("QPLC1:D:1\0", 10)), "tags:1: the line holds a NUL character");
  EXPECT_EQ(refusal(std::string(2000, 'A')), "tags:1: the line is longer than 1024 characters");
  EXPECT_EQ(refusal("QPLC1:D:1234567890123456789012345"), "tags:1: the address \"QPLC1:D:1234567890123456789012345\" is longer than 31 characters");
}

TEST(TagFile, AFileThatCannotBeReadSaysSo) {
  TagFile f;
  std::string error;
  EXPECT_FALSE(read_tag_file("/nonexistent/tags.txt", &f, &error));
  EXPECT_EQ(error, "/nonexistent/tags.txt: No such file or directory");
}

}  // namespace
}  // namespace hbt::points
