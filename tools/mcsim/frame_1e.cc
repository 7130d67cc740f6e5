// A-compatible 1E frames, binary and ASCII: batch read and write in bit and word units
// and extension file register read and write, with the device ranges an A-series CPU
// offers through them.
#include <array>

#include "tools/mcsim/frames.h"

namespace hbt::mcsim {
namespace {

constexpr std::uint8_t kReadBits = 0x00;
constexpr std::uint8_t kReadWords = 0x01;
constexpr std::uint8_t kWriteBits = 0x02;
constexpr std::uint8_t kWriteWords = 0x03;
constexpr std::uint8_t kReadExtension = 0x17;
constexpr std::uint8_t kWriteExtension = 0x18;
constexpr std::uint8_t kReplyFlag = 0x80;
constexpr std::uint16_t kExtensionCode = 0x5220;  // "R "

struct DeviceCode {
  RegisterType type;
  std::uint16_t code;    // two ASCII characters, first one in the high byte
  std::uint32_t limit;   // device numbers below this exist on an A-series CPU
};

// L has no code of its own: the A-series CPU keeps latch relays in the M range.
constexpr std::array<DeviceCode, 14> kDevices{{
    {RegisterType::X, 0x5820, 0x800},   {RegisterType::Y, 0x5920, 0x800},
    {RegisterType::B, 0x4220, 0x2000},  {RegisterType::M, 0x4D20, 8192},
    {RegisterType::F, 0x4620, 2048},    {RegisterType::TC, 0x5443, 2048},
    {RegisterType::TS, 0x5453, 2048},   {RegisterType::TN, 0x544E, 2048},
    {RegisterType::CC, 0x4343, 1024},   {RegisterType::CS, 0x4353, 1024},
    {RegisterType::CN, 0x434E, 1024},   {RegisterType::D, 0x4420, 8192},
    {RegisterType::W, 0x5720, 0x2000},  {RegisterType::R, 0x5220, 8192},
}};
constexpr std::uint32_t kExtensionBlockLimit = 8192;

const DeviceCode* find_device(std::uint32_t code) {
  for (const auto& d : kDevices) {
    if (d.code == code) return &d;
  }
  return nullptr;
}

bool known_command(std::uint32_t c) {
  return c == kReadBits || c == kReadWords || c == kWriteBits || c == kWriteWords ||
         c == kReadExtension || c == kWriteExtension;
}
bool is_extension(std::uint32_t c) { return c == kReadExtension || c == kWriteExtension; }
bool is_write(std::uint32_t c) { return c == kWriteBits || c == kWriteWords || c == kWriteExtension; }
bool is_bit_command(std::uint32_t c) { return c == kReadBits || c == kWriteBits; }

std::size_t unit(Coding c) { return c == Coding::kBinary ? 1 : 2; }
std::size_t fixed_size(Coding c, std::uint32_t command) {
  return (is_extension(command) ? 14 : 12) * unit(c);
}

// Points from the count byte and the byte after it: 0 means 256; a following 0x01 with
// a count of 0 is 256 written as a 16-bit number, which clients do.
bool decode_points(std::uint32_t count, std::uint32_t fixed, std::uint32_t* points) {
  if (fixed != 0 && !(fixed == 1 && count == 0)) return false;
  *points = count == 0 ? 256 : count;
  return true;
}

std::size_t data_size(Coding c, std::uint32_t command, std::uint32_t points) {
  if (command == kWriteBits) return c == Coding::kBinary ? (points + 1) / 2 : points;
  if (command == kWriteWords || command == kWriteExtension) return 2 * points * unit(c);
  return 0;
}

struct Request {
  std::uint32_t command = 0, pc = 0, timer = 0, head = 0, code = 0, block = 0;
  std::uint32_t count = 0, fixed = 0;
};

// The fixed part. Binary: head(4) code(2) [block(2)] count fixed; ASCII lists the same
// address fields high part first: [block] code head, then count and fixed.
FieldReader::Status parse_fixed(Coding coding, std::span<const std::uint8_t> in, Request* q) {
  FieldReader r(in, coding);
  auto s = r.field(1, &q->command);
  if (s == FieldReader::Status::kOk) s = r.field(1, &q->pc);
  if (s == FieldReader::Status::kOk) s = r.field(2, &q->timer);
  const bool ext = is_extension(q->command);
  if (coding == Coding::kBinary) {
    if (s == FieldReader::Status::kOk) s = r.field(4, &q->head);
    if (s == FieldReader::Status::kOk) s = r.field(2, &q->code);
    if (s == FieldReader::Status::kOk && ext) s = r.field(2, &q->block);
  } else {
    if (s == FieldReader::Status::kOk && ext) s = r.field(2, &q->block);
    if (s == FieldReader::Status::kOk) s = r.field(2, &q->code);
    if (s == FieldReader::Status::kOk) s = r.field(4, &q->head);
  }
  if (s == FieldReader::Status::kOk) s = r.field(1, &q->count);
  if (s == FieldReader::Status::kOk) s = r.field(1, &q->fixed);
  return s;
}

class Reply1E {
 public:
  Reply1E(Coding coding, std::uint32_t command) : w_(&out_.reply, coding), command_(command) {
    out_.answered = true;
  }
  void ok() {
    out_.reply.clear();
    w_.field(1, (command_ | kReplyFlag) & 0xFF);
    w_.field(1, 0);
  }
  FieldWriter& writer() { return w_; }
  Outcome done(bool wrote) {
    out_.wrote = wrote;
    return std::move(out_);
  }
  Outcome error(std::uint8_t code, std::uint8_t extended = 0) {
    out_.reply.clear();
    w_.field(1, (command_ | kReplyFlag) & 0xFF);
    w_.field(1, code);
    if (code == completion::kCpu) w_.field(1, extended);
    out_.code = code;
    out_.wrote = false;
    return std::move(out_);
  }

 private:
  Outcome out_;
  FieldWriter w_;
  std::uint32_t command_;
};

struct Range {
  std::uint32_t begin, end;  // device numbers [begin, end)
};

// The device numbers a request may cover, given its head; false when the head itself
// lies outside every range the command may use.
bool range_for(const DeviceCode& d, std::uint32_t command, std::uint32_t head,
               const DeviceMemory& memory, std::optional<CpuModel> model, Range* out) {
  std::uint32_t limit = std::min(model ? points_1e(*model, d.type) : d.limit, memory.size(d.type));
  if (d.type == RegisterType::M && is_bit_command(command) && head >= kSpecialRelayFirst &&
      head <= kSpecialRelayLast) {
    // Special relays exist only as single points.
    *out = {kSpecialRelayFirst, std::min<std::uint32_t>(kSpecialRelayLast + 1, memory.size(d.type))};
    return head < out->end;
  }
  *out = {0, limit};
  return head < limit;
}

}  // namespace

std::size_t request_size_1e(Coding coding, std::span<const std::uint8_t> in) {
  FieldReader r(in, coding);
  std::uint32_t command = 0;
  auto s = r.field(1, &command);
  if (s == FieldReader::Status::kShort) return kNeedMore;
  if (s == FieldReader::Status::kBadText || !known_command(command)) return kUnframeable;
  std::size_t fixed = fixed_size(coding, command);
  if (in.size() < fixed) return kNeedMore;
  if (!is_write(command)) return fixed;
  Request q;
  // A header whose text does not convert still has a known length: the reply says 0x54.
  if (parse_fixed(coding, in.first(fixed), &q) != FieldReader::Status::kOk) return fixed;
  std::uint32_t points = 0;
  if (!decode_points(q.count, q.fixed, &points)) return fixed;
  return fixed + data_size(coding, command, points);
}

std::vector<std::uint8_t> unframeable_reply_1e(Coding coding, std::span<const std::uint8_t> in) {
  FieldReader r(in, coding);
  std::uint32_t command = 0;
  if (r.field(1, &command) != FieldReader::Status::kOk) return {};
  std::vector<std::uint8_t> out;
  FieldWriter w(&out, coding);
  w.field(1, (command | kReplyFlag) & 0xFF);
  w.field(1, completion::kCommand);
  return out;
}

Outcome handle_1e(Coding coding, std::span<const std::uint8_t> request, Plc& plc,
                  const ReplyOverride& forced) {
  const bool ascii = coding == Coding::kAscii;
  Request q;
  {
    FieldReader r(request, coding);
    if (r.field(1, &q.command) != FieldReader::Status::kOk) return Outcome{};
  }
  Reply1E reply(coding, q.command);
  if (!known_command(q.command)) return reply.error(completion::kCommand);
  if (forced.active) return reply.error(static_cast<std::uint8_t>(forced.code), forced.extended);

  const std::size_t fixed = fixed_size(coding, q.command);
  auto status = parse_fixed(coding, request, &q);
  if (status == FieldReader::Status::kShort) return reply.error(completion::kPoints);
  if (status == FieldReader::Status::kBadText) return reply.error(completion::kAscii);
  std::uint32_t points = 0;
  if (!decode_points(q.count, q.fixed, &points)) return reply.error(completion::kPoints);
  const std::size_t data_bytes = data_size(coding, q.command, points);
  const std::size_t total = fixed + data_bytes;
  // An ASCII bit write of an odd count may carry one padding character.
  const bool padded = ascii && q.command == kWriteBits && points % 2 == 1 &&
                      request.size() == total + 1;
  if (request.size() != total && !padded) return reply.error(completion::kPoints);

  DeviceMemory* memory = plc.station(static_cast<std::uint8_t>(q.pc));
  if (memory == nullptr) return reply.error(completion::kCpu, completion::kPcNumberError);

  const DeviceCode* device = find_device(q.code);
  if (device == nullptr) return reply.error(completion::kDevice);
  RegisterType type = device->type;
  std::uint32_t block = 0;
  if (is_extension(q.command)) {
    if (q.code != kExtensionCode) return reply.error(completion::kDevice);
    type = RegisterType::EX;
    block = q.block;
    if (block > 0xFF || !memory->has_block(static_cast<std::uint8_t>(block))) {
      return reply.error(completion::kHead);
    }
  }
  if (is_bit_command(q.command) && !is_bit_device(type)) return reply.error(completion::kHead);

  Range range;
  if (type == RegisterType::EX) {
    range = {0, std::min(kExtensionBlockLimit, memory->size(RegisterType::EX))};
    if (q.head >= range.end) return reply.error(completion::kHead);
  } else if (!range_for(*device, q.command, q.head, *memory, plc.model(), &range)) {
    return reply.error(completion::kHead);
  }
  const bool words_of_bits = !is_bit_command(q.command) && is_bit_device(type);
  if (words_of_bits && q.head % 16 != 0) return reply.error(completion::kHead);
  const std::uint64_t span_points = words_of_bits ? 16ull * points : points;
  if (q.head + span_points > range.end) return reply.error(completion::kPoints);

  const auto b8 = static_cast<std::uint8_t>(block);
  const std::span<const std::uint8_t> data = request.subspan(fixed, data_bytes);
  const std::uint32_t step = words_of_bits ? 16 : 1;
  switch (q.command) {
    case kReadBits: {
      reply.ok();
      FieldWriter& w = reply.writer();
      if (ascii) {
        for (std::uint32_t i = 0; i < points; ++i) w.byte(memory->bit(type, q.head + i) ? '1' : '0');
        if (points % 2 == 1) w.byte('0');
      } else {
        for (std::uint32_t i = 0; i < points; i += 2) {
          std::uint8_t b = memory->bit(type, q.head + i) ? 0x10 : 0x00;
          if (i + 1 < points && memory->bit(type, q.head + i + 1)) b |= 0x01;
          w.byte(b);
        }
      }
      return reply.done(false);
    }
    case kReadWords:
    case kReadExtension: {
      reply.ok();
      FieldWriter& w = reply.writer();
      for (std::uint32_t i = 0; i < points; ++i) w.field(2, memory->word(type, q.head + i * step, b8));
      return reply.done(false);
    }
    case kWriteBits: {
      if (ascii) {
        for (std::uint32_t i = 0; i < points; ++i) {
          if (data[i] != '0' && data[i] != '1') return reply.error(completion::kAscii);
        }
      }
      for (std::uint32_t i = 0; i < points; ++i) {
        bool on = ascii ? data[i] == '1'
                        : (((i % 2 == 0) ? data[i / 2] >> 4 : data[i / 2] & 0x0F) != 0);
        memory->set_bit(type, q.head + i, on);
      }
      reply.ok();
      return reply.done(true);
    }
    default: {  // word writes
      std::vector<std::uint16_t> words(points);
      FieldReader d(data, coding);
      for (auto& v : words) {
        std::uint32_t x = 0;
        if (d.field(2, &x) != FieldReader::Status::kOk) return reply.error(completion::kAscii);
        v = static_cast<std::uint16_t>(x);
      }
      for (std::uint32_t i = 0; i < points; ++i) memory->set_word(type, q.head + i * step, words[i], b8);
      reply.ok();
      return reply.done(true);
    }
  }
}

}  // namespace hbt::mcsim
