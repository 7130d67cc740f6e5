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

// The same package as `deb` with Debian revision 2, made by unpacking it and packing it again
// with dpkg-deb: what an upgrade sees is a new version of the same files and scripts, and a
// second cpack of the whole tree would take minutes. The path of the .deb, or "" with the log.
std::string next_revision(const std::string& deb, const std::string& into, std::string* log) {
  const std::string tree = into + "/tree";
  auto unpacked = testsupport::run_program({"/usr/bin/dpkg-deb", "-R", deb, tree}, 300000);
  if (unpacked.exit_code != 0) {
    *log = "dpkg-deb -R: " + unpacked.output;
    return "";
  }
  auto version = testsupport::run_program({"/usr/bin/dpkg-deb", "-f", deb, "Version"});
  std::string old_version = version.output.substr(0, version.output.find('\n'));
  auto dash = old_version.rfind('-');
  if (version.exit_code != 0 || dash == std::string::npos) {
    *log = "no Debian revision in the version of " + deb + ": " + version.output;
    return "";
  }
  const std::string new_version = old_version.substr(0, dash) + "-2";
  auto edited = testsupport::run_program(
      {"/bin/sed", "-i", "s/^Version: .*/Version: " + new_version + "/", tree + "/DEBIAN/control"});
  const std::string out = into + "/next-revision.deb";
  auto packed = testsupport::run_program(
      {"/usr/bin/dpkg-deb", "--root-owner-group", "-Zgzip", "-z1", "-b", tree, out}, 300000);
  *log = edited.output + packed.output;
  std::error_code ignored;
  std::filesystem::remove_all(tree, ignored);
  return edited.exit_code == 0 && packed.exit_code == 0 ? out : "";
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
  b.second = next_revision(b.first, b.folder + "/second", &log);
  if (b.second.empty()) b.problem = "packing the next revision failed:\n" + log;
  return b;
}

}  // namespace

const BuiltPackages& built_packages() {
  static const BuiltPackages packages = make();
  return packages;
}

std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace hbt::packaging
