// The Debian packages the package tests share, built once per run from this build: the
// package as `make package` makes it with CPack (checked by lintian when it is installed), and
// the same repacked with the next Debian revision, to upgrade to.
#pragma once

#include <string>

namespace hbt::packaging {

struct BuiltPackages {
  std::string folder;       // holds first/ and second/; removed at exit
  std::string first;        // path of hbt_VERSION-1_ARCH.deb
  std::string second;       // the same package with Debian revision 2
  std::string first_log;    // what cpack (and lintian) said building the first
  std::string problem;      // empty when both were built
  double first_seconds = 0;
};

const BuiltPackages& built_packages();

// The file name of a path.
std::string base_name(const std::string& path);

}  // namespace hbt::packaging
