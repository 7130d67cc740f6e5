#include "setup/file_queue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>

#include "platform/system_calls.h"

namespace hbt::setup {

namespace {

namespace sys = platform::sys;

bool valid_file_name(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

std::string line_message(const InfFile& inf, const InfLine& line, const std::string& problem) {
  return inf.file_name() + " line " + std::to_string(line.first_line) + ": " + problem;
}

// Target folder of a file list: its own [DestinationDirs] entry, else DefaultDestDir.
bool destination_of(const InfFile& inf, std::string_view list, const DirectoryIds& ids, std::string* folder,
                    std::string* error) {
  const InfLine* line = inf.find_key("DestinationDirs", list);
  if (line == nullptr) line = inf.find_key("DestinationDirs", "DefaultDestDir");
  if (line == nullptr) {
    *error = inf.file_name() + ": no [DestinationDirs] entry for [" + std::string(list) + "]";
    return false;
  }
  auto id = line->fields.empty() ? std::nullopt : parse_inf_number(line->fields[0]);
  auto value = id ? ids.find(static_cast<int>(*id)) : ids.end();
  if (value == ids.end()) {
    *error = line_message(inf, *line, "directory id " + (line->fields.empty() ? std::string("(none)") : line->fields[0]) +
                                          " has no value");
    return false;
  }
  *folder = value->second;
  if (line->fields.size() > 1 && !line->fields[1].empty()) {
    std::string sub;
    if (!inf.expand(line->fields[1], *line, ids, &sub, error)) return false;
    *folder = join_path(*folder, sub);
  }
  return true;
}

// Source of a file: the media root, or the subfolder [SourceDisksFiles] gives it.
bool source_of(const InfFile& inf, const std::string& name, const std::string& root, const DirectoryIds& ids,
               std::string* path, std::string* error) {
  const InfLine* line = inf.find_key("SourceDisksFiles", name);
  std::string folder = root;
  if (line != nullptr && line->fields.size() > 1 && !line->fields[1].empty()) {
    std::string sub;
    if (!inf.expand(line->fields[1], *line, ids, &sub, error)) return false;
    if (sub.find("..") != std::string::npos) {
      *error = line_message(inf, *line, "source folder " + sub + " leaves the media");
      return false;
    }
    folder = join_path(root, sub);
  }
  *path = join_path(folder, name);
  return true;
}

bool later(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

}  // namespace

std::string join_path(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && out.back() != '/') out.push_back('/');
  while (!name.empty() && name.front() == '/' && !out.empty()) name.remove_prefix(1);
  out += name;
  return out;
}

int make_directories(const std::string& path, std::vector<std::string>* created) {
  std::string partial;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if ((i == path.size() || path[i] == '/') && !partial.empty() && partial != "/") {
      if (mkdir(partial.c_str(), 0755) == 0) {
        if (created) created->push_back(partial);
      } else if (errno != EEXIST) {
        return errno;
      }
    }
    if (i < path.size()) partial.push_back(path[i]);
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

namespace {

// A new file beside the target that nobody else can have opened: O_EXCL on a name made of
// the process id, a counter and the clock.
int open_temporary(const std::string& folder, std::string* temp) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    *temp = folder + ".hbtsetup." + std::to_string(getpid()) + "." + std::to_string(counter++) + "." +
            std::to_string(static_cast<unsigned long>(ticks) % 1000000);
    int fd = sys::table().open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

int copy_contents(int in, int out) {
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    for (ssize_t done = 0; done < n;) {
      long w = sys::table().write(out, buffer + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return errno;
      if (w == 0) return EIO;
      done += w;
    }
  }
}

}  // namespace

int copy_file_atomically(const std::string& source, const std::string& target) {
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  struct stat st;
  int not_regular = fstat(in, &st) != 0 ? errno : !S_ISREG(st.st_mode) ? (S_ISDIR(st.st_mode) ? EISDIR : EINVAL) : 0;
  if (not_regular) {
    close(in);
    return not_regular;
  }
  std::string temp;
  int out = open_temporary(target.substr(0, target.rfind('/') + 1), &temp);
  if (out < 0) {
    int e = errno;
    close(in);
    return e;
  }
  int result = copy_contents(in, out);
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (result == 0 && fchmod(out, st.st_mode & 07777) != 0) result = errno;
  if (result == 0 && futimens(out, times) != 0) result = errno;
  // On the disk before it takes the target's name: a crash never leaves an empty program.
  if (result == 0 && sys::table().fsync(out) != 0) result = errno;
  if (sys::table().close(out) != 0 && result == 0) result = errno;
  close(in);
  if (result == 0 && sys::table().rename(temp.c_str(), target.c_str()) != 0) result = errno;
  if (result != 0) unlink(temp.c_str());
  return result;
}

int copy_to_new_file(const std::string& source, const std::string& target) {
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  int out = sys::table().open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) {
    int e = errno;
    close(in);
    return e;
  }
  int result = copy_contents(in, out);
  if (result == 0 && sys::table().fsync(out) != 0) result = errno;
  if (sys::table().close(out) != 0 && result == 0) result = errno;
  close(in);
  if (result != 0) unlink(target.c_str());
  return result;
}

void undo_commit(const CommitRecord& record) {
  for (auto file = record.created_files.rbegin(); file != record.created_files.rend(); ++file) unlink(file->c_str());
  for (auto folder = record.created_folders.rbegin(); folder != record.created_folders.rend(); ++folder)
    rmdir(folder->c_str());
}

bool FileQueue::queue_install_section(const InfFile& inf, std::string_view section_name, const DirectoryIds& ids,
                                      const std::string& source_root, unsigned copy_style, std::string* error) {
  const InfSection* section = inf.section(section_name);
  if (section == nullptr) {
    *error = inf.file_name() + ": no section [" + std::string(section_name) + "]";
    return false;
  }
  std::vector<QueuedCopy> queued;
  for (const auto& entry : section->lines) {
    if (!entry.has_key || !equal_ignoring_case(entry.key, "CopyFiles")) continue;
    for (const auto& list_name : entry.fields) {
      if (list_name.empty()) continue;
      // "@name" copies one file straight from the install section.
      std::vector<std::pair<const InfLine*, std::string>> files;  // line, destination name
      std::vector<std::string> sources;
      std::string folder;
      if (list_name[0] == '@') {
        files.emplace_back(&entry, list_name.substr(1));
        sources.push_back(list_name.substr(1));
        if (!destination_of(inf, "DefaultDestDir", ids, &folder, error)) return false;
      } else {
        const InfSection* list = inf.section(list_name);
        if (list == nullptr) {
          *error = line_message(inf, entry, "CopyFiles names a missing section [" + list_name + "]");
          return false;
        }
        if (!destination_of(inf, list_name, ids, &folder, error)) return false;
        for (const auto& file : list->lines) {
          if (file.has_key || file.fields.empty() || file.fields[0].empty()) {
            *error = line_message(inf, file, "a file list line must be 'target[, source]'");
            return false;
          }
          files.emplace_back(&file, file.fields[0]);
          sources.push_back(file.fields.size() > 1 && !file.fields[1].empty() ? file.fields[1] : file.fields[0]);
        }
      }
      for (std::size_t i = 0; i < files.size(); ++i) {
        const InfLine& line = *files[i].first;
        std::string target_name, source_name;
        if (!inf.expand(files[i].second, line, ids, &target_name, error) ||
            !inf.expand(sources[i], line, ids, &source_name, error))
          return false;
        if (!valid_file_name(target_name) || !valid_file_name(source_name)) {
          *error = line_message(inf, line, "'" + files[i].second + "' is not a plain file name");
          return false;
        }
        QueuedCopy copy;
        copy.style = copy_style;
        copy.paths.target = join_path(folder, target_name);
        if (!source_of(inf, source_name, source_root, ids, &copy.paths.source, error)) return false;
        queued.push_back(std::move(copy));
      }
    }
  }
  copies_.insert(copies_.end(), queued.begin(), queued.end());
  return true;
}

bool FileQueue::commit(const QueueCallback& callback, int* error, CommitRecord* record) {
  CommitRecord local;
  CommitRecord& done = record ? *record : local;
  bool all = true;
  for (const auto& copy : copies_) {
    const FilePaths& paths = copy.paths;
    int result = make_directories(paths.target.substr(0, paths.target.rfind('/') + 1), &done.created_folders);
    struct stat target_stat, source_stat;
    if (result == 0 && stat(paths.source.c_str(), &source_stat) != 0) result = errno;
    bool existed = result == 0 && stat(paths.target.c_str(), &target_stat) == 0;
    if (existed) {
      bool keep = ((copy.style & kCopyForceNewer) && later(target_stat.st_mtim, source_stat.st_mtim)) ||
                  ((copy.style & kCopyNoOverwrite) && !(callback.target_exists && callback.target_exists(paths)));
      if (keep) {
        done.kept_files.push_back(paths.target);
        continue;
      }
    }
    if (result == 0) result = copy_file_atomically(paths.source, paths.target);
    if (result == 0) {
      auto& list = existed ? done.replaced_files : done.created_files;
      // A file named twice in the queue is one file.
      if (std::find(list.begin(), list.end(), paths.target) == list.end()) list.push_back(paths.target);
      continue;
    }
    all = false;
    *error = result;
    if (!callback.copy_error || !callback.copy_error(paths, result)) return false;
  }
  return all;
}

}  // namespace hbt::setup
