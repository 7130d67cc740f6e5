#include "fuzz/fuzz_target.h"

namespace hbt::fuzz {

std::vector<Target>& targets() {
  static std::vector<Target> all;
  return all;
}

}  // namespace hbt::fuzz
