#include "setup/install_driver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>

#include "platform/environment.h"
#include "platform/registry.h"
#include "setup/file_queue.h"
#include "setup/inf_file.h"
#include "setup/install_record.h"
#include "setup/opc_registration.h"
#include "setup/registry_sections.h"
#include "setup/shared_dll_counts.h"
#include "setup/shortcuts.h"

namespace hbt::setup {

namespace {

namespace registry = platform::registry;

constexpr const char* kInfName = "HBT.inf";
constexpr const char* kPollerName = "HBTSPOLL";
constexpr const char* kEditorName = "HBTDIDW";
constexpr const char* kHelpName = "HBTDOC.html";
constexpr const char* kDefaultConfiguration = "DEFAULT.HBT";
constexpr const char* kProductKey = "Software\\Velmora\\Brenlow\\";

class Reporter {
 public:
  explicit Reporter(MessagePort& port) : port_(port) {}
  // A failure that ends the installation.
  void plain(const std::string& message) { port_.show(kErrorTitle, message + "\n\n" + kAborted); }
  void with_error(const std::string& message, int error) {
    port_.show(kErrorTitle, message + "\nWin32 error code: " + std::to_string(error) + "\n\n" + kAborted);
  }
  // A failure that does not end the installation by itself: it must not say that it was
  // aborted.
  void without_abort(const std::string& message, int error) {
    port_.show(kErrorTitle, message + "\nWin32 error code: " + std::to_string(error));
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

struct FirstConfiguration {
  std::string source, target;
  std::vector<std::string> created_folders;
  int error = 0;
};

// The node's own configuration file from the installed default, unless it exists.
FirstConfiguration create_first_configuration(const std::string& install_directory, const std::string& data_directory,
                                              const std::string& node_name) {
  FirstConfiguration c;
  c.source = join_path(install_directory, kDefaultConfiguration);
  c.target = join_path(data_directory, node_name + ".HBT");
  struct stat st;
  // The default file may come read-only from the media; the copy must be writable by the editor.
  if (stat(c.source.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR)) chmod(c.source.c_str(), st.st_mode | S_IWUSR);
  if (access(c.target.c_str(), F_OK) == 0) return c;
  c.error = make_directories(data_directory, &c.created_folders);
  // Never over an existing file: the node's own configuration.
  if (c.error == 0) c.error = copy_to_new_file(c.source, c.target);
  if (c.error == EEXIST) c.error = 0;
  return c;
}

// The record's own keys are no part of what it records.
bool is_record_key(const std::string& qualified) {
  std::string own = qualified_key(registry::Hive::LocalMachine, kInstallRecordKey);
  return equal_ignoring_case(qualified.substr(0, own.size()), own) &&
         (qualified.size() == own.size() || qualified[own.size()] == '\\');
}

void add_created_keys(InstallRecord* record, const std::map<std::string, std::string>& before,
                      const std::map<std::string, std::string>& after, KeyOwner owner) {
  for (const auto& key : keys_added(before, after))
    if (!is_record_key(key)) record->created_keys.emplace(key, owner);
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

  // Every file the node needs is queued and copied, or nothing is installed: an installation
  // that goes on without them records paths of files that are not there.
  FileQueue queue;
  if (a.scada_node) {
    if (!queue.queue_install_section(*inf, "ScadaNode", ids, source, kCopyNoOverwrite, &reason)) {
      report.plain("Failed to process Scada node files\n" + reason);
      return 0;
    }
  }
  if (!queue.queue_install_section(*inf, "ViewNode", ids, source, kCopyNoOverwrite, &reason)) {
    report.plain("Failed to process View node files\n" + reason);
    return 0;
  }
  const std::size_t first_system_file = queue.copies().size();
  if (!queue.queue_install_section(*inf, "NtSystem32", ids, source, kCopyForceNewer, &reason)) {
    report.plain("Failed to process System files\n" + reason);
    return 0;
  }

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
  // The first file that cannot be copied ends the commit.
  callback.copy_error = [&](const FilePaths& paths, int error) {
    report.without_abort("Failed to copy " + paths.source + " to " + paths.target + ": " + std::strerror(error), error);
    return false;
  };
  CommitRecord committed;
  int commit_error = 0;
  if (!queue.commit(callback, &commit_error, &committed)) {
    undo_commit(committed);
    report.with_error("Failed to commit the file queue", commit_error);
    return 0;
  }

  // Before anything names it in the registry.
  if (!node.empty()) {
    FirstConfiguration first = create_first_configuration(install, data, node);
    if (first.error != 0) {
      CommitRecord with_data = committed;
      with_data.created_folders.insert(with_data.created_folders.end(), first.created_folders.begin(),
                                       first.created_folders.end());
      undo_commit(with_data);
      report.with_error("Failed to copy " + first.source + " to " + first.target + ": " + std::strerror(first.error),
                        first.error);
      return 0;
    }
  }

  InstallRecord record;
  record.install_directory = install;
  record.system_directory = system;
  record.configuration_file = config;
  record.files.insert(committed.created_files.begin(), committed.created_files.end());
  record.files.insert(committed.replaced_files.begin(), committed.replaced_files.end());
  record.folders.insert(committed.created_folders.begin(), committed.created_folders.end());
  const auto keys_before = stored_keys();
  RegistryJournal journal;

  if (!apply_registry_section(*inf, "ProductInstall", ids, &reason, &journal))
    report.inf("Failed to do registry stuff\n" + reason);
  if (a.scada_node) {
    if (!apply_registry_section(*inf, "ScadaNode", ids, &reason, &journal))
      report.inf("Failed to add scada registry info\n" + reason);
  } else if (!apply_registry_section(*inf, "ViewNode", ids, &reason, &journal)) {
    report.inf("Failed to add view registry info\n" + reason);
  }

  if (auto plan = plan_shortcuts(a.host_name, a.shortcut_mode)) {
    // A group refused as a folder is not recorded either.
    if (valid_group(plan->group)) {
      journal.before_write(registry::Hive::LocalMachine, kProductKey, "FolderName");
      if (registry::set_string(registry::Hive::LocalMachine, kProductKey, "FolderName", plan->group)) {
        registry::Value folder{"FolderName", registry::ValueType::String, plan->group};
        journal.written(registry::Hive::LocalMachine, kProductKey, "FolderName", folder);
      } else {
        report.without_abort("Failed to record FolderName: " + std::string(std::strerror(errno)), errno);
      }
    }
    ShortcutTargets targets{join_path(install, kEditorName), join_path(install, kHelpName), install};
    ShortcutRecord launchers;
    std::string failed;
    if (int e = create_shortcuts(*plan, targets, &failed, &launchers))
      report.without_abort("Failed to create the shortcut " + failed + ": " + std::strerror(e), e);
    record.launchers.insert(launchers.launchers.begin(), launchers.launchers.end());
    record.launcher_folders.insert(launchers.created_folders.begin(), launchers.created_folders.end());
  }

  // The OPC support libraries every OPC server counts, and the files of the shared system
  // folder, which another installation may use as well.
  std::vector<std::string> counted = opc_support_count_names(system);
  for (std::size_t i = first_system_file; i < queue.copies().size(); ++i)
    counted.push_back(queue.copies()[i].paths.target);
  for (const auto& name : raise_shared_counts(counted, [&](const std::string& name, int error) {
         report.without_abort("Failed to raise the shared count of " + name + ": " + std::strerror(error), error);
       }))
    record.shared_counts[name] += 1;
  const auto keys_installed = stored_keys();

  if (a.scada_node == 1) {
    record.registered = run_registration(install, settings.registration_program, RegistrationStep::kRegister,
                                         [&](const std::string& message, int error) { report.without_abort(message, error); });
  }
  add_created_keys(&record, keys_before, keys_installed, KeyOwner::kInstaller);
  add_created_keys(&record, keys_installed, stored_keys(), KeyOwner::kRegistration);
  record.values = journal.values();

  if (auto earlier = load_install_record()) {
    earlier->merge(record);
    record = std::move(*earlier);
  }
  if (!save_install_record(record))
    report.without_abort("Failed to record the installation for its removal: " + std::string(std::strerror(errno)), errno);
  return 1;
}

}  // namespace hbt::setup
