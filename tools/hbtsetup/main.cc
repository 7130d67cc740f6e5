// hbtsetup: installs the driver from installation media by calling InstallDriver in setup.so,
// as a host's installation program does, and removes it again (UninstallDriver).
#include <dlfcn.h>

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "platform/process.h"

namespace {

constexpr const char* kHelp = R"(Usage:
  hbtsetup ENABLE MODE SCADA MEDIA INSTALL DATA NODE [HOST]
  hbtsetup --uninstall
  hbtsetup --help

Installs the Brenlow Ethernet Driver on this node from installation media (a folder
holding HBT.inf and the files it names, as 'make dist' writes to build/dist), by
calling InstallDriver in setup.so with these eight arguments:

  ENABLE   0 does nothing (result 0); anything else installs
  MODE     shortcut mode: for the host names iFIX, "FIX Dynamics" and
           "Intellution FIX", nonzero puts the menu entries in the all-users
           applications menu (first folder of $XDG_DATA_DIRS), 0 in the current
           user's ($XDG_DATA_HOME, default ~/.local/share)
  SCADA    1 for a SCADA node (poller, host library, OPC server and its
           registration), 0 for a view-only node (editor, help, tools)
  MEDIA    folder of the installation media
  INSTALL  folder the programs go to
  DATA     folder of the node's configuration file
  NODE     node name (may be ""): DATA/NODE.HBT is created from DEFAULT.HBT
           unless it exists
  HOST     host name or program group of the menu entries; left out: no entries

A text argument given as - is passed as no text at all (a null pointer).
Messages the installer shows appear on standard error, each led by its title.
A file that cannot be copied ends the installation: what it copied is taken back
and nothing is recorded in the registry.

--uninstall removes what the installations recorded in the registry put on this
node, in reverse: menu entries, the OPC server's registration, shared counts
(a shared file goes with its last user), the registry values they wrote (a value
changed since stays), files and the folders they made. The node's configuration
files stay.

Environment: HBT_REGISTRY_DIR (the registry written), XDG_DATA_DIRS and
XDG_DATA_HOME (menu folders), HBT_SYSTEM_DIR (folder of the system files, default
INSTALL), HBT_REGSVR (registration program, default INSTALL/hbtregsvr),
HBT_SETUP_LIBRARY (the installer library, default ../lib/setup.so or setup.so
beside hbtsetup).

Exit status: 0 when InstallDriver (UninstallDriver) returned 1, 1 when it returned 0,
2 usage errors.
)";

using InstallDriverFunction = int (*)(int, int, int, const char*, const char*, const char*, const char*, const char*);
using UninstallDriverFunction = int (*)();

bool parse_int(const char* text, int* value) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 0);
  if (*text == '\0' || *end != '\0' || errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}

const char* text_argument(const char* text) { return std::strcmp(text, "-") == 0 ? nullptr : text; }

std::string library_path() {
  if (const char* explicit_path = std::getenv("HBT_SETUP_LIBRARY"); explicit_path && *explicit_path)
    return explicit_path;
  // Explicit paths, because a run-path search depends on which object calls dlopen.
  std::string folder = hbt::platform::directory_of(hbt::platform::program_path());
  for (const char* relative : {"/../lib/setup.so", "/setup.so"}) {
    std::string path = folder + relative;
    if (access(path.c_str(), R_OK) == 0) return path;
  }
  return "setup.so";
}

int usage(const std::string& problem) {
  std::cerr << "hbtsetup: " << problem << "\nTry 'hbtsetup --help'.\n";
  return 2;
}

void* load_library() {
  std::string path = library_path();
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) std::cerr << "hbtsetup: cannot load " << path << ": " << dlerror() << "\n";
  return library;
}

void* entry_point(void* library, const char* name) {
  void* entry = dlsym(library, name);
  if (entry == nullptr) std::cerr << "hbtsetup: " << library_path() << " does not export " << name << "\n";
  return entry;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::cout << kHelp;
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--uninstall") == 0) {
    if (argc != 2) return usage("--uninstall takes no arguments");
    void* library = load_library();
    if (library == nullptr) return 1;
    auto uninstall = reinterpret_cast<UninstallDriverFunction>(entry_point(library, "UninstallDriver"));
    if (uninstall == nullptr) return 1;
    return uninstall() == 1 ? 0 : 1;
  }
  if (argc != 8 && argc != 9) return usage("expected seven or eight arguments");
  int numbers[3];
  for (int i = 0; i < 3; ++i)
    if (!parse_int(argv[i + 1], &numbers[i])) return usage(std::string("not a number: ") + argv[i + 1]);

  void* library = load_library();
  if (library == nullptr) return 1;
  auto install = reinterpret_cast<InstallDriverFunction>(entry_point(library, "InstallDriver"));
  if (install == nullptr) return 1;
  int result = install(numbers[0], numbers[1], numbers[2], text_argument(argv[4]), text_argument(argv[5]),
                       text_argument(argv[6]), text_argument(argv[7]), argc == 9 ? text_argument(argv[8]) : nullptr);
  return result == 1 ? 0 : 1;
}
