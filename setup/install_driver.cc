#include "setup/install_driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "platform/environment.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "setup/file_queue.h"
#include "setup/inf_file.h"
#include "setup/registry_sections.h"
#include "setup/shared_dll_counts.h"
#include "setup/shortcuts.h"

namespace hbt::setup {

namespace {

namespace registry = platform::registry;

constexpr const char* kInfName = "HBT.inf";
constexpr const char* kPollerName = "HBTSPOLL";
constexpr const char* kOpcServerName = "HBTOPC.so";
constexpr const char* kEditorName = "HBTDIDW";
constexpr const char* kHelpName = "HBTDOC.html";
constexpr const char* kDefaultConfiguration = "DEFAULT.HBT";
constexpr const char* kRegistrationName = "hbtregsvr";
constexpr const char* kProductKey = "Software\\Velmora\\Brenlow\\";

class Reporter {
 public:
  explicit Reporter(MessagePort& port) : port_(port) {}
  void plain(const std::string& message) { port_.show(kErrorTitle, message + "\n\n" + kAborted); }
  void with_error(const std::string& message, int error) {
    port_.show(kErrorTitle, message + "\nWin32 error code: " + std::to_string(error) + "\n\n" + kAborted);
  }
  void inf(const std::string& message) { port_.show("INF", message); }

 private:
  MessagePort& port_;
};

std::string text_or_empty(const char* text) { return text ? text : ""; }

// Paths recorded in the registry must work from any working folder.
std::string absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::error_code ignored;
  auto full = std::filesystem::absolute(path, ignored);
  return ignored ? path : full.string();
}

bool contains_host_folder(const std::string& install_directory) {
  for (const char* word : {"DYNAMICS", "FIX", "PROFIC"})
    if (install_directory.find(word) != std::string::npos) return true;
  return false;
}

// Copies without ever replacing an existing file (the node's own configuration).
int copy_without_overwrite(const std::string& source, const std::string& target) {
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  int out = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) {
    int e = errno;
    close(in);
    return e;
  }
  int result = 0;
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) result = errno;
      break;
    }
    for (ssize_t done = 0; done < n && result == 0;) {
      ssize_t w = write(out, buffer + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno != EINTR) result = errno;
      if (w > 0) done += w;
    }
    if (result) break;
  }
  if (close(out) != 0 && result == 0) result = errno;
  close(in);
  // A half-written file would be kept by every later install: remove it.
  if (result != 0) unlink(target.c_str());
  return result;
}

void create_first_configuration(const std::string& install_directory, const std::string& data_directory,
                                const std::string& node_name, Reporter& report) {
  std::string source = join_path(install_directory, kDefaultConfiguration);
  std::string target = join_path(data_directory, node_name + ".HBT");
  struct stat st;
  // The default file may come read-only from the media; the copy must be writable by the editor.
  if (stat(source.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR)) chmod(source.c_str(), st.st_mode | S_IWUSR);
  if (access(target.c_str(), F_OK) == 0) return;
  int e = make_directories(data_directory);
  if (e == 0) e = copy_without_overwrite(source, target);
  if (e != 0 && e != EEXIST) report.with_error("Failed to copy " + source + " to " + target + ": " + std::strerror(e), e);
}

void register_opc_server(const std::string& install_directory, const InstallSettings& settings, Reporter& report) {
  std::string program = settings.registration_program;
  if (program.empty()) {
    program = join_path(install_directory, kRegistrationName);
    if (access(program.c_str(), X_OK) != 0) program = kRegistrationName;
  }
  std::string command = "\"" + program + "\" /s \"" + join_path(install_directory, kOpcServerName) + "\"";
  int error = 0;
  if (platform::start_detached(command, install_directory, &error) < 0)
    report.with_error("Failed to start " + command + ": " + std::strerror(error), error);
}

}  // namespace

InstallSettings settings_from_environment() {
  InstallSettings s;
  s.system_directory = platform::env_or("HBT_SYSTEM_DIR", "");
  s.registration_program = platform::env_or("HBT_REGSVR", "");
  return s;
}

std::string configuration_file_path(const std::string& install_directory, const std::string& data_directory,
                                    const std::string& node_name) {
  if (contains_host_folder(install_directory) && !node_name.empty())
    return join_path(data_directory, node_name + ".HBT");
  return join_path(install_directory, kDefaultConfiguration);
}

int install_driver(const InstallArguments& a, const InstallSettings& settings, MessagePort& messages) {
  if (a.enable == 0) return 0;
  Reporter report(messages);
  if (a.distribution_path == nullptr) {
    report.plain("Path to the distribution media was not specified");
    return 0;
  }
  std::string source = a.distribution_path;
  if (source.empty() || source.back() != '/') source.push_back('/');
  std::string inf_path = source + kInfName;

  std::string reason;
  std::optional<InfFile> inf = InfFile::load(inf_path, &reason);
  if (!inf) {
    report.plain("Failed to open server's information file " + inf_path + "\n" + reason);
    return 0;
  }

  const std::string install = absolute(text_or_empty(a.install_directory));
  const std::string data = absolute(text_or_empty(a.data_directory));
  const std::string node = text_or_empty(a.node_name);
  DirectoryIds ids;
  if (install.empty()) {
    report.with_error("Failed to associate a directory id with the destination directory " + install, EINVAL);
    return 0;
  }
  ids[kDirIdInstall] = install;
  std::string config = configuration_file_path(install, data, node);
  if (config.empty() || config[0] != '/') {
    report.with_error("Failed to associate a directory id with the destination directory " + config, EINVAL);
    return 0;
  }
  ids[kDirIdConfigFile] = config;
  ids[kDirIdDriverExe] = join_path(install, kPollerName);
  std::string system = settings.system_directory.empty() ? install : absolute(settings.system_directory);
  ids[kDirIdSystem] = system;
  ids[kDirIdSource] = source;

  FileQueue queue;
  if (a.scada_node) {
    if (queue.queue_install_section(*inf, "ScadaNode", ids, source, kCopyNoOverwrite, &reason)) {
      if (!queue.queue_install_section(*inf, "ViewNode", ids, source, kCopyNoOverwrite, &reason))
        report.plain("Failed to process View node files\n" + reason);
    } else {
      report.plain("Failed to process Scada node files\n" + reason);
    }
  } else if (!queue.queue_install_section(*inf, "ViewNode", ids, source, kCopyNoOverwrite, &reason)) {
    report.plain("Failed to process View node files\n" + reason);
  }
  if (!queue.queue_install_section(*inf, "NtSystem32", ids, source, kCopyForceNewer, &reason))
    report.plain("Failed to process System files\n" + reason);

  QueueCallback callback;
  // An existing file stays only when it was written later than the one on the media.
  callback.target_exists = [](const FilePaths& paths) {
    struct stat target, source_stat;
    if (stat(paths.target.c_str(), &target) != 0 || stat(paths.source.c_str(), &source_stat) != 0) return true;
    const auto& t = target.st_mtim;
    const auto& s = source_stat.st_mtim;
    bool target_later = t.tv_sec != s.tv_sec ? t.tv_sec > s.tv_sec : t.tv_nsec > s.tv_nsec;
    return !target_later;
  };
  callback.copy_error = [&](const FilePaths& paths, int error) {
    report.with_error("Failed to copy " + paths.source + " to " + paths.target + ": " + std::strerror(error), error);
    return true;
  };
  int commit_error = 0;
  if (!queue.commit(callback, &commit_error)) report.with_error("Failed to commit the file queue", commit_error);

  if (!apply_registry_section(*inf, "ProductInstall", ids, &reason)) report.inf("Failed to do registry stuff\n" + reason);
  if (a.scada_node) {
    if (!apply_registry_section(*inf, "ScadaNode", ids, &reason)) report.inf("Failed to add scada registry info\n" + reason);
  } else if (!apply_registry_section(*inf, "ViewNode", ids, &reason)) {
    report.inf("Failed to add view registry info\n" + reason);
  }

  if (auto plan = plan_shortcuts(a.host_name, a.shortcut_mode)) {
    // A group refused as a folder is not recorded either.
    if (valid_group(plan->group) &&
        !registry::set_string(registry::Hive::LocalMachine, kProductKey, "FolderName", plan->group))
      report.with_error("Failed to record FolderName: " + std::string(std::strerror(errno)), errno);
    ShortcutTargets targets{join_path(install, kEditorName), join_path(install, kHelpName), install};
    std::string failed;
    if (int e = create_shortcuts(*plan, targets, &failed))
      report.with_error("Failed to create the shortcut " + failed + ": " + std::strerror(e), e);
  }

  raise_shared_dll_counts(system, [&](const std::string& name, int error) {
    report.with_error("Failed to raise the shared count of " + name + ": " + std::strerror(error), error);
  });

  if (!node.empty()) create_first_configuration(install, data, node, report);
  if (a.scada_node == 1) register_opc_server(install, settings, report);
  return 1;
}

}  // namespace hbt::setup
