// 3E frames (QnA-compatible), binary and ASCII: batch read and batch write in word and
// bit units, answered the way a Q-series Ethernet module does.
#include <array>

#include "tools/mcsim/frames.h"

namespace hbt::mcsim {
namespace {

constexpr std::uint16_t kCmdBatchRead = 0x0401;
constexpr std::uint16_t kCmdBatchWrite = 0x1401;
constexpr std::uint16_t kSubWord = 0x0000;
constexpr std::uint16_t kSubBit = 0x0001;

// Points one request may carry (Q-series module limits).
constexpr std::uint32_t kMaxWordPoints = 960;
constexpr std::uint32_t kMaxBitPointsBinary = 7168;
constexpr std::uint32_t kMaxBitPointsAscii = 3584;

struct DeviceCode {
  RegisterType type;
  std::uint8_t binary;
  char ascii[3];
  bool hex_number;  // device numbers written in hexadecimal in ASCII frames
};

constexpr std::array<DeviceCode, 15> kDevices{{
    {RegisterType::X, 0x9C, "X*", true},   {RegisterType::Y, 0x9D, "Y*", true},
    {RegisterType::B, 0xA0, "B*", true},   {RegisterType::L, 0x92, "L*", false},
    {RegisterType::M, 0x90, "M*", false},  {RegisterType::F, 0x93, "F*", false},
    {RegisterType::TC, 0xC0, "TC", false}, {RegisterType::TS, 0xC1, "TS", false},
    {RegisterType::TN, 0xC2, "TN", false}, {RegisterType::CC, 0xC3, "CC", false},
    {RegisterType::CS, 0xC4, "CS", false}, {RegisterType::CN, 0xC5, "CN", false},
    {RegisterType::D, 0xA8, "D*", false},  {RegisterType::W, 0xB4, "W*", true},
    {RegisterType::R, 0xAF, "R*", false},
}};

const DeviceCode* find_binary(std::uint8_t code) {
  for (const auto& d : kDevices) {
    if (d.binary == code) return &d;
  }
  return nullptr;
}

const DeviceCode* find_ascii(std::uint8_t c0, std::uint8_t c1) {
  for (const auto& d : kDevices) {
    if (d.ascii[0] == c0 && d.ascii[1] == c1) return &d;
  }
  return nullptr;
}

std::size_t header_size(Coding c) { return c == Coding::kBinary ? 9 : 18; }

struct Header {
  std::uint32_t network = 0, pc = 0, module_io = 0, station = 0, length = 0;
};

// Subheader and the routing fields; false when the bytes are no 3E request.
bool parse_header(Coding coding, std::span<const std::uint8_t> in, Header* h) {
  if (in.size() < header_size(coding)) return false;
  if (coding == Coding::kBinary) {
    if (in[0] != 0x50 || in[1] != 0x00) return false;
  } else if (!(in[0] == '5' && in[1] == '0' && in[2] == '0' && in[3] == '0')) {
    return false;
  }
  FieldReader r(in.subspan(coding == Coding::kBinary ? 2 : 4), coding);
  return r.field(1, &h->network) == FieldReader::Status::kOk &&
         r.field(1, &h->pc) == FieldReader::Status::kOk &&
         r.field(2, &h->module_io) == FieldReader::Status::kOk &&
         r.field(1, &h->station) == FieldReader::Status::kOk &&
         r.field(2, &h->length) == FieldReader::Status::kOk;
}

class Reply3E {
 public:
  Reply3E(Coding coding, const Header& h) : coding_(coding), h_(h), w_(&out_.reply, coding) {
    out_.answered = true;
    out_.reply.reserve(64);
    if (coding == Coding::kBinary) {
      w_.byte(0xD0);
      w_.byte(0x00);
    } else {
      w_.raw("D000");
    }
    w_.field(1, h.network);
    w_.field(1, h.pc);
    w_.field(2, h.module_io);
    w_.field(1, h.station);
    length_at_ = w_.size();
    w_.field(2, 0);  // response data length, patched in finish()
    w_.field(2, 0);  // end code
  }

  FieldWriter& data() { return w_; }

  Outcome finish() {
    patch_length();
    return std::move(out_);
  }

  Outcome error(std::uint16_t code, std::uint32_t command, std::uint32_t subcommand) {
    out_.reply.resize(length_at_);
    w_.field(2, 0);
    w_.field(2, code);
    w_.field(1, h_.network);
    w_.field(1, h_.pc);
    w_.field(2, h_.module_io);
    w_.field(1, h_.station);
    w_.field(2, command);
    w_.field(2, subcommand);
    out_.code = code;
    out_.wrote = false;
    patch_length();
    return std::move(out_);
  }

  void mark_written() { out_.wrote = true; }

 private:
  void patch_length() {
    std::size_t width = coding_ == Coding::kBinary ? 2 : 4;
    std::uint32_t length = static_cast<std::uint32_t>(out_.reply.size() - length_at_ - width);
    std::vector<std::uint8_t> patch;
    FieldWriter(&patch, coding_).field(2, length);
    std::copy(patch.begin(), patch.end(), out_.reply.begin() + length_at_);
  }

  Coding coding_;
  Header h_;
  Outcome out_;
  FieldWriter w_;
  std::size_t length_at_ = 0;
};

// Device number of an ASCII request: six characters, hexadecimal for X, Y, B and W.
bool parse_ascii_number(std::span<const std::uint8_t> text, bool hex, std::uint32_t* value) {
  std::uint32_t v = 0;
  for (std::uint8_t c : text) {
    int d = hex ? hex_value(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (d < 0) return false;
    v = v * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
  }
  *value = v;
  return true;
}

}  // namespace

std::size_t request_size_3e(Coding coding, std::span<const std::uint8_t> in) {
  // The subheader alone already tells a stranger apart.
  std::size_t sub = coding == Coding::kBinary ? 2 : 4;
  for (std::size_t i = 0; i < sub && i < in.size(); ++i) {
    static constexpr std::uint8_t kBin[] = {0x50, 0x00};
    static constexpr std::uint8_t kAsc[] = {'5', '0', '0', '0'};
    if (in[i] != (coding == Coding::kBinary ? kBin[i] : kAsc[i])) return kUnframeable;
  }
  if (in.size() < header_size(coding)) return kNeedMore;
  Header h;
  if (!parse_header(coding, in, &h)) return kUnframeable;
  if (h.length > kMax3EDataLength) return kUnframeable;
  return header_size(coding) + h.length;
}

Outcome handle_3e(Coding coding, std::span<const std::uint8_t> request, Plc& plc,
                  const ReplyOverride& forced) {
  Header h;
  if (!parse_header(coding, request, &h)) return Outcome{};
  Reply3E reply(coding, h);
  const bool ascii = coding == Coding::kAscii;
  std::span<const std::uint8_t> body = request.subspan(header_size(coding));

  FieldReader r(body, coding);
  std::uint32_t timer = 0, command = 0, subcommand = 0;
  auto head_status = r.field(2, &timer);
  if (head_status == FieldReader::Status::kOk) head_status = r.field(2, &command);
  if (head_status == FieldReader::Status::kOk) head_status = r.field(2, &subcommand);
  const bool have_command = head_status == FieldReader::Status::kOk;
  if (!have_command) command = subcommand = 0;

  if (forced.active) return reply.error(forced.code, command, subcommand);
  if (body.size() != h.length) return reply.error(end_code::kLength, command, subcommand);

  DeviceMemory* memory = nullptr;
  if (!plc.reaches_network(static_cast<std::uint8_t>(h.network))) {
    return reply.error(end_code::kTarget, command, subcommand);
  }
  if (plc.route(static_cast<std::uint8_t>(h.pc), static_cast<std::uint16_t>(h.module_io),
                &memory) != Route::kOk) {
    return reply.error(end_code::kTarget, command, subcommand);
  }
  if (!have_command) {
    return reply.error(head_status == FieldReader::Status::kBadText ? end_code::kAsciiConversion
                                                                    : end_code::kLength,
                       command, subcommand);
  }
  if ((command != kCmdBatchRead && command != kCmdBatchWrite) ||
      (subcommand != kSubWord && subcommand != kSubBit)) {
    return reply.error(end_code::kCommand, command, subcommand);
  }

  // Head device, device code, number of points.
  const DeviceCode* device = nullptr;
  std::uint32_t head = 0, points = 0;
  if (!ascii) {
    std::uint32_t code = 0;
    if (r.field(3, &head) != FieldReader::Status::kOk ||
        r.field(1, &code) != FieldReader::Status::kOk ||
        r.field(2, &points) != FieldReader::Status::kOk) {
      return reply.error(end_code::kLength, command, subcommand);
    }
    device = find_binary(static_cast<std::uint8_t>(code));
  } else {
    std::span<const std::uint8_t> code, number;
    if (r.raw(2, &code) != FieldReader::Status::kOk ||
        r.raw(6, &number) != FieldReader::Status::kOk) {
      return reply.error(end_code::kLength, command, subcommand);
    }
    auto status = r.field(2, &points);
    if (status == FieldReader::Status::kShort) return reply.error(end_code::kLength, command, subcommand);
    if (status == FieldReader::Status::kBadText) {
      return reply.error(end_code::kAsciiConversion, command, subcommand);
    }
    device = find_ascii(code[0], code[1]);
    if (device != nullptr && !parse_ascii_number(number, device->hex_number, &head)) {
      return reply.error(end_code::kAsciiConversion, command, subcommand);
    }
  }
  if (device == nullptr) return reply.error(end_code::kDevice, command, subcommand);
  const RegisterType type = device->type;
  const bool bit_units = subcommand == kSubBit;
  if (bit_units && !is_bit_device(type)) {
    return reply.error(end_code::kBitOnWordDevice, command, subcommand);
  }
  const std::uint32_t max_points =
      bit_units ? (ascii ? kMaxBitPointsAscii : kMaxBitPointsBinary) : kMaxWordPoints;
  if (points == 0 || points > max_points) return reply.error(end_code::kPointCount, command, subcommand);
  const std::uint64_t span_points =
      (!bit_units && is_bit_device(type)) ? 16ull * points : static_cast<std::uint64_t>(points);
  if (head + span_points > memory->size(type)) {
    return reply.error(end_code::kOutOfRange, command, subcommand);
  }

  if (command == kCmdBatchRead) {
    if (r.remaining() != 0) return reply.error(ascii ? end_code::kAsciiLength : end_code::kLength, command, subcommand);
    FieldWriter& w = reply.data();
    if (bit_units) {
      if (ascii) {
        for (std::uint32_t i = 0; i < points; ++i) w.byte(memory->bit(type, head + i) ? '1' : '0');
      } else {
        for (std::uint32_t i = 0; i < points; i += 2) {
          std::uint8_t b = memory->bit(type, head + i) ? 0x10 : 0x00;
          if (i + 1 < points && memory->bit(type, head + i + 1)) b |= 0x01;
          w.byte(b);
        }
      }
    } else {
      const std::uint32_t step = is_bit_device(type) ? 16 : 1;
      for (std::uint32_t i = 0; i < points; ++i) w.field(2, memory->word(type, head + i * step));
    }
    return reply.finish();
  }

  // Batch write: check every datum before anything is stored.
  std::size_t expected = bit_units ? (ascii ? points : (points + 1) / 2) : (ascii ? 4 * points : 2 * points);
  if (r.remaining() != expected) {
    return reply.error(ascii ? end_code::kAsciiLength : end_code::kLength, command, subcommand);
  }
  std::span<const std::uint8_t> data;
  r.raw(expected, &data);
  if (bit_units) {
    auto point = [&](std::uint32_t i) -> int {
      if (ascii) return data[i] == '0' ? 0 : data[i] == '1' ? 1 : -1;
      std::uint8_t nibble = (i % 2 == 0) ? data[i / 2] >> 4 : data[i / 2] & 0x0F;
      return nibble <= 1 ? nibble : -1;
    };
    for (std::uint32_t i = 0; i < points; ++i) {
      if (point(i) < 0) return reply.error(end_code::kBitData, command, subcommand);
    }
    for (std::uint32_t i = 0; i < points; ++i) memory->set_bit(type, head + i, point(i) == 1);
  } else {
    std::vector<std::uint16_t> words(points);
    FieldReader d(data, coding);
    for (auto& v : words) {
      std::uint32_t x = 0;
      if (d.field(2, &x) != FieldReader::Status::kOk) {
        return reply.error(end_code::kAsciiConversion, command, subcommand);
      }
      v = static_cast<std::uint16_t>(x);
    }
    const std::uint32_t step = is_bit_device(type) ? 16 : 1;
    for (std::uint32_t i = 0; i < points; ++i) memory->set_word(type, head + i * step, words[i]);
  }
  reply.mark_written();
  return reply.finish();
}

}  // namespace hbt::mcsim
