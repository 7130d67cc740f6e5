// Property tests of the frame code: random valid traffic checked against a model of the
// device memory, framing of randomly cut streams, and random or mangled bytes, which must
// never crash, read outside the request or produce a malformed reply.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "tools/mcsim/frames.h"

namespace hbt::mcsim {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr FrameFormat kFormats[] = {
    {FrameType::k3E, Coding::kBinary}, {FrameType::k3E, Coding::kAscii},
    {FrameType::k1E, Coding::kBinary}, {FrameType::k1E, Coding::kAscii}};

// Encoding written here from the frame layouts, independently of the code under test.
void put(Bytes* out, Coding c, int bytes, std::uint32_t v) {
  if (c == Coding::kBinary) {
    for (int i = 0; i < bytes; ++i) out->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  } else {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", 2 * bytes, v);
    out->insert(out->end(), buf, buf + 2 * bytes);
  }
}

struct Op {
  RegisterType type;
  std::uint32_t head;
  std::uint32_t points;
  bool write;
  bool bit_units;
  std::uint8_t block = 0;
  std::vector<std::uint16_t> values;  // words, or 0/1 per point
};

Bytes encode_3e(Coding c, const Op& op) {
  static const std::map<RegisterType, std::pair<std::uint8_t, const char*>> codes = {
      {RegisterType::X, {0x9C, "X*"}}, {RegisterType::Y, {0x9D, "Y*"}}, {RegisterType::B, {0xA0, "B*"}},
      {RegisterType::L, {0x92, "L*"}}, {RegisterType::M, {0x90, "M*"}}, {RegisterType::F, {0x93, "F*"}},
      {RegisterType::TC, {0xC0, "TC"}}, {RegisterType::TS, {0xC1, "TS"}}, {RegisterType::TN, {0xC2, "TN"}},
      {RegisterType::CC, {0xC3, "CC"}}, {RegisterType::CS, {0xC4, "CS"}}, {RegisterType::CN, {0xC5, "CN"}},
      {RegisterType::D, {0xA8, "D*"}}, {RegisterType::W, {0xB4, "W*"}}, {RegisterType::R, {0xAF, "R*"}}};
  Bytes body;
  put(&body, c, 2, 0x0010);
  put(&body, c, 2, op.write ? 0x1401 : 0x0401);
  put(&body, c, 2, op.bit_units ? 1 : 0);
  auto [bin, asc] = codes.at(op.type);
  if (c == Coding::kBinary) {
    put(&body, c, 3, op.head);
    body.push_back(bin);
  } else {
    body.insert(body.end(), asc, asc + 2);
    bool hex = op.type == RegisterType::X || op.type == RegisterType::Y || op.type == RegisterType::B ||
               op.type == RegisterType::W;
    char buf[16];
    std::snprintf(buf, sizeof buf, hex ? "%06X" : "%06u", op.head);
    body.insert(body.end(), buf, buf + 6);
  }
  put(&body, c, 2, op.points);
  if (op.write) {
    if (!op.bit_units) {
      for (auto v : op.values) put(&body, c, 2, v);
    } else if (c == Coding::kAscii) {
      for (auto v : op.values) body.push_back(v ? '1' : '0');
    } else {
      for (std::size_t i = 0; i < op.values.size(); i += 2) {
        body.push_back(static_cast<std::uint8_t>((op.values[i] << 4) |
                                                 (i + 1 < op.values.size() ? op.values[i + 1] : 0)));
      }
    }
  }
  Bytes r;
  if (c == Coding::kBinary) {
    r = {0x50, 0x00};
  } else {
    r = {'5', '0', '0', '0'};
  }
  put(&r, c, 1, 0);
  put(&r, c, 1, 0xFF);
  put(&r, c, 2, 0x03FF);
  put(&r, c, 1, 0);
  put(&r, c, 2, static_cast<std::uint32_t>(body.size()));
  r.insert(r.end(), body.begin(), body.end());
  return r;
}

Bytes encode_1e(Coding c, const Op& op) {
  static const std::map<RegisterType, std::uint16_t> codes = {
      {RegisterType::X, 0x5820}, {RegisterType::Y, 0x5920}, {RegisterType::B, 0x4220},
      {RegisterType::M, 0x4D20}, {RegisterType::F, 0x4620}, {RegisterType::TC, 0x5443},
      {RegisterType::TS, 0x5453}, {RegisterType::TN, 0x544E}, {RegisterType::CC, 0x4343},
      {RegisterType::CS, 0x4353}, {RegisterType::CN, 0x434E}, {RegisterType::D, 0x4420},
      {RegisterType::W, 0x5720}, {RegisterType::R, 0x5220}, {RegisterType::EX, 0x5220}};
  std::uint8_t cmd = op.type == RegisterType::EX ? (op.write ? 0x18 : 0x17)
                     : op.bit_units              ? (op.write ? 0x02 : 0x00)
                                                 : (op.write ? 0x03 : 0x01);
  Bytes r;
  put(&r, c, 1, cmd);
  put(&r, c, 1, 0xFF);
  put(&r, c, 2, 0x000A);
  if (c == Coding::kBinary) {
    put(&r, c, 4, op.head);
    put(&r, c, 2, codes.at(op.type));
    if (op.type == RegisterType::EX) put(&r, c, 2, op.block);
  } else {
    if (op.type == RegisterType::EX) put(&r, c, 2, op.block);
    put(&r, c, 2, codes.at(op.type));
    put(&r, c, 4, op.head);
  }
  put(&r, c, 1, op.points & 0xFF);
  put(&r, c, 1, 0);
  if (op.write) {
    if (!op.bit_units) {
      for (auto v : op.values) put(&r, c, 2, v);
    } else if (c == Coding::kAscii) {
      for (auto v : op.values) r.push_back(v ? '1' : '0');
    } else {
      for (std::size_t i = 0; i < op.values.size(); i += 2) {
        r.push_back(static_cast<std::uint8_t>((op.values[i] << 4) |
                                              (i + 1 < op.values.size() ? op.values[i + 1] : 0)));
      }
    }
  }
  return r;
}

// Values of a read reply, decoded independently.
std::vector<std::uint16_t> decode(FrameFormat f, const Op& op, const Bytes& reply) {
  std::size_t skip = f.type == FrameType::k3E ? (f.coding == Coding::kBinary ? 11 : 22)
                                              : (f.coding == Coding::kBinary ? 2 : 4);
  std::vector<std::uint16_t> out;
  if (reply.size() < skip) return out;
  const std::uint8_t* d = reply.data() + skip;
  std::size_t n = reply.size() - skip;
  if (op.bit_units) {
    for (std::uint32_t i = 0; i < op.points; ++i) {
      if (f.coding == Coding::kAscii) {
        if (i < n) out.push_back(d[i] == '1' ? 1 : d[i] == '0' ? 0 : 0xEEEE);
      } else if (i / 2 < n) {
        out.push_back((i % 2 == 0) ? d[i / 2] >> 4 : d[i / 2] & 0xF);  // exactly 0 or 1
      }
    }
    return out;
  }
  for (std::uint32_t i = 0; i < op.points; ++i) {
    if (f.coding == Coding::kBinary) {
      if (2 * i + 1 < n) out.push_back(static_cast<std::uint16_t>(d[2 * i] | d[2 * i + 1] << 8));
    } else if (4 * i + 3 < n) {
      out.push_back(static_cast<std::uint16_t>(std::stoi(std::string(d + 4 * i, d + 4 * i + 4), nullptr, 16)));
    }
  }
  return out;
}

// The device memory as the test believes it is.
struct Model {
  std::map<std::tuple<int, std::uint8_t, std::uint32_t>, std::uint16_t> cells;  // bits and words
  std::uint16_t get(RegisterType t, std::uint8_t block, std::uint32_t n) const {
    auto it = cells.find({static_cast<int>(t), block, n});
    return it == cells.end() ? 0 : it->second;
  }
  void set(RegisterType t, std::uint8_t block, std::uint32_t n, std::uint16_t v) {
    cells[{static_cast<int>(t), block, n}] = v;
  }
};

class Generator {
 public:
  explicit Generator(std::uint64_t seed) : rng_(seed) {}
  std::uint32_t below(std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng_); }
  std::mt19937_64& rng() { return rng_; }

  Op op(FrameFormat f) {
    static constexpr RegisterType k3E[] = {
        RegisterType::X, RegisterType::Y, RegisterType::B, RegisterType::L, RegisterType::M,
        RegisterType::F, RegisterType::TC, RegisterType::TS, RegisterType::TN, RegisterType::CC,
        RegisterType::CS, RegisterType::CN, RegisterType::D, RegisterType::W, RegisterType::R};
    static constexpr RegisterType k1E[] = {
        RegisterType::X, RegisterType::Y, RegisterType::B, RegisterType::M, RegisterType::F,
        RegisterType::TC, RegisterType::TS, RegisterType::TN, RegisterType::CC, RegisterType::CS,
        RegisterType::CN, RegisterType::D, RegisterType::W, RegisterType::R, RegisterType::EX};
    Op op{};
    const bool e3 = f.type == FrameType::k3E;
    op.type = e3 ? k3E[below(15)] : k1E[below(15)];
    op.write = below(2) == 1;
    op.bit_units = is_bit_device(op.type) && below(2) == 1;
    op.points = 1 + below(40);
    // Kept inside the smaller A-series ranges, and small, so that addresses collide.
    std::uint32_t limit = 512;
    if (op.type == RegisterType::EX) op.block = static_cast<std::uint8_t>(1 + below(8));
    if (!op.bit_units && is_bit_device(op.type)) {
      op.head = 16 * below(limit / 16 - op.points / 2 - 2);
      op.points = std::min(op.points, 8u);
    } else {
      op.head = below(limit - op.points);
    }
    if (!e3 && op.type == RegisterType::M && op.bit_units && below(4) == 0) {
      op.head = kSpecialRelayFirst + below(256 - op.points);
    }
    if (op.write) {
      for (std::uint32_t i = 0; i < op.points; ++i) {
        op.values.push_back(op.bit_units ? below(2) : static_cast<std::uint16_t>(rng_()));
      }
    }
    return op;
  }

 private:
  std::mt19937_64 rng_;
};

Bytes encode(FrameFormat f, const Op& op) {
  return f.type == FrameType::k3E ? encode_3e(f.coding, op) : encode_1e(f.coding, op);
}

TEST(FrameProperties, RandomTrafficAgreesWithAModelOfTheMemory) {
  for (FrameFormat f : kFormats) {
    SCOPED_TRACE(frame_format_name(f));
    Plc plc("fuzz");
    Model model;
    Generator gen(42);
    int reads = 0;
    for (int i = 0; i < 3000; ++i) {
      Op op = gen.op(f);
      Bytes req = encode(f, op);
      ASSERT_EQ(request_size(f, req), req.size());
      Outcome out = handle_request(f, req, plc);
      ASSERT_TRUE(out.answered);
      ASSERT_EQ(out.code, 0) << "request " << i;
      // Words of a bit device cover 16 points each.
      const bool words_of_bits = !op.bit_units && is_bit_device(op.type);
      if (op.write) {
        for (std::uint32_t k = 0; k < op.points; ++k) {
          if (words_of_bits) {
            for (int b = 0; b < 16; ++b) model.set(op.type, 0, op.head + 16 * k + b, (op.values[k] >> b) & 1);
          } else {
            model.set(op.type, op.block, op.head + k, op.values[k]);
          }
        }
        continue;
      }
      ++reads;
      std::vector<std::uint16_t> got = decode(f, op, out.reply);
      ASSERT_EQ(got.size(), op.points);
      for (std::uint32_t k = 0; k < op.points; ++k) {
        std::uint16_t want = 0;
        if (words_of_bits) {
          for (int b = 0; b < 16; ++b) want |= static_cast<std::uint16_t>(model.get(op.type, 0, op.head + 16 * k + b) << b);
        } else {
          want = model.get(op.type, op.block, op.head + k);
        }
        ASSERT_EQ(got[k], want) << "request " << i << " point " << k;
      }
    }
    EXPECT_GT(reads, 1000);
  }
}

TEST(FrameProperties, StreamsCutAnywhereFrameIntoTheSameRequests) {
  for (FrameFormat f : kFormats) {
    SCOPED_TRACE(frame_format_name(f));
    Generator gen(7);
    Bytes stream;
    std::vector<std::size_t> sizes;
    for (int i = 0; i < 500; ++i) {
      Bytes r = encode(f, gen.op(f));
      sizes.push_back(r.size());
      stream.insert(stream.end(), r.begin(), r.end());
    }
    // Feed it the way a socket might, in random pieces, and frame as the server does.
    Bytes buffer;
    std::vector<std::size_t> framed;
    std::size_t pos = 0;
    while (pos < stream.size()) {
      std::size_t piece = std::min<std::size_t>(1 + gen.below(40), stream.size() - pos);
      buffer.insert(buffer.end(), stream.begin() + pos, stream.begin() + pos + piece);
      pos += piece;
      while (true) {
        std::size_t n = request_size(f, buffer);
        ASSERT_NE(n, kUnframeable);
        if (n == kNeedMore || n > buffer.size()) break;
        framed.push_back(n);
        buffer.erase(buffer.begin(), buffer.begin() + n);
      }
    }
    EXPECT_TRUE(buffer.empty());
    EXPECT_EQ(framed, sizes);
  }
}

void check_reply_shape(FrameFormat f, const Bytes& req, const Outcome& out) {
  if (!out.answered) return;
  ASSERT_FALSE(out.reply.empty());
  if (out.code != 0) {
    EXPECT_FALSE(out.wrote);
  }
  if (f.type == FrameType::k3E) {
    std::size_t header = f.coding == Coding::kBinary ? 9 : 18;
    ASSERT_GE(out.reply.size(), header + (f.coding == Coding::kBinary ? 2u : 4u));
    std::uint32_t length = 0;
    if (f.coding == Coding::kBinary) {
      EXPECT_EQ(out.reply[0], 0xD0);
      length = out.reply[7] | out.reply[8] << 8;
    } else {
      EXPECT_EQ(std::string(out.reply.begin(), out.reply.begin() + 4), "D000");
      length = static_cast<std::uint32_t>(std::stoul(std::string(out.reply.begin() + 14, out.reply.begin() + 18), nullptr, 16));
    }
    EXPECT_EQ(length, out.reply.size() - header);
  } else if (f.coding == Coding::kBinary) {
    EXPECT_EQ(out.reply[0], req[0] | 0x80);
  } else {
    ASSERT_GE(out.reply.size(), 4u);
  }
}

TEST(FrameProperties, GarbageAndMangledRequestsAreHandledSafely) {
  for (FrameFormat f : kFormats) {
    SCOPED_TRACE(frame_format_name(f));
    Plc plc("fuzz");
    Generator gen(99);
    for (int i = 0; i < 20000; ++i) {
      Bytes req;
      switch (gen.below(4)) {
        case 0: {  // random bytes
          req.resize(gen.below(64));
          for (auto& b : req) b = static_cast<std::uint8_t>(gen.below(256));
          break;
        }
        case 1: {  // valid request with flipped bytes
          req = encode(f, gen.op(f));
          for (int k = 0, n = 1 + gen.below(4); k < n; ++k) {
            req[gen.below(static_cast<std::uint32_t>(req.size()))] = static_cast<std::uint8_t>(gen.below(256));
          }
          break;
        }
        case 2: {  // truncated
          req = encode(f, gen.op(f));
          req.resize(gen.below(static_cast<std::uint32_t>(req.size())));
          break;
        }
        default: {  // valid with random extra bytes, or huge counts
          req = encode(f, gen.op(f));
          for (int k = 0, n = gen.below(8); k < n; ++k) req.push_back(static_cast<std::uint8_t>(gen.below(256)));
          if (f.type == FrameType::k3E && f.coding == Coding::kBinary && req.size() > 20) {
            req[19] = 0xFF;
            req[20] = 0xFF;
          }
          break;
        }
      }
      std::size_t n = request_size(f, req);
      if (n != kNeedMore && n != kUnframeable) {
        ASSERT_GT(n, 0u);
        ASSERT_LE(n, f.type == FrameType::k3E ? 18 + kMax3EDataLength : 28u + 1024u);
        if (n <= req.size()) check_reply_shape(f, req, handle_request(f, std::span(req).first(n), plc));
      }
      Outcome out = handle_request(f, req, plc);
      check_reply_shape(f, req, out);
      if (n == kUnframeable) unframeable_reply(f, req);
    }
  }
}

}  // namespace
}  // namespace hbt::mcsim
