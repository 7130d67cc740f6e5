#include "poller/message_routine.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "image/message_ring.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/error_text.h"

namespace hbt::poller {

MessageRoutine::MessageRoutine(platform::Console* console, std::string log_directory)
    : console_(console), log_directory_(std::move(log_directory)) {}

std::string MessageRoutine::log_file_path() const {
  return log_directory_ + "/" + image::kAcronym + "_LOG.TXT";
}

void MessageRoutine::message(std::uint16_t colour, std::string_view text) {
  std::size_t end = text.find_first_of("\r\n");
  if (end != std::string_view::npos) text = text.substr(0, end);
  if (!paused_ && console_) console_->write_line(colour, text);
  image::append_to_ring(block_, colour, text);
  if (block_ && block_->file_log != 0) append_to_log(text);
}

void MessageRoutine::append_to_log(std::string_view text) {
  platform::LocalTime now = platform::local_time_now();
  char line[300];
  int n = std::snprintf(line, sizeof line, "%d %02d:%02d:%02d |%.*s\r\n", now.day, now.hour, now.minute,
                        now.second, static_cast<int>(text.size()), text.data());
  if (n < 0) return;
  std::size_t length = std::min(static_cast<std::size_t>(n), sizeof line - 1);
  int fd = open(log_file_path().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    int error = errno;
    if (console_) console_->write_line(image::kColourNormal,
                                       "Failed to open event log file err=" + platform::system_error_text(error));
    return;
  }
  (void)!write(fd, line, length);
  close(fd);
}

}  // namespace hbt::poller
