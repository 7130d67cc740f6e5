// The line-based control language of mcsim (standard input, the --control socket and
// --script files): one line in, one reply line out ("ok ..." or "error ...").
#pragma once

#include <string>
#include <string_view>

#include "tools/mcsim/simulator.h"

namespace hbt::mcsim {

class Controller {
 public:
  explicit Controller(Simulator* sim) : sim_(sim) {}

  // Carries out one line at the given time (milliseconds on the server's clock). Blank
  // lines and lines starting with '#' give an empty reply; everything else one line
  // without its newline.
  std::string execute(std::string_view line, double now_ms);

  // Summary of the commands, one line, for "help".
  static const char* summary();

 private:
  Simulator* sim_;
};

}  // namespace hbt::mcsim
