// A Windows INF file (Win4 style) read into sections of lines and fields, the way the
// installer's setup routines see it: "[Section]" headers, "key = field, field" lines,
// ';' comments, quoted values ("" is one quote inside them), a trailing '\' that
// continues a line, %name% substituted from [Strings] when the file is read and
// %number% (a directory id) substituted when a field is expanded.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hbt::setup {

// Values of the directory ids a caller has set (65701, 11, ...). A directory id may also
// name a file: it is plain text substituted for %id%.
using DirectoryIds = std::map<int, std::string>;

struct InfLine {
  int first_line = 0;  // physical line numbers in the file (more than one when continued)
  int last_line = 0;
  bool has_key = false;
  std::string key;                  // text before '=' (strings substituted), when has_key
  std::vector<std::string> fields;  // comma-separated values after '=' (or the whole line)
};

struct InfSection {
  std::string name;  // as first written
  std::vector<InfLine> lines;
};

class InfFile {
 public:
  // Reads INF text. On failure returns nullopt and a message naming the file and the line.
  static std::optional<InfFile> parse(std::string_view text, const std::string& file_name,
                                      std::string* error);
  // Reads the file; a file that cannot be read gives a message with the system's reason.
  static std::optional<InfFile> load(const std::string& path, std::string* error);

  const std::string& file_name() const { return file_name_; }
  // Section names compare without regard to case; repeated sections are one.
  const InfSection* section(std::string_view name) const;
  const std::vector<InfSection>& sections() const { return sections_; }
  // First line of the section with this key (case ignored), or null.
  const InfLine* find_key(std::string_view section, std::string_view key) const;

  // Replaces %id% by the directory id's value and %% by %. Returns false with a message
  // naming the line when an id has no value.
  bool expand(const std::string& field, const InfLine& line, const DirectoryIds& ids,
              std::string* out, std::string* error) const;

 private:
  std::string file_name_;
  std::vector<InfSection> sections_;
};

// "0x10001", "65536", "" (0): the numbers of INF flag and dword fields.
std::optional<unsigned long> parse_inf_number(std::string_view text);

bool equal_ignoring_case(std::string_view a, std::string_view b);

}  // namespace hbt::setup
