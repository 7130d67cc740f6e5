// The commands of hbtopc. Each prints its result (text or one JSON object per line) and
// returns the exit status: 0 success, 1 failure.
#pragma once

#include <string>
#include <vector>

namespace hbt::hbtopc {

struct Options {
  bool json = false;
  std::string server = "Velmora.Brenlow";  // ProgID or {CLSID}
};

int cmd_servers(const Options& options);
int cmd_status(const Options& options);
int cmd_validate(const Options& options, const std::vector<std::string>& items);
int cmd_groups(const Options& options, const std::vector<std::string>& names);

}  // namespace hbt::hbtopc
