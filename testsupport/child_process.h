// A program started by a test: optionally on a pseudo-terminal (to press its keys), with its
// output collected, waited for with a deadline and killed when the test ends.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace hbt::testsupport {

class ChildProcess {
 public:
  // Starts argv[0] (a path) with the arguments. With a terminal, standard input and output
  // are a pseudo-terminal; otherwise standard input is /dev/null and output goes to a pipe.
  ChildProcess(const std::vector<std::string>& argv, bool terminal, const std::string& directory = "");
  ~ChildProcess();  // kills the process if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  int pid() const { return pid_; }
  bool running();
  // Exit code once it has exited within the timeout; nullopt otherwise. -signal for a kill.
  std::optional<int> wait_exit(int timeout_ms);
  void send(const std::string& keys);  // terminal only
  void kill_now(int signal = 9);
  // Everything the process has printed so far (reads what is pending without blocking).
  const std::string& output();
  // What the process printed since the last call, handed over and forgotten (for a process
  // that prints for hours).
  std::string take_output();
  // Waits until the output contains `text`; false after the timeout.
  bool wait_for_output(const std::string& text, int timeout_ms);

 private:
  void drain(int timeout_ms);

  int pid_ = -1;
  int fd_ = -1;  // terminal master or pipe
  std::optional<int> status_;
  std::string output_;
};

// Polls `condition` every 10 ms until it holds or the timeout passes.
template <typename Condition>
bool eventually(Condition condition, int timeout_ms);

}  // namespace hbt::testsupport

#include "testsupport/child_process_inl.h"

namespace hbt::testsupport {

struct ProgramResult {
  int exit_code = -1;  // -1 when it did not finish in time
  std::string output;  // standard output and standard error together
};

// Runs a program to its end (killed after timeout_ms).
ProgramResult run_program(const std::vector<std::string>& argv, int timeout_ms = 30000,
                          const std::string& directory = "");

}  // namespace hbt::testsupport
