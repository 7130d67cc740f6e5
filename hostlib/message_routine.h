// The host library's message routine: every message, its own and those of NIOLIB, goes into
// the driver's message ring with the prefix "NIO-", or nowhere while the ring is not there.
#pragma once

#include <atomic>

#include "image/layout.h"
#include "image/message_sink.h"

namespace hbt::hostlib {

class MessageRoutine final : public image::MessageSink {
 public:
  // Called by any thread; the block may be set later, once it has been opened.
  void set_pointer_block(image::PointerBlock* block) { block_.store(block, std::memory_order_release); }
  void message(std::uint16_t colour, std::string_view text) override;

 private:
  std::atomic<image::PointerBlock*> block_{nullptr};
};

}  // namespace hbt::hostlib
