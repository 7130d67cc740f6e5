#include "platform/console.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

namespace hbt::platform {

static_assert(sizeof(termios) <= 64, "saved terminal settings buffer too small");

namespace {

// Windows attribute colour bits (blue 1, green 2, red 4) to ANSI colour numbers (red 1, ...).
int ansi_colour(int bits) { return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2); }

}  // namespace

std::string ansi_for_attribute(std::uint16_t attribute) {
  if (attribute == 0x07) return "\033[0m";
  int fg = attribute & 0x0F;
  int bg = (attribute >> 4) & 0x0F;
  std::string out = "\033[0;";
  out += std::to_string((fg & 8 ? 90 : 30) + ansi_colour(fg & 7));
  out += ';';
  out += std::to_string((bg & 8 ? 100 : 40) + ansi_colour(bg & 7));
  out += 'm';
  return out;
}

Console::Console() {
  colour_ = isatty(STDOUT_FILENO) == 1;
  keys_ = isatty(STDIN_FILENO) == 1;
  if (keys_) {
    termios settings{};
    if (tcgetattr(STDIN_FILENO, &settings) == 0) {
      std::memcpy(saved_, &settings, sizeof settings);
      restore_ = true;
      settings.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
      settings.c_cc[VMIN] = 0;
      settings.c_cc[VTIME] = 0;
      tcsetattr(STDIN_FILENO, TCSANOW, &settings);
    } else {
      keys_ = false;
    }
  }
}

Console::~Console() {
  if (restore_) {
    termios settings{};
    std::memcpy(&settings, saved_, sizeof settings);
    tcsetattr(STDIN_FILENO, TCSANOW, &settings);
  }
}

void Console::write_line(std::uint16_t attribute, std::string_view text) {
  std::string line;
  line.reserve(text.size() + 24);
  if (colour_) line += ansi_for_attribute(attribute);
  line.append(text);
  if (colour_) line += "\033[0m";
  line += '\n';
  std::size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(STDOUT_FILENO, line.data() + done, line.size() - done);
    if (n <= 0) break;  // a closed console must not stop the program
    done += static_cast<std::size_t>(n);
  }
}

std::optional<char> Console::read_key() {
  if (!keys_) return std::nullopt;
  pollfd p{STDIN_FILENO, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) return std::nullopt;
  char c;
  if (::read(STDIN_FILENO, &c, 1) != 1) {
    keys_ = false;  // end of input: stop asking
    return std::nullopt;
  }
  return c;
}

}  // namespace hbt::platform
