// Field-level reading and writing of the editor's delimited text files.
#include "editor/csv_fields.h"

#include <cctype>

namespace hbt::editor {

namespace {

// Blanks around a field may go; a blank or tab that is itself the separator never does,
// or a tab-separated file would lose its empty columns.
bool is_padding(char c, char separator) { return (c == ' ' || c == '\t') && c != separator; }

}  // namespace

bool is_usable_separator(char c) {
  if (c == '\t' || c == ' ') return true;
  // '"' quotes, '!' starts a section header and '[' a comment.
  return std::ispunct(static_cast<unsigned char>(c)) && c != '"' && c != '!' && c != '[';
}

CsvFieldReader::CsvFieldReader(std::string_view line, char separator)
    : line_(line), separator_(separator) {
  while (!line_.empty() && (line_.back() == '\n' || line_.back() == '\r')) line_.remove_suffix(1);
}

std::optional<std::string> CsvFieldReader::next() {
  if (exhausted_) return std::nullopt;
  while (position_ < line_.size() && is_padding(line_[position_], separator_)) ++position_;
  if (position_ >= line_.size()) {
    exhausted_ = true;
    return std::nullopt;
  }
  std::string field;
  bool quoted = false;
  if (line_[position_] == '"') {
    quoted = true;
    ++position_;
    for (;;) {
      if (position_ >= line_.size()) {  // the line ended inside the quotes
        exhausted_ = true;
        return field;
      }
      char c = line_[position_];
      if (c == '"') {
        if (position_ + 1 < line_.size() && line_[position_ + 1] == '"') {
          field += '"';
          position_ += 2;
          continue;
        }
        ++position_;
        break;
      }
      field += c;
      ++position_;
    }
  }
  std::size_t end = line_.find(separator_, position_);
  std::string_view rest =
      line_.substr(position_, end == std::string_view::npos ? std::string_view::npos : end - position_);
  if (!quoted) {
    while (!rest.empty() && is_padding(rest.front(), separator_)) rest.remove_prefix(1);
  }
  field += rest;
  if (end == std::string_view::npos) {
    position_ = line_.size();
    exhausted_ = true;
  } else {
    position_ = end + 1;
  }
  return field;
}

bool CsvFieldReader::skip(int count) {
  for (int i = 0; i < count; ++i) {
    if (!next()) return false;
  }
  return true;
}

std::string quote_field(std::string_view field, char separator) {
  // Leading blanks are padding to the reader; inside quotes they are kept.
  bool leading_blank = !field.empty() && (field.front() == ' ' || field.front() == '\t');
  if (field.find(separator) == std::string_view::npos && field.find('"') == std::string_view::npos &&
      !leading_blank) {
    return std::string(field);
  }
  std::string out = "\"";
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string join_fields(const std::vector<std::string>& fields, char separator) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) line += separator;
    line += quote_field(fields[i], separator);
  }
  return line;
}

}  // namespace hbt::editor
