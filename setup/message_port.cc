#include "setup/message_port.h"

#include <unistd.h>

namespace hbt::setup {

std::string format_message_box(std::string_view title, std::string_view text) {
  std::string out(title);
  out += ":";
  bool first = true;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty()) continue;
    out += first ? " " : "\n  ";
    out += line;
    first = false;
  }
  out += "\n";
  return out;
}

void StandardErrorMessages::show(std::string_view title, std::string_view text) {
  std::string box = format_message_box(title, text);
  // One write per box, so that boxes from several installers never interleave mid-line.
  std::string_view rest = box;
  while (!rest.empty()) {
    ssize_t n = write(STDERR_FILENO, rest.data(), rest.size());
    if (n <= 0) break;
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace hbt::setup
