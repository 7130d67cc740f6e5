// The tag file: extra points named by item IDs with signal conditioning or a text length
// ("QPLC1:D:100|LIN,0,100,,degC", "QPLC1:D:400$11"), and settings for points the configuration
// already gives ("QPLC1:D:100 deadband=5"). One item ID per line, then optional attributes:
//
//   # a comment; blank lines are ignored
//   QPLC1:D:100|LIN,0,100,,degC  deadband=0.5
//   QPLC1:D:400$11               readonly
//   QPLC1:D:102                  deadband=10 units=rpm
//   "QPLC1 D 104|LIN,0,10,,deg C"            (an item ID with blanks is quoted)
//
// Reading checks the grammar only; whether an item ID names a configured value is decided
// each time the lists are built.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hbt::points {

struct TagLine {
  int line = 0;
  std::string item_id;  // trimmed, as written
  double deadband = 0;
  bool has_deadband = false;
  std::string units;
  bool has_units = false;
  bool readonly = false;
};

inline constexpr std::size_t kTagUnitsMax = 31;
inline constexpr std::size_t kTagLineMax = 1024;
// The longest text a host text access carries.
inline constexpr long kTextLengthMax = 127;
// A text item without a length (or with 0) takes the OPC server's default length.
inline constexpr long kDefaultTextLength = 120;

struct TagFile {
  std::vector<TagLine> lines;
};

// Reads and checks the file; false with "FILE:LINE: reason" (or "FILE: reason") in *error.
bool read_tag_file(const std::string& path, TagFile* out, std::string* error);
// The same for text already read; `name` stands for the file in messages.
bool parse_tag_text(std::string_view text, const std::string& name, TagFile* out, std::string* error);

// Checks one item ID of the file (the grammar of an address with its options); "" when good.
std::string item_id_problem(std::string_view item_id);

}  // namespace hbt::points
