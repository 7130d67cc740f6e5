// Dispatch of MC protocol requests to the 3E and 1E frame code.
#include "tools/mcsim/frames.h"

namespace hbt::mcsim {

std::optional<FrameFormat> parse_frame_format(std::string_view text) {
  if (text == "3e-binary") return FrameFormat{FrameType::k3E, Coding::kBinary};
  if (text == "3e-ascii") return FrameFormat{FrameType::k3E, Coding::kAscii};
  if (text == "1e-binary") return FrameFormat{FrameType::k1E, Coding::kBinary};
  if (text == "1e-ascii") return FrameFormat{FrameType::k1E, Coding::kAscii};
  return std::nullopt;
}

std::string frame_format_name(FrameFormat f) {
  std::string s = f.type == FrameType::k3E ? "3e-" : "1e-";
  return s + (f.coding == Coding::kBinary ? "binary" : "ascii");
}

std::size_t request_size(FrameFormat format, std::span<const std::uint8_t> in) {
  return format.type == FrameType::k3E ? request_size_3e(format.coding, in)
                                       : request_size_1e(format.coding, in);
}

Outcome handle_request(FrameFormat format, std::span<const std::uint8_t> request, Plc& plc,
                       const ReplyOverride& forced) {
  return format.type == FrameType::k3E ? handle_3e(format.coding, request, plc, forced)
                                       : handle_1e(format.coding, request, plc, forced);
}

std::vector<std::uint8_t> unframeable_reply(FrameFormat format,
                                            std::span<const std::uint8_t> in) {
  if (format.type == FrameType::k1E) return unframeable_reply_1e(format.coding, in);
  return {};
}

void corrupt_command(FrameFormat format, std::vector<std::uint8_t>* reply) {
  auto& r = *reply;
  if (format.coding == Coding::kBinary) {
    if (r.empty()) return;
    // 1E: the reply code of a neighbouring command; 3E: a subheader that is not D0 00.
    r[0] = format.type == FrameType::k1E ? static_cast<std::uint8_t>(r[0] ^ 0x01) : 0xD4;
    return;
  }
  if (format.type == FrameType::k1E) {
    if (r.size() < 2) return;
    int low = hex_value(r[1]) ^ 0x01;
    r[1] = static_cast<std::uint8_t>("0123456789ABCDEF"[low & 0xF]);
  } else if (!r.empty()) {
    r[1] = '4';  // "D400"
  }
}

}  // namespace hbt::mcsim
