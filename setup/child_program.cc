#include "setup/child_program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/process.h"

extern char** environ;

namespace hbt::setup {

ChildOutcome run_to_end(const std::string& command_line, const std::string& directory, int timeout_ms) {
  ChildOutcome outcome;
  std::vector<std::string> words = platform::split_command_line(command_line);
  if (words.empty()) {
    outcome.error = EINVAL;
    return outcome;
  }
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  pid_t pid = -1;
  // A bare program name is looked up along PATH, as the command line of a shell would be.
  int e = words[0].find('/') == std::string::npos
              ? posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ)
              : posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (e != 0) {
    outcome.error = e;
    return outcome;
  }
  outcome.started = true;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      outcome.finished = true;
      outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return outcome;
    }
    if (done < 0 && errno != EINTR) {
      outcome.error = errno;
      return outcome;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      outcome.error = ETIMEDOUT;
      return outcome;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace hbt::setup
