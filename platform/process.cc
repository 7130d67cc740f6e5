#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace hbt::platform {

std::vector<std::string> split_command_line(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
      word.push_back('"');
      in_word = true;
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
    } else {
      word.push_back(c);
      in_word = true;
    }
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

std::string directory_of(std::string_view path) {
  std::size_t last = path.find_last_of("/\\");
  return last == std::string_view::npos ? std::string() : std::string(path.substr(0, last));
}

int start_detached(std::string_view command_line, std::string_view working_directory, int* error) {
  std::vector<std::string> words = split_command_line(command_line);
  if (words.empty()) {
    if (error) *error = EINVAL;
    return -1;
  }
  std::string directory(working_directory);
  if (directory.empty()) directory = directory_of(words[0]);
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  // The grandchild reports a failed exec through this pipe; success closes it unseen.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    if (error) *error = errno;
    return -1;
  }
  int pid_pipe[2];
  if (pipe2(pid_pipe, O_CLOEXEC) != 0) {
    if (error) *error = errno;
    close(report[0]);
    close(report[1]);
    return -1;
  }
  // Everything below fork() uses only async-signal-safe calls: the caller may be threaded.
  pid_t child = fork();
  if (child < 0) {
    if (error) *error = errno;
    close(report[0]); close(report[1]); close(pid_pipe[0]); close(pid_pipe[1]);
    return -1;
  }
  if (child == 0) {
    close(report[0]);
    close(pid_pipe[0]);
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) {
      (void)!write(pid_pipe[1], &grandchild, sizeof grandchild);
      _exit(grandchild < 0 ? 1 : 0);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    for (int s = 1; s < NSIG; ++s) sigaction(s, &default_action, nullptr);
    int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      dup2(null_fd, 0);
      dup2(null_fd, 1);
      dup2(null_fd, 2);
    }
    int keep = report[1];
    // Close everything else the caller had open (ours are close-on-exec).
    if (keep > 3) close_range(3, static_cast<unsigned>(keep) - 1, 0);
    close_range(static_cast<unsigned>(keep) + 1, ~0U, 0);
    if (!directory.empty() && chdir(directory.c_str()) != 0) {
      int e = errno;
      (void)!write(keep, &e, sizeof e);
      _exit(127);
    }
    execv(argv[0], argv.data());
    if (std::strchr(argv[0], '/') == nullptr) execvp(argv[0], argv.data());
    int e = errno;
    (void)!write(keep, &e, sizeof e);
    _exit(127);
  }
  close(report[1]);
  close(pid_pipe[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  pid_t grandchild = -1;
  if (read(pid_pipe[0], &grandchild, sizeof grandchild) != sizeof grandchild) grandchild = -1;
  close(pid_pipe[0]);
  int exec_error = 0;
  ssize_t n;
  while ((n = read(report[0], &exec_error, sizeof exec_error)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  if (n == sizeof exec_error) {
    if (error) *error = exec_error;
    return -1;
  }
  if (grandchild < 0) {
    if (error) *error = ECHILD;
    return -1;
  }
  return grandchild;
}

std::string program_path() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::string program_file_name() {
  std::string path = program_path();
  std::size_t last = path.find_last_of('/');
  return last == std::string::npos ? path : path.substr(last + 1);
}

void raise_priority() {
  // Only privileged processes may lower their nice value; others keep the default.
  (void)setpriority(PRIO_PROCESS, 0, -10);
}

int current_process_id() { return static_cast<int>(getpid()); }

bool process_alive(int pid) {
  if (pid <= 0) return false;
  return kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace hbt::platform
