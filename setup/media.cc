#include "setup/media.h"

#include <unistd.h>

#include <set>

#include "setup/file_queue.h"
#include "setup/install_driver.h"

namespace hbt::setup {

namespace {

bool is_file_list(const InfFile& inf, const InfSection& section) {
  return inf.find_key("DestinationDirs", section.name) != nullptr;
}

}  // namespace

std::string leave_out_files(const InfFile& inf, std::string_view text, const std::vector<std::string>& names,
                            std::vector<std::string>* unknown) {
  std::map<int, std::string> commented;  // physical line -> file name
  for (const auto& name : names) {
    bool found = false;
    for (const auto& section : inf.sections()) {
      bool sources = equal_ignoring_case(section.name, "SourceDisksFiles");
      if (!sources && !is_file_list(inf, section)) continue;
      for (const auto& line : section.lines) {
        bool match = sources ? line.has_key && line.key == name
                             : !line.has_key && !line.fields.empty() && line.fields[0] == name;
        if (!match) continue;
        found = true;
        for (int n = line.first_line; n <= line.last_line; ++n) commented[n] = name;
      }
    }
    if (!found) unknown->push_back(name);
  }
  std::string out;
  int number = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    pos = end == std::string_view::npos ? text.size() : end + 1;
    auto c = commented.find(++number);
    if (c != commented.end()) out += std::string(kLeftOutMark) + c->second + " ; ";
    out += line;
    out += "\n";
  }
  return out;
}

bool missing_media_files(const InfFile& inf, const std::string& media_root, std::vector<std::string>* missing,
                         std::string* error) {
  // Any target will do: only the sources are looked at.
  DirectoryIds ids{{kDirIdInstall, "/install"}, {kDirIdConfigFile, "/install/DEFAULT.HBT"},
                   {kDirIdDriverExe, "/install/HBTSPOLL"}, {kDirIdSystem, "/system"}, {kDirIdSource, media_root}};
  FileQueue queue;
  for (const char* section : {"ScadaNode", "ViewNode", "NtSystem32"})
    if (!queue.queue_install_section(inf, section, ids, media_root, 0, error)) return false;
  std::set<std::string> seen;
  for (const auto& copy : queue.copies())
    if (access(copy.paths.source.c_str(), R_OK) != 0 && seen.insert(copy.paths.source).second)
      missing->push_back(copy.paths.source);
  return true;
}

std::vector<std::string> left_out_files(std::string_view text) {
  std::vector<std::string> names;
  std::set<std::string> seen;
  std::string_view mark = kLeftOutMark;
  for (std::size_t pos = text.find(mark); pos != std::string_view::npos; pos = text.find(mark, pos + 1)) {
    std::size_t begin = pos + mark.size();
    std::size_t end = text.find_first_of(" \n", begin);
    std::string name(text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin));
    if (seen.insert(name).second) names.push_back(name);
  }
  return names;
}

}  // namespace hbt::setup
