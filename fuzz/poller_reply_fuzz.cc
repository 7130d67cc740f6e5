// The poller's reply path, from received bytes through TCP stream framing, the reply checks
// and the conversion into a poll record, over a real image with channels of every kind
// (3E binary, 1E binary and 1E ASCII; UDP and TCP). The input chooses each outstanding
// request (channel, record, read or write) and then the pieces that arrive for it, with
// ticks passing in between, so that late, split, joined and mangled replies all occur.
//
// Invariants after every request:
// - only the bytes a reply may change have changed: the outstanding record's status, data
//   area 1, poll control entry and exception changed flags, the channel's statistics and the
//   device's last end code;
// - the record has good status only when the reply that ended the request fits it: the
//   length and header a correct reply to that very request has.
#include <cctype>
#include <cstring>
#include <memory>
#include <optional>

#include "fuzz/fuzz_target.h"
#include "poller/byte_order.h"
#include "poller/fake_sockets.h"
#include "poller/frames.h"
#include "poller/poll_context.h"
#include "poller/poll_tick.h"
#include "poller/poller.h"
#include "poller/poller_fixture.h"
#include "poller/polling.h"
#include "poller/record_view.h"
#include "poller/request.h"
#include "poller/transport.h"
#include "testsupport/driver_setup.h"
#include "testsupport/recording_sink.h"

namespace hbt::poller {
namespace {

using fuzz::fail;
using image::CpuType;
using image::DataType;
using image::ExceptionType;
using image::RegisterType;
using testsupport::RecordSpec;

constexpr const char* kName = "poller_reply";

struct ChannelKind {
  CpuType cpu;
  image::Coding coding;
  bool tcp;
};
constexpr ChannelKind kChannels[] = {
    {CpuType::QSeries, image::Coding::Binary, false}, {CpuType::QSeries, image::Coding::Binary, true},
    {CpuType::AnA, image::Coding::Binary, true},      {CpuType::AnA, image::Coding::Ascii, true},
    {CpuType::AnU, image::Coding::Binary, false},     {CpuType::AnA, image::Coding::Ascii, false},
};
constexpr int kChannelCount = static_cast<int>(std::size(kChannels));

std::vector<RecordSpec> records_of(std::uint32_t base) {
  std::vector<RecordSpec> r = {
      RecordSpec{RegisterType::D, base, 6, DataType::Unsigned, ExceptionType::Analog},
      RecordSpec{RegisterType::D, base + 10, 4, DataType::Float, ExceptionType::Analog},
      RecordSpec{RegisterType::W, base, 3, DataType::Ascii, ExceptionType::Ascii},
      RecordSpec{RegisterType::X, 0, 32, DataType::Digital, ExceptionType::Digital},
      RecordSpec{RegisterType::M, 9000, 20, DataType::Digital, ExceptionType::Digital},
      RecordSpec{RegisterType::R, base, 4, DataType::LongSigned, ExceptionType::Analog},
      RecordSpec{RegisterType::D, base + 40, 5, DataType::Digital, ExceptionType::Digital},
      RecordSpec{RegisterType::D, base + 100, 1, DataType::Signed, ExceptionType::Analog},
      RecordSpec{RegisterType::M, 16, 7, DataType::Digital},
  };
  RecordSpec ex{RegisterType::R, base, 3, DataType::Unsigned};
  ex.ex_number = 2;
  r.push_back(ex);
  for (auto& x : r) x.poll_time = image::kPollTimeDisabled;
  return r;
}

// Built once: the image, the poller over it, and the image bytes as loaded.
struct World {
  testsupport::TestEnvironment env;
  MessageRoutine routine{nullptr};
  std::unique_ptr<Poller> poller;
  std::vector<std::uint8_t> pristine;
  int records_per_channel = 0;

  World() {
    testsupport::ConfigSpec plan;
    plan.channels.resize(kChannelCount);
    for (int c = 0; c < kChannelCount; ++c) {
      auto& ch = plan.channels[c];
      ch.ip_port = 6000 + c;
      ch.tcp = kChannels[c].tcp;
      ch.retries = 0;
      ch.reply_timeout = 5;
      ch.delay = 0;
      ch.devices[0].name = "PLC" + std::to_string(c);
      ch.devices[0].cpu = kChannels[c].cpu;
      ch.devices[0].coding = kChannels[c].coding;
      ch.devices[0].records = records_of(100 * c);
      records_per_channel = static_cast<int>(ch.devices[0].records.size());
    }
    testsupport::install_configuration(env, plan);
    poller = std::make_unique<Poller>(routine);
    if (poller->niolib.nio_map_hdr() == nullptr) fail(kName, "the test image does not load");
    image::Niolib& nio = poller->niolib;
    // Registered points, so that exception flagging runs.
    for (int k = 0; k < nio.poll_record_count(); ++k) {
      auto view = view_record(nio, k);
      for (std::size_t e = 0; e < view->exceptions.size(); e += 2)
        reinterpret_cast<std::uint8_t*>(view->head)[view->head->areas[4].offset + 4 * e + 1] = 1;
    }
    pristine.assign(nio.image_base(), nio.image_base() + nio.image_size());
    start_polling(*poller);
  }
};

World& world() {
  static World w;
  return w;
}

// Reads the input front to back; past its end everything reads as zero.
struct Input {
  std::span<const std::uint8_t> bytes;
  std::size_t at = 0;
  bool empty() const { return at >= bytes.size(); }
  std::uint8_t byte() { return at < bytes.size() ? bytes[at++] : 0; }
  std::vector<std::uint8_t> take(std::size_t n) {
    n = std::min(n, bytes.size() - std::min(at, bytes.size()));
    std::vector<std::uint8_t> out(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + n));
    at += n;
    return out;
  }
};

std::string hex(std::span<const std::uint8_t> bytes) {
  std::string out;
  char two[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02X ", b);
    out += two;
  }
  return out;
}

struct Range {
  std::size_t from, to;
};

int hex_digit(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Whether `reply` is a normal reply to the request in the block: the data length follows
// from the request's own command and point count, read here from the frame layouts and not
// from the poller's bookkeeping. A 3E reply names its own length, so a datagram may carry
// more after it (two replies sent as one); a 1E reply is the whole datagram or frame.
bool fits(const ChannelBlock& b, std::span<const std::uint8_t> reply, bool datagram) {
  const std::uint8_t* q = b.request;
  if (is_q_series(b)) {
    // 50 00 net pc io(2) station length(2) timer(2) command(2) subcommand(2) head(3) code points(2)
    if (b.request_length < 21 || reply.size() < 11) return false;
    if (reply[0] != 0xD0 || reply[1] != 0x00 || reply[3] != q[3] || reply[4] != q[4] || reply[5] != q[5]) return false;
    if (reply[9] != 0 || reply[10] != 0) return false;
    const bool read = q[11] == 0x01 && q[12] == 0x04;
    const std::size_t points = static_cast<std::size_t>(q[19] | q[20] << 8);
    const std::size_t data = !read ? 0 : q[13] == 0 ? 2 * points : (points + 1) / 2;
    const bool size_fits = datagram ? reply.size() >= 11 + data : reply.size() == 11 + data;
    return size_fits && static_cast<std::size_t>(reply[7] | reply[8] << 8) == 2 + data;
  }
  const bool ascii = is_ascii(b);
  // The request in bytes: ASCII pairs of hexadecimal characters decoded.
  std::vector<std::uint8_t> r;
  if (ascii) {
    for (std::size_t i = 0; i + 1 < b.request_length; i += 2) {
      const int hi = hex_digit(q[i]), lo = hex_digit(q[i + 1]);
      if (hi < 0 || lo < 0) break;
      r.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
  } else {
    r.assign(q, q + b.request_length);
  }
  // command pc timer(2) then binary: head(4) code(2) [ex 00]; ASCII: [ex 00] code(2) head(4); then count.
  if (r.size() < 11) return false;
  const std::uint8_t command = r[0];
  const bool ex = command == 0x17 || command == 0x18;
  const std::size_t at = ex ? 12 : 10;
  if (r.size() < at + 1) return false;
  std::size_t points = r[at];
  if (points == 0) points = 256;
  std::size_t data = 0;
  if (command == 0x00) data = (points + 1) / 2;
  if (command == 0x01 || command == 0x17) data = 2 * points;
  const std::size_t head = ascii ? 4 : 2;
  if (reply.size() != head + (ascii ? 2 * data : data)) return false;
  if (ascii) {
    return hex_digit(reply[0]) >= 0 && hex_digit(reply[1]) >= 0 &&
           ((hex_digit(reply[0]) * 16 + hex_digit(reply[1])) & 0x7F) == command && reply[2] == '0' && reply[3] == '0';
  }
  return (reply[0] & 0x7F) == command && reply[1] == 0;
}

void run(std::span<const std::uint8_t> data) {
  World& w = world();
  Poller& poller = *w.poller;
  image::Niolib& nio = poller.niolib;
  stop_polling(poller);
  std::memcpy(nio.image_base(), w.pristine.data(), w.pristine.size());
  start_polling(poller);
  testing::FakeSockets sockets;
  testsupport::RecordingSink sink;
  PollContext ctx{nio, sink, sockets};
  std::uint8_t* const base = nio.image_base();
  const std::size_t image_size = nio.image_size();
  std::vector<std::uint8_t> before(image_size);

  Input in{data};
  for (int step = 0; step < 16 && !in.empty(); ++step) {
    const std::uint8_t choice = in.byte();
    const int c = choice % kChannelCount;
    const bool is_write = (choice & 0x80) != 0;
    const int k = c * w.records_per_channel + in.byte() % w.records_per_channel;
    ChannelBlock* block = poller.blocks[c].get();
    if (block == nullptr) fail(kName, "channel without a block");
    sockets.tcp_stream = kChannels[c].tcp;
    image::PollRecordHead* head = nio.nio_map_dit(k);
    head->status = image::kStatusNotPolled;
    std::memcpy(before.data(), base, image_size);

    if (!prepare_request(nio, *block, c, k, is_write)) fail(kName, "record not in the image");
    image::ChannelRecord& channel = *nio.nio_map_chan(c);
    TransportEnv env = ctx.transport(channel);
    if (is_write) {
      const std::uint16_t words[2] = {static_cast<std::uint16_t>(in.byte() * 257), 7};
      const std::uint8_t bits[3] = {1, 0, 1};
      WriteData write;
      write.head = block_start(*block);
      write.bit_units = !image::is_word_device(block_register_type(*block));
      if (write.bit_units) {
        write.bits = bits;
      } else {
        write.words = words;
      }
      if (!build_write_request(*block, write)) fail(kName, "write request does not fit");
      send_write_request(*block, env);
    } else {
      build_read_request(*block);
      send_read_request(*block, env);
    }
    sockets.sent.clear();

    // Pieces: a control byte (bits 0-1 ticks passing before the receive, bit 2 end of this
    // request, bit 3 nothing readable this tick) and a length byte, then the bytes.
    TickOutcome outcome;
    std::vector<std::uint8_t> ended_by;
    for (int piece = 0; piece < 64 && !in.empty() && outcome.event == ChannelEvent::kNone; ++piece) {
      const std::uint8_t control = in.byte();
      if (control & 0x04) break;
      const std::size_t length = in.byte();
      std::vector<std::uint8_t> bytes = in.take(length);
      if (block->socket >= 0) sockets.deliver_to(block->socket, bytes);
      outcome = handle_channel_tick(*block, env, control & 0x03, (control & 0x08) == 0);
      if (outcome.event == ChannelEvent::kReplyGood) ended_by.assign(outcome.reply.begin(), outcome.reply.end());
      complete_request(ctx, *block, outcome);
    }
    if (outcome.event == ChannelEvent::kNone) {
      // No answer: the countdown runs out, or a whole reply still waiting in the stream
      // buffer is taken.
      for (int t = 0; t < 10 && block->waiting; ++t) {
        outcome = handle_channel_tick(*block, env, 1, false);
        if (outcome.event == ChannelEvent::kReplyGood) ended_by.assign(outcome.reply.begin(), outcome.reply.end());
        complete_request(ctx, *block, outcome);
      }
    }

    // What may have changed.
    auto view = view_record(nio, k);
    std::vector<Range> allowed;
    auto allow = [&](const void* p, std::size_t n) {
      const std::size_t at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(p) - base);
      allowed.push_back({at, at + n});
    };
    allow(&view->head->status, 2);
    allow(view->values.data(), view->values.size());
    allow(view->entry, sizeof(image::PollControlEntry));
    for (std::size_t e = 0; e < view->exceptions.size(); ++e)
      allow(reinterpret_cast<std::uint8_t*>(view->head) + view->head->areas[4].offset + 4 * e, 1);
    allow(&channel, sizeof(image::StatisticsBlock));
    allow(&nio.nio_map_dev(block->device_index)->last_end_code, 2);
    for (std::size_t i = 0; i < image_size; ++i) {
      if (base[i] == before[i]) continue;
      bool ok = false;
      for (const Range& r : allowed) ok = ok || (i >= r.from && i < r.to);
      if (!ok) fail(kName, "image byte " + std::to_string(i) + " changed by a reply to record " + std::to_string(k));
    }
    if (head->status == image::kStatusGood) {
      if (outcome.event != ChannelEvent::kReplyGood) fail(kName, "good status without a good reply");
      // The reply is the one the outcome names: a frame cut from the TCP stream, or the
      // datagram itself, whichever slot it was received into.
      if (!fits(*block, ended_by, !kChannels[c].tcp))
        fail(kName, "record " + std::to_string(k) + " good from a reply of " + std::to_string(ended_by.size()) +
                        " bytes that does not fit its request: request " + hex({block->request, block->request_length}) +
                        "reply " + hex(ended_by));
    }
  }
}

// Good replies to every record's read and write, whole and in pieces, then a late one.
std::vector<fuzz::Bytes> seeds() {
  World& w = world();
  Poller& poller = *w.poller;
  image::Niolib& nio = poller.niolib;
  std::vector<fuzz::Bytes> out;
  for (int c = 0; c < kChannelCount; ++c) {
    for (int r = 0; r < w.records_per_channel; ++r) {
      for (bool is_write : {false, true}) {
        ChannelBlock& block = *poller.blocks[c];
        const int k = c * w.records_per_channel + r;
        if (!prepare_request(nio, block, c, k, is_write)) continue;
        block.is_write = is_write;
        std::vector<std::uint8_t> reply = testing::PollerFixture::good_reply(block, static_cast<std::uint16_t>(k));
        fuzz::Bytes whole = {static_cast<std::uint8_t>(c | (is_write ? 0x80 : 0)), static_cast<std::uint8_t>(r)};
        if (is_write) whole.push_back(0x12);
        fuzz::Bytes split = whole;
        for (std::size_t at = 0; at < reply.size(); at += 255) {
          const std::size_t n = std::min<std::size_t>(255, reply.size() - at);
          whole.push_back(0);
          whole.push_back(static_cast<std::uint8_t>(n));
          whole.insert(whole.end(), reply.begin() + static_cast<long>(at), reply.begin() + static_cast<long>(at + n));
        }
        for (std::size_t at = 0; at < reply.size(); at += 5) {
          const std::size_t n = std::min<std::size_t>(5, reply.size() - at);
          split.push_back(1);
          split.push_back(static_cast<std::uint8_t>(n));
          split.insert(split.end(), reply.begin() + static_cast<long>(at), reply.begin() + static_cast<long>(at + n));
        }
        out.push_back(whole);
        out.push_back(split);
        // The same reply arriving only after the next request went out.
        fuzz::Bytes late = {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(r), 0x04,
                            static_cast<std::uint8_t>(c), static_cast<std::uint8_t>((r + 1) % w.records_per_channel)};
        late.insert(late.end(), whole.begin() + (is_write ? 3 : 2), whole.end());
        out.push_back(late);
      }
    }
  }
  return out;
}

}  // namespace
}  // namespace hbt::poller

HBT_FUZZ_TARGET(poller_reply, hbt::poller::run, hbt::poller::seeds)
