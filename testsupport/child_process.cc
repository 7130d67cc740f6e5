#include "testsupport/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace hbt::testsupport {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, bool terminal, const std::string& directory) {
  std::vector<char*> args;
  std::vector<std::string> copy = argv;
  for (auto& a : copy) args.push_back(a.data());
  args.push_back(nullptr);
  if (terminal) {
    int master = -1;
    pid_ = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(126);
      execv(args[0], args.data());
      _exit(127);
    }
    fd_ = master;
  } else {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      int null_fd = open("/dev/null", O_RDONLY);
      dup2(null_fd, 0);
      dup2(out[1], 1);
      dup2(out[1], 2);
      if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(126);
      execv(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    fd_ = out[0];
  }
  if (fd_ >= 0) fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
  if (running()) {
    kill(pid_, SIGKILL);
    wait_exit(5000);
  }
  if (fd_ >= 0) close(fd_);
}

bool ChildProcess::running() {
  if (pid_ <= 0 || status_) return false;
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return false;
  }
  return true;
}

std::optional<int> ChildProcess::wait_exit(int timeout_ms) {
  eventually([&] {
    drain(0);
    return !running();
  }, timeout_ms);
  drain(0);
  return status_;
}

void ChildProcess::send(const std::string& keys) {
  if (fd_ >= 0) (void)!write(fd_, keys.data(), keys.size());
}

void ChildProcess::kill_now(int signal) {
  if (running()) kill(pid_, signal);
}

void ChildProcess::drain(int timeout_ms) {
  if (fd_ < 0) return;
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd_, buffer, sizeof buffer)) > 0) output_.append(buffer, static_cast<std::size_t>(n));
}

const std::string& ChildProcess::output() {
  drain(0);
  return output_;
}

std::string ChildProcess::take_output() {
  drain(0);
  std::string taken;
  taken.swap(output_);
  return taken;
}

bool ChildProcess::wait_for_output(const std::string& text, int timeout_ms) {
  return eventually([&] {
    drain(0);
    return output_.find(text) != std::string::npos;
  }, timeout_ms);
}

}  // namespace hbt::testsupport

namespace hbt::testsupport {

ProgramResult run_program(const std::vector<std::string>& argv, int timeout_ms, const std::string& directory) {
  ChildProcess child(argv, false, directory);
  ProgramResult result;
  auto code = child.wait_exit(timeout_ms);
  result.exit_code = code ? *code : -1;
  result.output = child.output();
  return result;
}

}  // namespace hbt::testsupport
