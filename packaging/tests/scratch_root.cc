#include "packaging/tests/scratch_root.h"

#include <unistd.h>

namespace hbt::packaging {

namespace {

// Run by the holder in its new mount namespace: $1 is the folder of the overlay's mount
// points, $2 the shared folder.
constexpr const char* kMakeRoot = R"(set -e
work=$1
mkdir -p "$work/root" "$work/rw"
mount -t tmpfs -o size=2g hbt-scratch "$work/rw"
mkdir "$work/rw/upper" "$work/rw/work"
mount -t overlay hbt-scratch -o "lowerdir=/,upperdir=$work/rw/upper,workdir=$work/rw/work" "$work/root"
r=$work/root
mount -t proc proc "$r/proc"
mount --rbind /dev "$r/dev"
mount -t tmpfs hbt-shm "$r/dev/shm"
mount -t tmpfs hbt-run "$r/run"
mount -t tmpfs hbt-tmp "$r/tmp"
mkdir -p "$r/srv/hbt-test"
mount --bind "$2" "$r/srv/hbt-test"
echo scratch-root-ready
exec chroot "$r" /bin/sleep 100000
)";

}  // namespace

ScratchRoot::ScratchRoot(const std::string& shared) {
  if (geteuid() != 0) {
    problem_ = "a scratch root needs root (a mount namespace and an overlay)";
    return;
  }
  std::string work = shared + "/.scratch-root";
  holder_ = std::make_unique<testsupport::ChildProcess>(
      std::vector<std::string>{"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c", kMakeRoot,
                               "sh", work, shared},
      false);
  if (!holder_->wait_for_output("scratch-root-ready", 30000)) {
    problem_ = "the scratch root could not be made: " + holder_->output();
    holder_.reset();
  }
}

ScratchRoot::~ScratchRoot() {
  if (holder_) {
    holder_->kill_now();
    holder_->wait_exit(10000);
  }
}

testsupport::ProgramResult ScratchRoot::run(const std::vector<std::string>& argv, int timeout_ms) {
  if (!holder_) return {-1, problem_};
  std::vector<std::string> command{"/usr/bin/nsenter", "--target", std::to_string(holder_->pid()), "--mount", "--root",
                                   "--wd", "--"};
  command.insert(command.end(), argv.begin(), argv.end());
  return testsupport::run_program(command, timeout_ms);
}

testsupport::ProgramResult ScratchRoot::shell(const std::string& command, int timeout_ms) {
  return run({"/bin/sh", "-c", command}, timeout_ms);
}

std::string ScratchRoot::read(const std::string& path) {
  auto r = run({"/bin/cat", path});
  return r.exit_code == 0 ? r.output : "";
}

bool ScratchRoot::exists(const std::string& path) { return run({"/usr/bin/test", "-e", path}).exit_code == 0; }

}  // namespace hbt::packaging
