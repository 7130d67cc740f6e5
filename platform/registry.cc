#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>

#include "platform/environment.h"
#include "platform/error_text.h"
#include "platform/file_sharing.h"
#include "platform/registry_text.h"
#include "platform/system_calls.h"

namespace hbt::platform::registry {

namespace {

const char* hive_file_name(Hive hive) {
  switch (hive) {
    case Hive::LocalMachine: return "HKLM.reg";
    case Hive::CurrentUser: return "HKCU.reg";
    case Hive::ClassesRoot: return "HKCR.reg";
  }
  return "HKLM.reg";
}

std::string hive_path(Hive hive) { return directory() + "/" + hive_file_name(hive); }

bool read_file(const std::string& path, std::string* text) {
  text->clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;  // a hive that was never written is empty
  char buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text->append(buffer, static_cast<std::size_t>(n));
  int saved = errno;
  close(fd);
  errno = saved;
  return n == 0;
}

bool load(Hive hive, HiveData* data) {
  std::string text;
  if (!read_file(hive_path(hive), &text)) return false;
  std::vector<TextEntry> entries;
  std::string error;
  if (!parse_text(text, &entries, &error)) {
    errno = EINVAL;
    return false;
  }
  apply(*data, hive, entries);
  return true;
}

// Holds the hive's lock file exclusively for one read-modify-write.
class HiveLock {
 public:
  explicit HiveLock(Hive hive) {
    std::string dir = directory();
    if (!make_shared_directories(dir)) return;
    fd_ = sys::table().open((dir + "/" + hive_file_name(hive) + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC,
                            kSharedFileMode);
    if (fd_ < 0) return;
    share_file(fd_);
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~HiveLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
  }
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Replaces the hive through a temporary file and a rename, so that the hive on disk is always
// either the old or the new text, whatever fails in between (a full disk, a failing rename,
// a writer killed mid-way). Only the holder of the hive lock writes, so the temporary file
// has one fixed name and a leftover of a killed writer is simply overwritten.
bool write_file_atomically(const std::string& path, const std::string& text) {
  const sys::Table& calls = sys::table();
  const std::string temp = path + ".tmp";
  auto fail = [&](int fd) {
    const int saved = errno;
    if (fd >= 0) calls.close(fd);
    unlink(temp.c_str());
    errno = saved;
    return false;
  };
  int fd = calls.open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kSharedFileMode);
  if (fd < 0) return fail(-1);
  share_file(fd);
  std::size_t done = 0;
  while (done < text.size()) {
    const long n = calls.write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;  // no progress: the file system takes nothing more
      return fail(fd);
    }
    done += static_cast<std::size_t>(n);
  }
  if (calls.fsync(fd) != 0) return fail(fd);
  if (calls.close(fd) != 0) return fail(-1);
  if (calls.rename(temp.c_str(), path.c_str()) != 0) return fail(-1);
  // The rename itself reaches the disk with the directory.
  const std::string dir = path.substr(0, path.rfind('/'));
  int dir_fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    (void)fsync(dir_fd);
    close(dir_fd);
  }
  return true;
}

bool modify(Hive hive, const std::function<void(HiveData&)>& change) {
  HiveLock lock(hive);
  if (!lock.held()) return false;
  HiveData data;
  if (!load(hive, &data)) return false;
  change(data);
  return write_file_atomically(hive_path(hive), "REGEDIT4\n\n" + format_hive(hive, data));
}

HiveData snapshot(Hive hive) {
  HiveData data;
  if (!load(hive, &data)) data.keys.clear();
  return data;
}

const Value* find_value(const Key* key, std::string_view name) {
  if (key == nullptr) return nullptr;
  for (const auto& v : key->values)
    if (equal_ignoring_case(v.name, name)) return &v;
  return nullptr;
}

}  // namespace

std::string directory() {
  std::string explicit_dir = env_or("HBT_REGISTRY_DIR", "");
  if (!explicit_dir.empty()) return explicit_dir;
  std::string config = env_or("XDG_CONFIG_HOME", env_or("HOME", "/tmp") + "/.config");
  return config + "/hbt/registry";
}

std::optional<Value> get_value(Hive hive, std::string_view key, std::string_view name) {
  HiveData data = snapshot(hive);
  const Value* v = find_value(data.find(normalise_key_path(key)), name);
  if (v == nullptr) return std::nullopt;
  return *v;
}

std::optional<std::string> get_string(Hive hive, std::string_view key, std::string_view name) {
  auto v = get_value(hive, key, name);
  if (!v || v->type != ValueType::String) return std::nullopt;
  return v->text;
}

std::optional<std::uint32_t> get_dword(Hive hive, std::string_view key, std::string_view name) {
  auto v = get_value(hive, key, name);
  if (!v || v->type != ValueType::Dword) return std::nullopt;
  return v->dword;
}

bool key_exists(Hive hive, std::string_view key) {
  return snapshot(hive).exists(normalise_key_path(key));
}

std::vector<std::string> subkeys(Hive hive, std::string_view key) {
  HiveData data = snapshot(hive);
  std::string parent = normalise_key_path(key);
  std::vector<std::string> children;
  for (const auto& k : data.keys) {
    std::string_view rest = k.path;
    if (!parent.empty()) {
      if (rest.size() <= parent.size() + 1 || rest[parent.size()] != '\\' ||
          !equal_ignoring_case(rest.substr(0, parent.size()), parent))
        continue;
      rest.remove_prefix(parent.size() + 1);
    } else if (rest.empty()) {
      continue;
    }
    std::string child(rest.substr(0, rest.find('\\')));
    bool seen = std::any_of(children.begin(), children.end(),
                            [&](const std::string& c) { return equal_ignoring_case(c, child); });
    if (!seen) children.push_back(child);
  }
  return children;
}

std::vector<Value> values(Hive hive, std::string_view key) {
  HiveData data = snapshot(hive);
  const Key* k = data.find(normalise_key_path(key));
  return k ? k->values : std::vector<Value>{};
}

bool set_value(Hive hive, std::string_view key, const Value& value) {
  std::string path = normalise_key_path(key);
  return modify(hive, [&](HiveData& data) {
    apply(data, hive, {TextEntry{TextEntry::SetValue, hive, path, value}});
  });
}

bool set_string(Hive hive, std::string_view key, std::string_view name, std::string_view text) {
  Value v;
  v.name = name;
  v.type = ValueType::String;
  v.text = text;
  return set_value(hive, key, v);
}

bool set_dword(Hive hive, std::string_view key, std::string_view name, std::uint32_t value) {
  Value v;
  v.name = name;
  v.type = ValueType::Dword;
  v.dword = value;
  return set_value(hive, key, v);
}

bool create_key(Hive hive, std::string_view key) {
  std::string path = normalise_key_path(key);
  return modify(hive, [&](HiveData& data) { data.find_or_add(path); });
}

bool delete_value(Hive hive, std::string_view key, std::string_view name) {
  std::string path = normalise_key_path(key);
  Value v;
  v.name = name;
  return modify(hive, [&](HiveData& data) {
    apply(data, hive, {TextEntry{TextEntry::DeleteValue, hive, path, v}});
  });
}

bool delete_key(Hive hive, std::string_view key) {
  std::string path = normalise_key_path(key);
  return modify(hive, [&](HiveData& data) { data.erase_tree(path); });
}

std::string export_text() {
  std::string out = "REGEDIT4\n\n";
  for (Hive hive : {Hive::LocalMachine, Hive::CurrentUser, Hive::ClassesRoot})
    out += format_hive(hive, snapshot(hive));
  return out;
}

bool import_text(std::string_view text, std::string* error) {
  std::vector<TextEntry> entries;
  if (!parse_text(text, &entries, error)) return false;
  for (Hive hive : {Hive::LocalMachine, Hive::CurrentUser, Hive::ClassesRoot}) {
    bool touches = std::any_of(entries.begin(), entries.end(), [&](const TextEntry& e) { return e.hive == hive; });
    if (touches && !modify(hive, [&](HiveData& data) { apply(data, hive, entries); })) {
      if (error) *error = "cannot write " + hive_path(hive) + ": " + system_error_text(errno);
      return false;
    }
  }
  return true;
}

}  // namespace hbt::platform::registry
