#include "tools/hbtio/driver_access.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hbt::hbtio {

void CollectingSink::message(std::uint16_t, std::string_view text) {
  texts_.emplace_back(text);
  const char* verbose = std::getenv("HBTIO_VERBOSE");
  if (verbose && std::strcmp(verbose, "1") == 0) std::fprintf(stderr, "hbtio: %s\n", texts_.back().c_str());
}

void CollectingSink::print_to_stderr() const {
  for (const auto& t : texts_) std::fprintf(stderr, "hbtio: %s\n", t.c_str());
}

DriverAccess::DriverAccess(bool create) {
  image::NiolibOptions options;
  options.variant = image::NiolibVariant::kClient;
  options.create_pointer_block = create;
  niolib = std::make_unique<image::Niolib>(options, messages);
  block = niolib->open_pointer_block();
}

}  // namespace hbt::hbtio
