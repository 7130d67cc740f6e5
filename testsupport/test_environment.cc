#include "testsupport/test_environment.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace hbt::testsupport {

namespace {

std::atomic<int> counter{0};

void remember(const char* name, std::string* value, bool* had) {
  const char* v = getenv(name);
  *had = v != nullptr;
  if (v) *value = v;
}

void restore(const char* name, const std::string& value, bool had) {
  if (had)
    setenv(name, value.c_str(), 1);
  else
    unsetenv(name);
}

// Regions a crashed test process may have left behind under our namespace.
void remove_regions(const std::string& prefix) {
  DIR* d = opendir("/dev/shm");
  if (!d) return;
  while (dirent* e = readdir(d)) {
    if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0)
      shm_unlink(("/" + std::string(e->d_name)).c_str());
  }
  closedir(d);
}

}  // namespace

TestEnvironment::TestEnvironment() {
  remember("HBT_NAMESPACE", &old_namespace_, &had_namespace_);
  remember("HBT_REGISTRY_DIR", &old_registry_, &had_registry_);
  namespace_ = "hbtt" + std::to_string(getpid()) + "x" + std::to_string(counter++) + "_";
  std::string pattern = (std::filesystem::temp_directory_path() / "hbt-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  dir_ = made ? made : "/tmp";
  setenv("HBT_NAMESPACE", namespace_.c_str(), 1);
  setenv("HBT_REGISTRY_DIR", (dir_ + "/registry").c_str(), 1);
}

TestEnvironment::~TestEnvironment() {
  remove_regions(namespace_);
  std::error_code ignored;
  if (dir_ != "/tmp") std::filesystem::remove_all(dir_, ignored);
  restore("HBT_NAMESPACE", old_namespace_, had_namespace_);
  restore("HBT_REGISTRY_DIR", old_registry_, had_registry_);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace hbt::testsupport
