// Installation media made the way `make dist` makes them, for whole-process tests of the
// installer.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "testsupport/child_process.h"

namespace hbt::setup {

// The steps of the `dist` target, into a folder of the test's own.
inline void make_media(const std::string& media) {
  // Only the media: the package's system files (units, documentation) have absolute paths.
  auto install = testsupport::run_program(
      {HBT_CMAKE, "--install", HBT_BUILD_DIR, "--prefix", media, "--component", "media", "--strip"}, 120000);
  ASSERT_EQ(install.exit_code, 0) << install.output;
  auto check = testsupport::run_program({HBT_MEDIA_TOOL, "check", media});
  ASSERT_EQ(check.exit_code, 0) << check.output;
}

}  // namespace hbt::setup
