// The text console of a console program: coloured output and single keys without echo.
//
// Colours are the original's text attributes (low nibble foreground, high nibble
// background, bits blue 1, green 2, red 4, intensity 8). They become ANSI sequences when
// standard output is a terminal and nothing otherwise. Keys are read only when standard input
// is a terminal; it is switched to non-canonical, non-echoing mode while a Console exists.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hbt::platform {

// ANSI sequence that selects a text attribute ("\033[0m" for the normal 0x07).
std::string ansi_for_attribute(std::uint16_t attribute);

class Console {
 public:
  Console();
  ~Console();  // restores the terminal
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Writes one line: text in the attribute's colours, back to normal, end of line.
  void write_line(std::uint16_t attribute, std::string_view text);

  // The next key pressed, if any; never blocks.
  std::optional<char> read_key();

  bool output_is_terminal() const { return colour_; }

 private:
  bool colour_ = false;
  bool keys_ = false;
  bool restore_ = false;
  unsigned char saved_[64];  // the terminal settings to restore
};

}  // namespace hbt::platform
