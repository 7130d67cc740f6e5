// A private registry directory, shared-memory namespace and scratch folder for one test, so
// that tests (and the processes they start) run side by side without meeting.
#pragma once

#include <string>

namespace hbt::testsupport {

class TestEnvironment {
 public:
  TestEnvironment();   // sets HBT_NAMESPACE and HBT_REGISTRY_DIR for this process and its children
  ~TestEnvironment();  // removes the scratch folder and restores the variables
  TestEnvironment(const TestEnvironment&) = delete;
  TestEnvironment& operator=(const TestEnvironment&) = delete;

  const std::string& dir() const { return dir_; }         // scratch folder
  const std::string& name_space() const { return namespace_; }
  std::string path(const std::string& file) const { return dir_ + "/" + file; }

 private:
  std::string dir_;
  std::string namespace_;
  std::string old_namespace_, old_registry_;
  bool had_namespace_ = false, had_registry_ = false;
};

// Whole content of a file, or "" when it cannot be read.
std::string read_file(const std::string& path);
bool write_file(const std::string& path, const std::string& bytes);

}  // namespace hbt::testsupport
