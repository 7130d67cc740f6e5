#include "setup/inf_file.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace hbt::setup {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool all_digits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// One physical line with its comment removed; the quote state is checked per line because
// a quoted value never spans lines.
struct Physical {
  std::string text;
  bool continued = false;
};

bool strip_comment(std::string_view raw, Physical* out, std::string* problem) {
  bool quoted = false;
  std::string text;
  for (char c : raw) {
    if (c == '\0') {
      *problem = "contains a NUL byte";
      return false;
    }
    if (c == '"') quoted = !quoted;
    if (c == ';' && !quoted) break;
    text.push_back(c);
  }
  if (quoted) {
    *problem = "a quoted value is not closed";
    return false;
  }
  while (!text.empty() && (is_blank(text.back()) || text.back() == '\r')) text.pop_back();
  out->continued = !text.empty() && text.back() == '\\';
  if (out->continued) text.pop_back();
  out->text = std::move(text);
  return true;
}

// Text with the flag "came from inside quotes" per character, so that only unquoted blanks
// at either end of a field are trimmed.
struct FieldText {
  std::string text;
  std::vector<bool> quoted;
  void add(char c, bool q) {
    text.push_back(c);
    quoted.push_back(q);
  }
  std::string trimmed() const {
    std::size_t begin = 0, end = text.size();
    while (begin < end && !quoted[begin] && is_blank(text[begin])) ++begin;
    while (end > begin && !quoted[end - 1] && is_blank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
  }
};

void split_fields(std::string_view logical, InfLine* line) {
  FieldText field;
  bool quoted = false;
  bool seen_comma = false;
  bool seen_quote = false;  // "" is one empty field, not none
  for (std::size_t i = 0; i < logical.size(); ++i) {
    char c = logical[i];
    if (c == '"') {
      seen_quote = true;
      if (quoted && i + 1 < logical.size() && logical[i + 1] == '"') {
        field.add('"', true);
        ++i;
      } else {
        quoted = !quoted;
      }
      continue;
    }
    if (!quoted && c == '=' && !line->has_key && !seen_comma) {
      line->has_key = true;
      line->key = field.trimmed();
      field = FieldText();
      seen_quote = false;
      continue;
    }
    if (!quoted && c == ',') {
      seen_comma = true;
      line->fields.push_back(field.trimmed());
      field = FieldText();
      continue;
    }
    field.add(c, quoted);
  }
  line->fields.push_back(field.trimmed());
  // "key =" with nothing after it has no fields rather than one empty field.
  if (line->fields.size() == 1 && line->fields[0].empty() && !seen_quote) line->fields.clear();
}

// Replaces %name% from [Strings]; %number% and %% stay for expand().
bool substitute_strings(std::string* text, const std::map<std::string, std::string>& strings,
                        std::string* problem) {
  std::string out;
  for (std::size_t i = 0; i < text->size(); ++i) {
    char c = (*text)[i];
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    std::size_t close = text->find('%', i + 1);
    if (close == std::string::npos) {
      *problem = "'%' without a closing '%'";
      return false;
    }
    std::string name = text->substr(i + 1, close - i - 1);
    if (name.empty() || all_digits(name)) {
      out += text->substr(i, close - i + 1);
    } else {
      auto it = strings.find(lower(name));
      if (it == strings.end()) {
        *problem = "%" + name + "% is not defined in [Strings]";
        return false;
      }
      out += it->second;
    }
    i = close;
  }
  *text = std::move(out);
  return true;
}

std::string line_message(const std::string& file, int line, const std::string& problem) {
  return file + " line " + std::to_string(line) + ": " + problem;
}

}  // namespace

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::optional<unsigned long> parse_inf_number(std::string_view text) {
  if (text.empty()) return 0ul;
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  unsigned long value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return std::nullopt;
    if (value > (0xFFFFFFFFul - static_cast<unsigned long>(digit)) / static_cast<unsigned long>(base))
      return std::nullopt;
    value = value * static_cast<unsigned long>(base) + static_cast<unsigned long>(digit);
  }
  return value;
}

std::optional<InfFile> InfFile::parse(std::string_view text, const std::string& file_name,
                                      std::string* error) {
  InfFile inf;
  inf.file_name_ = file_name;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  InfSection* current = nullptr;
  int number = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::string logical;
    int first = number + 1;
    Physical physical;
    do {
      std::size_t end = text.find('\n', pos);
      std::string_view raw = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
      pos = end == std::string_view::npos ? text.size() : end + 1;
      ++number;
      std::string problem;
      if (!strip_comment(raw, &physical, &problem)) {
        *error = line_message(file_name, number, problem);
        return std::nullopt;
      }
      logical += physical.text;
    } while (physical.continued && pos < text.size());

    std::size_t begin = 0;
    while (begin < logical.size() && is_blank(logical[begin])) ++begin;
    logical.erase(0, begin);
    if (logical.empty()) continue;

    if (logical[0] == '[') {
      std::size_t close = logical.find(']');
      if (close == std::string::npos) {
        *error = line_message(file_name, first, "section header without ']'");
        return std::nullopt;
      }
      for (std::size_t i = close + 1; i < logical.size(); ++i) {
        if (!is_blank(logical[i])) {
          *error = line_message(file_name, first, "text after the section header");
          return std::nullopt;
        }
      }
      std::string name = logical.substr(1, close - 1);
      while (!name.empty() && is_blank(name.back())) name.pop_back();
      while (!name.empty() && is_blank(name.front())) name.erase(0, 1);
      if (name.empty()) {
        *error = line_message(file_name, first, "section without a name");
        return std::nullopt;
      }
      current = nullptr;
      for (auto& s : inf.sections_)
        if (equal_ignoring_case(s.name, name)) current = &s;
      if (current == nullptr) {
        inf.sections_.push_back(InfSection{name, {}});
        current = &inf.sections_.back();
      }
      continue;
    }
    if (current == nullptr) {
      *error = line_message(file_name, first, "text outside any section");
      return std::nullopt;
    }
    InfLine line;
    line.first_line = first;
    line.last_line = number;
    split_fields(logical, &line);
    if (line.has_key && line.key.empty()) {
      *error = line_message(file_name, first, "'=' without a key before it");
      return std::nullopt;
    }
    current->lines.push_back(std::move(line));
  }

  std::map<std::string, std::string> strings;
  if (const InfSection* s = inf.section("Strings")) {
    for (const auto& line : s->lines) {
      if (!line.has_key || line.fields.size() > 1) {
        *error = line_message(file_name, line.first_line, "a [Strings] line must be 'name = value'");
        return std::nullopt;
      }
      strings.emplace(lower(line.key), line.fields.empty() ? std::string() : line.fields[0]);
    }
  }
  for (auto& s : inf.sections_) {
    if (equal_ignoring_case(s.name, "Strings")) continue;
    for (auto& line : s.lines) {
      std::string problem;
      bool ok = substitute_strings(&line.key, strings, &problem);
      for (auto& f : line.fields) ok = ok && substitute_strings(&f, strings, &problem);
      if (!ok) {
        *error = line_message(file_name, line.first_line, problem);
        return std::nullopt;
      }
    }
  }

  // Win4 style: the file must say which family of Windows INF it is.
  const InfLine* signature = inf.find_key("Version", "Signature");
  if (signature == nullptr || signature->fields.size() != 1) {
    *error = file_name + ": no [Version] section with a Signature";
    return std::nullopt;
  }
  const std::string& sig = signature->fields[0];
  if (!equal_ignoring_case(sig, "$Windows NT$") && !equal_ignoring_case(sig, "$Chicago$") &&
      !equal_ignoring_case(sig, "$Windows 95$")) {
    *error = line_message(file_name, signature->first_line, "unknown signature " + sig);
    return std::nullopt;
  }
  return inf;
}

std::optional<InfFile> InfFile::load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    *error = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  return parse(text.str(), path, error);
}

const InfSection* InfFile::section(std::string_view name) const {
  for (const auto& s : sections_)
    if (equal_ignoring_case(s.name, name)) return &s;
  return nullptr;
}

const InfLine* InfFile::find_key(std::string_view section_name, std::string_view key) const {
  const InfSection* s = section(section_name);
  if (s == nullptr) return nullptr;
  for (const auto& line : s->lines)
    if (line.has_key && equal_ignoring_case(line.key, key)) return &line;
  return nullptr;
}

bool InfFile::expand(const std::string& field, const InfLine& line, const DirectoryIds& ids,
                     std::string* out, std::string* error) const {
  out->clear();
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      out->push_back(field[i]);
      continue;
    }
    std::size_t close = field.find('%', i + 1);
    if (close == std::string::npos) {
      *error = line_message(file_name_, line.first_line, "'%' without a closing '%'");
      return false;
    }
    std::string name = field.substr(i + 1, close - i - 1);
    if (name.empty()) {
      out->push_back('%');
    } else {
      auto id = all_digits(name) && name.size() <= 9 ? ids.find(std::stoi(name)) : ids.end();
      if (id == ids.end()) {
        *error = line_message(file_name_, line.first_line, "directory id %" + name + "% has no value");
        return false;
      }
      *out += id->second;
    }
    i = close;
  }
  return true;
}

}  // namespace hbt::setup
