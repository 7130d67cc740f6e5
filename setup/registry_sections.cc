#include "setup/registry_sections.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/registry.h"

namespace hbt::setup {

namespace {

namespace registry = platform::registry;

std::string line_message(const InfFile& inf, const InfLine& line, const std::string& problem) {
  return inf.file_name() + " line " + std::to_string(line.first_line) + ": " + problem;
}

bool parse_root(std::string_view text, registry::Hive* hive) {
  if (equal_ignoring_case(text, "HKLM") || equal_ignoring_case(text, "HKEY_LOCAL_MACHINE")) {
    *hive = registry::Hive::LocalMachine;
  } else if (equal_ignoring_case(text, "HKCU") || equal_ignoring_case(text, "HKEY_CURRENT_USER")) {
    *hive = registry::Hive::CurrentUser;
  } else if (equal_ignoring_case(text, "HKCR") || equal_ignoring_case(text, "HKEY_CLASSES_ROOT")) {
    *hive = registry::Hive::ClassesRoot;
  } else {
    return false;
  }
  return true;
}

bool parse_bytes(const std::vector<std::string>& fields, std::size_t first, std::vector<std::uint8_t>* bytes) {
  for (std::size_t i = first; i < fields.size(); ++i) {
    std::string text = fields[i];
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.erase(0, 2);
    auto value = text.empty() || text.size() > 2 ? std::nullopt : parse_inf_number("0x" + text);
    if (!value) return false;
    bytes->push_back(static_cast<std::uint8_t>(*value));
  }
  return true;
}

bool apply_line(const InfFile& inf, const InfLine& line, const DirectoryIds& ids, std::string* error,
                RegistryJournal* journal) {
  std::vector<std::string> f;
  for (const auto& raw : line.fields) {
    std::string expanded;
    if (!inf.expand(raw, line, ids, &expanded, error)) return false;
    f.push_back(std::move(expanded));
  }
  if (line.has_key || f.size() < 2) {
    *error = line_message(inf, line, "an AddReg line is 'root, subkey, name, flags, value'");
    return false;
  }
  registry::Hive hive;
  if (!parse_root(f[0], &hive)) {
    *error = line_message(inf, line, "unknown registry root " + f[0]);
    return false;
  }
  const std::string& key = f[1];
  const std::string name = f.size() > 2 ? f[2] : std::string();
  auto flags = parse_inf_number(f.size() > 3 ? f[3] : std::string());
  constexpr unsigned long kKnown = kAddRegBinary | kAddRegNoClobber | kAddRegDeleteValue | kAddRegAppend |
                                   kAddRegKeyOnly | kAddRegOverwriteOnly | kAddRegMultiString | kAddRegExpandString;
  if (!flags || (*flags & ~kKnown)) {
    *error = line_message(inf, line, "unknown AddReg flags " + f[3]);
    return false;
  }
  bool ok = true;
  auto fail_write = [&] {
    *error = line_message(inf, line, "cannot write " + key + ": " + std::strerror(errno));
    return false;
  };
  if (*flags & kAddRegKeyOnly) return registry::create_key(hive, key) || fail_write();
  if (*flags & kAddRegDeleteValue) {
    if (journal) journal->before_write(hive, key, name);
    if (!registry::delete_value(hive, key, name)) return fail_write();
    if (journal) journal->written(hive, key, name, std::nullopt);
    return true;
  }
  if (f.size() <= 2) return registry::create_key(hive, key) || fail_write();

  bool exists = registry::get_value(hive, key, name).has_value();
  if ((*flags & kAddRegNoClobber) && exists) return true;
  if ((*flags & kAddRegOverwriteOnly) && !exists) return true;

  registry::Value value;
  value.name = name;
  unsigned long type = *flags & (kAddRegDword | kAddRegMultiString | kAddRegExpandString);
  if (type == kAddRegDword) {
    value.type = registry::ValueType::Dword;
    std::vector<std::uint8_t> bytes;
    if (f.size() == 8 && parse_bytes(f, 4, &bytes)) {
      value.dword = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    } else {
      auto number = f.size() == 5 ? parse_inf_number(f[4]) : std::nullopt;
      if (!number) {
        *error = line_message(inf, line, "a REG_DWORD value must be one number or four bytes");
        return false;
      }
      value.dword = static_cast<std::uint32_t>(*number);
    }
  } else if (type == kAddRegBinary) {
    value.type = registry::ValueType::Binary;
    if (!parse_bytes(f, 4, &value.bytes)) {
      *error = line_message(inf, line, "a binary value must be hexadecimal bytes");
      return false;
    }
  } else if (type == 0 || type == kAddRegExpandString) {
    // The registry here keeps no separate expandable type; the text is stored as written.
    if (*flags & kAddRegAppend) ok = false;
    value.text = f.size() > 4 ? f[4] : std::string();
    if (f.size() > 5) ok = false;
  } else {
    ok = false;
  }
  if (!ok) {
    *error = line_message(inf, line, "value type or flags not supported here (flags " + f[3] + ")");
    return false;
  }
  if (journal) journal->before_write(hive, key, name);
  if (!registry::set_value(hive, key, value)) return fail_write();
  if (journal) journal->written(hive, key, name, value);
  return true;
}

}  // namespace

bool apply_registry_section(const InfFile& inf, std::string_view section_name, const DirectoryIds& ids,
                            std::string* error, RegistryJournal* journal) {
  const InfSection* section = inf.section(section_name);
  if (section == nullptr) {
    *error = inf.file_name() + ": no section [" + std::string(section_name) + "]";
    return false;
  }
  for (const auto& entry : section->lines) {
    if (!entry.has_key || !equal_ignoring_case(entry.key, "AddReg")) continue;
    for (const auto& list_name : entry.fields) {
      if (list_name.empty()) continue;
      const InfSection* list = inf.section(list_name);
      if (list == nullptr) {
        *error = line_message(inf, entry, "AddReg names a missing section [" + list_name + "]");
        return false;
      }
      for (const auto& line : list->lines)
        if (!apply_line(inf, line, ids, error, journal)) return false;
    }
  }
  return true;
}

}  // namespace hbt::setup
