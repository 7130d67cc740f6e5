// The host library's texts: the register part of an I/O address, the signal-conditioning
// names and the hardware-options text. Never a crash; an accepted address names exactly the
// register type it is read as, and displays as a text that parses to the same register; a conditioning name found in the table is the name
// of the code it was found as; options shown for a conditioning parse back to the same
// option fields.
#include <string>

#include "fuzz/fuzz_target.h"
#include "hostlib/address_text.h"
#include "hostlib/signal_conditioning.h"

namespace hbt::hostlib {
namespace {

using fuzz::fail;

constexpr const char* kName = "host_text";

void address(std::uint8_t kind, const std::string& rest) {
  RegisterPart part;
  if (!parse_register_part(rest, kind, &part)) return;
  if (part.kind != 1 && part.kind != 2 && part.kind != 3 && part.kind != kind)
    fail(kName, "an address part took kind " + std::to_string(part.kind));
  if (rest.substr(0, rest.find_first_of(":;,./ ")) != image::kRegisterTypeNames[static_cast<int>(part.type)])
    fail(kName, "'" + rest + "' was read as register type " + image::kRegisterTypeNames[static_cast<int>(part.type)]);
  const std::string shown = display_address("PLC1", register_word(part), part.ex_number, part.kind);
  const std::size_t sep = shown.find(':');
  if (sep == std::string::npos) fail(kName, "displayed address without a separator: " + shown);
  RegisterPart again;
  if (!parse_register_part(shown.substr(sep + 1), part.kind, &again))
    fail(kName, "'" + rest + "' displays as '" + shown + "', which does not parse");
  if (register_word(again) != register_word(part) || again.ex_number != part.ex_number || again.kind != part.kind)
    fail(kName, "'" + rest + "' displays as '" + shown + "', which parses to another register");
}

void conditioning(const std::string& text) {
  const std::int16_t code = find_sig_cond(text.c_str());
  if (code == kSigUnknown) return;
  const std::int16_t again = find_sig_cond(sig_cond_name(code));
  if (again != code) fail(kName, "'" + text + "' found as a code whose name finds another code");
}

void options(std::uint8_t pick, const std::string& text) {
  const std::int16_t code = kSigCondTable[pick % kSigCondCount].code;
  std::int16_t low = 0;
  std::uint16_t range = 0;
  parse_options(code, text.c_str(), &low, &range);
  char shown[kOptionsField];
  format_options(code, low, range, shown, sizeof shown);
  if (shown[0] == '\0') return;  // a conditioning without options
  std::int16_t low2 = 0;
  std::uint16_t range2 = 0;
  parse_options(code, shown, &low2, &range2);
  if (low2 != low || range2 != range)
    fail(kName, "options '" + text + "' show as '" + shown + "', which parse to other fields");
}

void run(std::span<const std::uint8_t> data) {
  if (data.size() < 2) return;
  // No NUL inside: the texts come from C strings.
  std::string text(data.begin() + 2, data.end());
  text = text.substr(0, text.find('\0'));
  switch (data[0] % 3) {
    case 0: {
      const std::uint8_t kinds[] = {1, 2, 3, 5};
      address(kinds[data[1] % 4], text);
      break;
    }
    case 1:
      conditioning(text);
      break;
    case 2:
      options(data[1], text);
      break;
  }
}

// The address, conditioning and options texts of the host library's tests.
std::vector<fuzz::Bytes> seeds() {
  std::vector<fuzz::Bytes> out;
  auto add = [&](std::uint8_t what, std::uint8_t pick, std::string_view text) {
    fuzz::Bytes b = {what, pick};
    b.insert(b.end(), text.begin(), text.end());
    out.push_back(b);
  };
  for (const char* a : {"D:100", "D:100:3", "X:1F", "W:1A:5", "EX:2:300", "M:100", "TN:12", "CS;7", "R.42",
                        "W:1A", "B/FF", "Q:10", " D:100", "DATA:12", "D:16777215", "D:100:", "EX:256:1"})
    for (std::uint8_t kind = 0; kind < 4; ++kind) add(0, kind, a);
  for (int i = 0; i < kSigCondCount; ++i) add(1, 0, kSigCondTable[i].name);
  for (const char* o : {"0:4095", "-100:100", "4:0xFF", "10:20", "FF:1FFF", "1234567890:5", "3:", ":9", "<Ilo:IHi>"})
    for (int i = 0; i < kSigCondCount; ++i) add(2, static_cast<std::uint8_t>(i), o);
  return out;
}

}  // namespace
}  // namespace hbt::hostlib

HBT_FUZZ_TARGET(host_text, hbt::hostlib::run, hbt::hostlib::seeds)
