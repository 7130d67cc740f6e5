// Installation media as the build makes them: the shipped HBT.inf with the files this build
// does not produce left out (and said so), and a check that the media hold every file the
// INF names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "setup/inf_file.h"

namespace hbt::setup {

inline constexpr const char* kLeftOutMark = "; not built in this tree: ";

// The INF text with every file-list line and [SourceDisksFiles] entry of the named files
// turned into a comment led by kLeftOutMark. Names the INF does not list are returned in
// *unknown.
std::string leave_out_files(const InfFile& inf, std::string_view text, const std::vector<std::string>& names,
                            std::vector<std::string>* unknown);

// Source paths of the files that the install sections ScadaNode, ViewNode and NtSystem32
// copy but the media folder lacks. False with a message when the INF cannot be queued.
bool missing_media_files(const InfFile& inf, const std::string& media_root, std::vector<std::string>* missing,
                         std::string* error);

// Names of the files an INF text says were left out (the kLeftOutMark comments).
std::vector<std::string> left_out_files(std::string_view text);

}  // namespace hbt::setup
