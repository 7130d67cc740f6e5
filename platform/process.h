// Starting programs and facts about the running one.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hbt::platform {

// Splits a command line into words: blanks separate words, double quotes group them and a
// backslash before a double quote makes it literal (the rules of the original's loaders).
std::vector<std::string> split_command_line(std::string_view command_line);

// Directory part of a path: the text before the last '/' or '\\'; "" when there is none.
std::string directory_of(std::string_view path);

// Starts the command line as a detached process: its own session, standard streams on
// /dev/null, no inherited descriptors, not a child that the caller must reap. The working
// directory is `working_directory`, or the program's directory when that is empty.
// Returns the process id, or -1 with the error number in *error when it could not start
// (including a program that cannot be executed).
int start_detached(std::string_view command_line, std::string_view working_directory,
                   int* error = nullptr);

// File name of the running program (the part of its path after the last separator).
std::string program_file_name();

// Full path of the running program's executable.
std::string program_path();

// Raises the process's scheduling priority as far as it is allowed to; failures are ignored.
void raise_priority();

// Id of the running process.
int current_process_id();

// Whether the process with this id is alive.
bool process_alive(int pid);

}  // namespace hbt::platform
