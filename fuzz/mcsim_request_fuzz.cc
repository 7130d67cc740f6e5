// The simulator's request parser over any bytes, as a TCP stream and as one datagram, in
// each of its four frame formats: never a crash, never a read outside the request, and every answered request gets a reply of the frame's kind.
#include <string>

#include "fuzz/fuzz_target.h"
#include "tools/mcsim/frames.h"

namespace hbt::mcsim {
namespace {

using fuzz::fail;

constexpr const char* kName = "mcsim_request";

constexpr FrameFormat kFormats[] = {
    {FrameType::k3E, Coding::kBinary}, {FrameType::k3E, Coding::kAscii},
    {FrameType::k1E, Coding::kBinary}, {FrameType::k1E, Coding::kAscii}};

Plc& plc() {
  static Plc p("main");
  return p;
}

void check_reply(FrameFormat format, const Outcome& out) {
  if (!out.answered) return;
  if (out.reply.empty()) fail(kName, "answered with an empty reply");
  if (format.type == FrameType::k3E && format.coding == Coding::kBinary &&
      (out.reply.size() < 11 || out.reply[0] != 0xD0 || out.reply[1] != 0x00))
    fail(kName, "3E binary reply without its header");
  if (format.type == FrameType::k3E && format.coding == Coding::kAscii &&
      (out.reply.size() < 22 || out.reply[0] != 'D' || out.reply[1] != '0'))
    fail(kName, "3E ASCII reply without its header");
  if (format.type == FrameType::k1E && out.reply.size() < (format.coding == Coding::kBinary ? 2u : 4u))
    fail(kName, "1E reply shorter than its header");
}

void run(std::span<const std::uint8_t> data) {
  if (data.empty()) return;
  const FrameFormat format = kFormats[data[0] % 4];
  const std::vector<std::uint8_t> bytes(data.begin() + 1, data.end());
  // A datagram: the whole input is one request.
  check_reply(format, handle_request(format, bytes, plc()));
  // A stream: requests cut by their own lengths.
  std::size_t used = 0;
  while (used < bytes.size()) {
    const std::span<const std::uint8_t> rest(bytes.data() + used, bytes.size() - used);
    const std::size_t size = request_size(format, rest);
    if (size == kNeedMore) break;
    if (size == kUnframeable) {
      (void)unframeable_reply(format, rest);
      break;
    }
    if (size > rest.size()) break;  // the rest of it has not arrived
    // Exactly the request's bytes on the heap, so that a read past it is caught.
    const std::vector<std::uint8_t> request(rest.begin(), rest.begin() + static_cast<long>(size));
    check_reply(format, handle_request(format, request, plc()));
    used += size;
  }
}

// Requests of each frame format, as the frame tests write them.
std::vector<fuzz::Bytes> seeds() {
  std::vector<fuzz::Bytes> out;
  auto add = [&](std::uint8_t format, fuzz::Bytes request) {
    request.insert(request.begin(), format);
    out.push_back(request);
  };
  // 3E binary: read D100 x5 words; write D100 = 1, 2; read X0 x16 bits.
  add(0, {0x50, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x0C, 0x00, 0x10, 0x00, 0x01, 0x04, 0x00, 0x00, 0x64, 0x00,
          0x00, 0xA8, 0x05, 0x00});
  add(0, {0x50, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x10, 0x00, 0x10, 0x00, 0x01, 0x14, 0x00, 0x00, 0x64, 0x00,
          0x00, 0xA8, 0x02, 0x00, 0x01, 0x00, 0x02, 0x00});
  add(0, {0x50, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x0C, 0x00, 0x10, 0x00, 0x01, 0x04, 0x01, 0x00, 0x00, 0x00,
          0x00, 0x9C, 0x10, 0x00});
  add(1, fuzz::text_bytes("500000FF03FF000018001004010000D*0001000005"));
  add(1, fuzz::text_bytes("500000FF03FF00001C001014010000D*00010000010001"));
  // 1E binary: read D100 x5 words; write bits M0 x2; read extension register block 2.
  add(2, {0x01, 0xFF, 0x0A, 0x00, 0x64, 0x00, 0x00, 0x00, 0x20, 0x44, 0x05, 0x00});
  add(2, {0x02, 0xFF, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x4D, 0x02, 0x00, 0x10});
  add(2, {0x17, 0xFF, 0x0A, 0x00, 0x2C, 0x01, 0x00, 0x00, 0x20, 0x52, 0x02, 0x00, 0x03, 0x00});
  add(3, fuzz::text_bytes("01FF000A4420000000640500"));
  add(3, fuzz::text_bytes("03FF000A44200000006401001234"));
  // Two requests back to back, as a stream carries them.
  fuzz::Bytes two = out[5];
  two.insert(two.end(), out[5].begin() + 1, out[5].end());
  out.push_back(two);
  return out;
}

}  // namespace
}  // namespace hbt::mcsim

HBT_FUZZ_TARGET(mcsim_request, hbt::mcsim::run, hbt::mcsim::seeds)
