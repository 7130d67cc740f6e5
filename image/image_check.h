// Acceptance of a loaded image: the checks every program relies on before it navigates
// the image by the offsets and indices stored in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace hbt::image {

enum class ImageVerdict {
  kAccepted,
  kCorrupted,        // "init_dit() Corrupted file"
  kBadObjectCounts,  // "init_dit() bad object counts"
  kBadLock,          // "init_dit() Bad Lock"
};

// Examines `size` bytes of a region holding a configuration file (prefix included). Beyond
// the version, count and lock checks it makes sure that every table, record and data area
// lies inside the region and that every stored index is in range, so that later readers need
// not distrust the stored offsets. *detail names the first problem found.
ImageVerdict check_image(const std::uint8_t* base, std::size_t size, std::string* detail);

const char* verdict_message(ImageVerdict verdict);

}  // namespace hbt::image
