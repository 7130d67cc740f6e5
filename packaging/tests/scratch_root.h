// A scratch root for installing packages: this machine's root file system under a writable
// overlay in a private mount namespace, with its own /tmp, /run and /dev/shm, held by a
// sleeping process chrooted into it. Programs run in it through nsenter; whatever they change
// (the package's files, the user its scripts make, the dpkg database) lands in the overlay,
// which goes with the namespace. Needs root (mount namespaces and overlays).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "testsupport/child_process.h"

namespace hbt::packaging {

class ScratchRoot {
 public:
  // `shared` is a folder of this machine's that appears in the root as /srv/hbt-test.
  explicit ScratchRoot(const std::string& shared);
  ~ScratchRoot();
  ScratchRoot(const ScratchRoot&) = delete;
  ScratchRoot& operator=(const ScratchRoot&) = delete;

  // Empty when the root could be made; otherwise why not.
  const std::string& problem() const { return problem_; }

  // Runs a program inside the root (as root, working folder /).
  testsupport::ProgramResult run(const std::vector<std::string>& argv, int timeout_ms = 120000);
  // Runs a shell command line inside the root.
  testsupport::ProgramResult shell(const std::string& command, int timeout_ms = 120000);
  // The content of a file inside the root, "" when it cannot be read.
  std::string read(const std::string& path);
  bool exists(const std::string& path);

  static constexpr const char* kShared = "/srv/hbt-test";

 private:
  std::unique_ptr<testsupport::ChildProcess> holder_;
  std::string problem_;
};

}  // namespace hbt::packaging
