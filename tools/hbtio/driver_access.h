// hbtio's way into the driver through NIOLIB: messages that NIOLIB reports are kept and
// shown on standard error only when an operation fails (or always with HBTIO_VERBOSE=1).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "image/niolib.h"

namespace hbt::hbtio {

class CollectingSink final : public image::MessageSink {
 public:
  void message(std::uint16_t colour, std::string_view text) override;
  void print_to_stderr() const;

 private:
  std::vector<std::string> texts_;
};

struct DriverAccess {
  // create: whether the pointer block may be created (which starts the poller through
  // "DriverExe"); otherwise only a running driver is reached.
  explicit DriverAccess(bool create);

  CollectingSink messages;
  std::unique_ptr<image::Niolib> niolib;
  image::PointerBlock* block = nullptr;  // null when the driver is not there
};

}  // namespace hbt::hbtio
