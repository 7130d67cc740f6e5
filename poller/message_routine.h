// The poller's message routine: coloured console lines, the shared message ring and, while
// the file log flag is set, the event log file HBT_LOG.TXT in the working directory.
#pragma once

#include <string>

#include "image/layout.h"
#include "image/message_sink.h"

namespace hbt::platform {
class Console;
}

namespace hbt::poller {

class MessageRoutine final : public image::MessageSink {
 public:
  // `console` may be null (no console output at all).
  explicit MessageRoutine(platform::Console* console, std::string log_directory = ".");

  void set_pointer_block(image::PointerBlock* block) { block_ = block; }
  void message(std::uint16_t colour, std::string_view text) override;

  bool paused() const { return paused_; }
  void set_paused(bool paused) { paused_ = paused; }

  // Path of the event log file ("./HBT_LOG.TXT").
  std::string log_file_path() const;

 private:
  void append_to_log(std::string_view text);

  platform::Console* console_;
  std::string log_directory_;
  image::PointerBlock* block_ = nullptr;
  bool paused_ = false;
};

}  // namespace hbt::poller
