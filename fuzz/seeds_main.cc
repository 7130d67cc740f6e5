// fuzz_seeds DIR: writes each target's seed corpus to DIR/TARGET/seed-N.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "fuzz/fuzz_target.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  mkdir(dir.c_str(), 0755);
  for (const auto& target : hbt::fuzz::targets()) {
    const std::string folder = dir + "/" + target.name;
    mkdir(folder.c_str(), 0755);
    int n = 0;
    for (const auto& seed : target.seeds()) {
      const std::string path = folder + "/seed-" + std::to_string(n++);
      std::FILE* f = std::fopen(path.c_str(), "wb");
      if (f == nullptr || std::fwrite(seed.data(), 1, seed.size(), f) != seed.size()) {
        std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", path.c_str());
        return 1;
      }
      std::fclose(f);
    }
    std::printf("%s: %d seeds\n", target.name, n);
  }
  return 0;
}
