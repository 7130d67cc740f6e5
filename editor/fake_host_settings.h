// Host settings for tests: what the registry would hold, in memory.
#pragma once

#include "editor/host_settings.h"

namespace hbt::editor {

class FakeHostSettings final : public HostSettings {
 public:
  std::optional<std::string> startup_file() override { return startup; }
  bool set_startup_file(std::string_view path) override {
    startup = std::string(path);
    return true;
  }
  std::optional<HostNames> host_names() override { return std::nullopt; }
  std::string error_file_folder() override { return ""; }
  char list_separator() override { return ','; }

  std::optional<std::string> startup;
};

}  // namespace hbt::editor
