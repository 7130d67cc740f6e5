// Field-level reading and writing of the editor's delimited text files.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "editor/messages.h"

namespace hbt::editor {

// Reads the fields of one line in turn. A field may be quoted ("a,b" or "say ""hi"""), the
// quotes are removed and a doubled quote inside them reads as one; leading blanks and tabs
// of a field are dropped, unless the separator is a blank or a tab itself. At the end of
// the line there is no further field.
class CsvFieldReader {
 public:
  CsvFieldReader(std::string_view line, char separator);
  // The next field, or nothing at the end of the line (an empty field between two
  // separators is an empty text).
  std::optional<std::string> next();
  // Skips `count` fields; false when the line ended first.
  bool skip(int count);

 private:
  std::string_view line_;
  std::size_t position_ = 0;
  char separator_;
  bool exhausted_ = false;
};

// A field as written on export: inside double quotes, with every quote doubled, when it
// holds the separator or a double quote, or starts with a blank or tab (which the reader
// would drop); otherwise unchanged.
// Separators with which an export reads back: a tab, a blank, or punctuation other than
// '"' (quoting), '!' (section headers) and '[' (comments). Letters and digits would split
// the header names and numbers.
bool is_usable_separator(char c);

std::string quote_field(std::string_view field, char separator);
std::string join_fields(const std::vector<std::string>& fields, char separator);

// Where the readers of data lines send the messages of refused lines and values.
class ImportReporter {
 public:
  virtual ~ImportReporter() = default;
  virtual void report(const Message& message) = 0;
};

}  // namespace hbt::editor
