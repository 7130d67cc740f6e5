// The request side of an MC protocol Ethernet module: how long a request is, and the
// reply a MELSEC module gives to it. Pure functions over bytes; no sockets here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/mcsim/device_memory.h"
#include "tools/mcsim/wire.h"

namespace hbt::mcsim {

enum class FrameType { k3E, k1E };

struct FrameFormat {
  FrameType type = FrameType::k3E;
  Coding coding = Coding::kBinary;
  bool operator==(const FrameFormat&) const = default;
};

// "3e-binary", "3e-ascii", "1e-binary", "1e-ascii".
std::optional<FrameFormat> parse_frame_format(std::string_view text);
std::string frame_format_name(FrameFormat f);

// Results of request_size() besides a byte count.
inline constexpr std::size_t kNeedMore = 0;
inline constexpr std::size_t kUnframeable = std::numeric_limits<std::size_t>::max();

// Largest request data a 3E request may announce; longer ones cannot be from a client
// that follows the protocol, and waiting for them would stall the stream.
inline constexpr std::size_t kMax3EDataLength = 8192;

// Size of the request at the front of a byte stream: 3E by its request data length, 1E by
// its command's fixed part plus the data its point count implies. kNeedMore while the
// size is not known yet; kUnframeable when the front is no request of this format.
std::size_t request_size(FrameFormat format, std::span<const std::uint8_t> in);

// A forced answer (fault injection): reply with this end/completion code instead of
// carrying the request out.
struct ReplyOverride {
  bool active = false;
  std::uint16_t code = 0;
  std::uint8_t extended = 0;  // 1E completion code 0x5B carries it
};

struct Outcome {
  bool answered = false;   // false: nothing can be answered (no recognisable header)
  std::uint16_t code = 0;  // end code (3E) or completion code (1E) of the reply; 0 = normal
  bool wrote = false;      // device memory was changed
  std::vector<std::uint8_t> reply;
};

// Carries out one request (a whole TCP frame, or a datagram of any length) against the
// PLC and builds the reply. Never reads outside `request`.
Outcome handle_request(FrameFormat format, std::span<const std::uint8_t> request, Plc& plc,
                       const ReplyOverride& forced = {});

// Reply to bytes that request_size() called unframeable, when the format allows one
// (1E answers an unknown command with completion code 0x50); empty otherwise.
std::vector<std::uint8_t> unframeable_reply(FrameFormat format,
                                            std::span<const std::uint8_t> in);

// Makes a reply carry a command code the client did not send (fault injection): 1E
// replies get another command's reply code, 3E replies another subheader.
void corrupt_command(FrameFormat format, std::vector<std::uint8_t>* reply);

// Implementations per frame type.
std::size_t request_size_3e(Coding coding, std::span<const std::uint8_t> in);
std::size_t request_size_1e(Coding coding, std::span<const std::uint8_t> in);
Outcome handle_3e(Coding coding, std::span<const std::uint8_t> request, Plc& plc,
                  const ReplyOverride& forced);
Outcome handle_1e(Coding coding, std::span<const std::uint8_t> request, Plc& plc,
                  const ReplyOverride& forced);
std::vector<std::uint8_t> unframeable_reply_1e(Coding coding, std::span<const std::uint8_t> in);

// 3E end codes and 1E completion codes this module answers with.
namespace end_code {
inline constexpr std::uint16_t kAsciiConversion = 0xC050;  // text not hexadecimal
inline constexpr std::uint16_t kPointCount = 0xC051;       // points outside the allowed range
inline constexpr std::uint16_t kOutOfRange = 0xC056;       // beyond the last device number
inline constexpr std::uint16_t kAsciiLength = 0xC058;      // ASCII data length mismatch
inline constexpr std::uint16_t kCommand = 0xC059;          // command or subcommand unknown
inline constexpr std::uint16_t kDevice = 0xC05B;           // device code unknown
inline constexpr std::uint16_t kBitOnWordDevice = 0xC05C;  // bit units on a word device
inline constexpr std::uint16_t kTarget = 0xC05F;           // station or module not there
inline constexpr std::uint16_t kBitData = 0xC060;          // bit data other than 0 and 1
inline constexpr std::uint16_t kLength = 0xC061;           // request data length mismatch
}  // namespace end_code

namespace completion {
inline constexpr std::uint8_t kCommand = 0x50;     // command code not supported
inline constexpr std::uint8_t kAscii = 0x54;       // text cannot be converted
inline constexpr std::uint8_t kDevice = 0x56;      // device code unknown
inline constexpr std::uint8_t kPoints = 0x57;      // point count or length wrong, end beyond range
inline constexpr std::uint8_t kHead = 0x58;        // head device outside range, or wrong kind
inline constexpr std::uint8_t kCpu = 0x5B;         // CPU cannot process; extended code follows
inline constexpr std::uint8_t kPcNumberError = 0x10;  // extended code: no such PC number
}  // namespace completion

}  // namespace hbt::mcsim
