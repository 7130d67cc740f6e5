#include "packaging/tests/built_packages.h"

#include <stdlib.h>

#include <chrono>
#include <filesystem>

#include "testsupport/child_process.h"

namespace hbt::packaging {

namespace {

struct Folder {
  std::string path;
  ~Folder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
};

// cpack into `into`; the path of the .deb, or "" with the log in *log.
std::string build(const std::string& into, const std::vector<std::string>& definitions, std::string* log) {
  std::vector<std::string> argv{HBT_CPACK, "-G", "DEB", "--config", HBT_BUILD_DIR "/CPackConfig.cmake", "-B", into};
  for (const auto& d : definitions) {
    argv.push_back("-D");
    argv.push_back(d);
  }
  auto pack = testsupport::run_program(argv, 600000, into);
  *log = pack.output;
  if (pack.exit_code != 0) return "";
  auto found = testsupport::run_program({"/bin/sh", "-c", "ls " + into + "/*.deb"});
  if (found.exit_code != 0) return "";
  return found.output.substr(0, found.output.find('\n'));
}

BuiltPackages make() {
  static Folder folder;
  BuiltPackages b;
  std::string pattern = (std::filesystem::temp_directory_path() / "hbt-package-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    b.problem = "no temporary folder";
    return b;
  }
  folder.path = b.folder = pattern;
  std::filesystem::create_directories(b.folder + "/first");
  std::filesystem::create_directories(b.folder + "/second");
  auto started = std::chrono::steady_clock::now();
  b.first = build(b.folder + "/first", {}, &b.first_log);
  b.first_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (b.first.empty()) {
    b.problem = "cpack failed:\n" + b.first_log;
    return b;
  }
  std::string log;
  b.second = build(b.folder + "/second", {"CPACK_DEBIAN_PACKAGE_RELEASE=2", "CPACK_HBT_LINTIAN=OFF"}, &log);
  if (b.second.empty()) b.problem = "cpack of the next revision failed:\n" + log;
  return b;
}

}  // namespace

const BuiltPackages& built_packages() {
  static const BuiltPackages packages = make();
  return packages;
}

std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace hbt::packaging
