// The installer's file queue: copy operations gathered from the CopyFiles entries of INF
// install sections, then carried out in one commit. Existing targets are handled by the
// queue's copy style and by the caller's callback, the way a setup file queue does it.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "setup/inf_file.h"

namespace hbt::setup {

// Copy styles (the values of the setup API's SP_COPY_* flags).
constexpr unsigned kCopyNoOverwrite = 0x00000008;  // ask the callback when the target exists
constexpr unsigned kCopyForceNewer = 0x00002000;   // never replace a newer target, without asking

struct FilePaths {
  std::string source;
  std::string target;
};

struct QueueCallback {
  // A target exists and the copy was queued with kCopyNoOverwrite: true overwrites it.
  std::function<bool(const FilePaths&)> target_exists;
  // A copy failed with the error number: true skips the file and goes on, false ends the commit.
  std::function<bool(const FilePaths&, int error)> copy_error;
};

struct QueuedCopy {
  FilePaths paths;
  unsigned style = 0;
};

// What a commit changed on the target side, so that a failed installation can be taken back
// and a later uninstallation knows what is its own.
struct CommitRecord {
  std::vector<std::string> created_files;    // targets that did not exist before
  std::vector<std::string> replaced_files;   // targets that existed and were overwritten
  std::vector<std::string> created_folders;  // in the order they were made, parents first
  std::vector<std::string> kept_files;       // targets that existed and were left as they were
};

class FileQueue {
 public:
  // Queues every file of the CopyFiles entries of the install section, sources under
  // source_root (a folder path ending in '/'), targets by [DestinationDirs]. False with a
  // message naming the INF line when the section, a file list or a destination is missing
  // or wrong; nothing of that section is queued then.
  bool queue_install_section(const InfFile& inf, std::string_view section, const DirectoryIds& ids,
                             const std::string& source_root, unsigned copy_style, std::string* error);

  // Carries out the queued copies in order. A copy goes to a temporary file beside the
  // target and is renamed over it, with the source's permissions and modification time, so
  // an interrupted copy never leaves a half-written target. Returns false when some copy
  // failed (skipped by the callback) or the callback ended the commit; *error is then the
  // error number of the last failure. What was done is added to *record when given, also
  // on failure.
  bool commit(const QueueCallback& callback, int* error, CommitRecord* record = nullptr);

  const std::vector<QueuedCopy>& copies() const { return copies_; }

 private:
  std::vector<QueuedCopy> copies_;
};

// Joins a folder and a name with exactly one '/'.
std::string join_path(std::string_view folder, std::string_view name);

// Copies one file to a new temporary beside the target, flushes it to the disk and renames it
// into place; keeps the source's mode and times. Returns 0 or an error number. The file
// calls go through the platform's system-call table.
int copy_file_atomically(const std::string& source, const std::string& target);

// Copies one file to a target that must not exist yet (never replacing one), flushed to the
// disk; a target left half-written by a failure is removed. 0 or an error number (EEXIST when
// the target exists).
int copy_to_new_file(const std::string& source, const std::string& target);

// Creates the folder and its missing parents; 0 or an error number. The folders it made are
// appended to *created (parents first) when given.
int make_directories(const std::string& path, std::vector<std::string>* created = nullptr);

// Takes back what a commit created: its new files, then its new folders when they are empty
// (children first). Replaced files stay: they are complete copies either way.
void undo_commit(const CommitRecord& record);

}  // namespace hbt::setup
