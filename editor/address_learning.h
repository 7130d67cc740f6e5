// Address learning: an address the host could not find ("DEVICE:ADDRESS") becomes part of
// the configuration, by widening a poll record that nearly covers it or by a new one.
#pragma once

#include <string_view>

#include "editor/document.h"

namespace hbt::editor {

struct LearnResult {
  enum Kind { Ignored, Inside, ExtendedDown, ExtendedUp, Appended } kind = Ignored;
  CIORec* record = nullptr;  // the poll record that covers the address now
};

// Merged poll records stay within this many registers.
inline constexpr std::uint32_t kLearnSpan = 256;

LearnResult learn_address(CDidDoc& doc, std::string_view text);

}  // namespace hbt::editor
