// hbtcfg: the configuration editor without a screen.
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "editor/csv_fields.h"
#include "tools/hbtcfg/commands.h"

namespace {

constexpr const char* kHelp = R"(Usage:
  hbtcfg import IN.csv -o OUT.HBT [--errors FILE] [--separator C] [--startup]
  hbtcfg export IN.HBT -o OUT.csv [--separator C]
  hbtcfg check IN.HBT [--json]
  hbtcfg list IN.HBT [--json]
  hbtcfg --help

The driver's configuration editor without a screen.

  import   Reads a CSV configuration and saves it as a configuration file. Refused
           lines are written, with their line numbers, to the import error file
           (HBTDIDW.ERR in the host's database folder, or in the working directory
           when the registry names none; --errors FILE chooses another). The
           accepted lines are saved even when some were refused.
  export   Writes a configuration file as CSV.
  check    Opens a configuration file as the editor does and applies the driver's
           load checks: "good", "corrupt" (the editor cannot open it) or "refused"
           (the driver would not load it or would misread its data areas).
  list     Shows channels, devices and poll records.

Options:
  -o, --output FILE   file to write
  --errors FILE       import error file
  --separator C       CSV field separator: a tab, a blank or punctuation other
                      than '"', '!' and '['; default: the registry's list separator
                      (HKCU "Control Panel\International" "sList"), else ","
  --startup           record the saved file as the driver's start-up file
                      ("ConfigFile"); without it the file is not recorded
  --json              machine-readable output for check and list
  -h, --help          this text

Questions the editor would ask are answered without asking: the start-up file
question by --startup (default: no); warnings (the host expects another file
name, an older file format) are printed on stderr and the command goes on.
The registry is the one in HBT_REGISTRY_DIR (see hbtreg).

Exit status: 0 success; 1 lines refused on import, a corrupt or refused file,
or a save the file format cannot hold; 2 usage errors and files that cannot be
read or written.
)";

int usage(const std::string& problem) {
  std::cerr << "hbtcfg: " << problem << "\nTry 'hbtcfg --help'.\n";
  return hbt::hbtcfg::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace hbt::hbtcfg;
  std::vector<std::string_view> args(argv + 1, argv + argc);
  for (std::string_view a : args) {
    if (a == "-h" || a == "--help") {
      std::cout << kHelp;
      return kExitOk;
    }
  }
  if (args.empty()) return usage("missing command");
  std::string_view command = args[0];
  if (command == "help") {
    std::cout << kHelp;
    return kExitOk;
  }
  Options options;
  std::vector<std::string> positional;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string_view a = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = std::string(args[++i]);
      return true;
    };
    std::string text;
    if (a == "-o" || a == "--output") {
      if (!value(&options.output)) return usage("-o needs a file name");
    } else if (a == "--errors") {
      if (!value(&text)) return usage("--errors needs a file name");
      options.errors = text;
    } else if (a == "--separator") {
      if (!value(&text) || text.size() != 1) return usage("--separator needs one character");
      if (!hbt::editor::is_usable_separator(text[0])) {
        return usage("--separator must be a tab, a blank or punctuation other than '\"', '!' and '['");
      }
      options.separator = text[0];
    } else if (a == "--startup") {
      options.startup = true;
    } else if (a == "--json") {
      options.json = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return usage("unknown option " + std::string(a));
    } else {
      positional.emplace_back(a);
    }
  }
  if (positional.size() != 1) return usage("expected exactly one input file");
  options.input = positional[0];
  bool writes = command == "import" || command == "export";
  if (writes && options.output.empty()) return usage(std::string(command) + " needs -o FILE");
  if (!writes && !options.output.empty()) return usage(std::string(command) + " takes no -o");
  if (options.json && writes) return usage("--json is for check and list");
  if ((options.errors || options.startup) && command != "import") {
    return usage("--errors and --startup are for import");
  }
  if (options.separator && !writes) return usage("--separator is for import and export");
  if (command == "import") return run_import(options);
  if (command == "export") return run_export(options);
  if (command == "check") return run_check(options);
  if (command == "list") return run_list(options);
  return usage("unknown command " + std::string(command));
}
