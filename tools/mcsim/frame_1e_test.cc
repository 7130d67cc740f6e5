// 1E requests against a simulated PLC: replies byte for byte, completion codes, the
// A-series device ranges, and framing by command and point count.
#include <gtest/gtest.h>

#include <string>

#include "tools/mcsim/frames.h"

namespace hbt::mcsim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes hex(std::string_view text) {
  Bytes out;
  std::string digits;
  for (char c : text) {
    if (c != ' ') digits += c;
  }
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}
Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }
std::string as_text(const Bytes& b) { return std::string(b.begin(), b.end()); }

constexpr FrameFormat kBin{FrameType::k1E, Coding::kBinary};
constexpr FrameFormat kAsc{FrameType::k1E, Coding::kAscii};

class Frame1E : public ::testing::Test {
 protected:
  Outcome run(const Bytes& req, FrameFormat f = kBin) { return handle_request(f, req, plc_); }
  std::uint16_t code(const Bytes& req, FrameFormat f = kBin) { return run(req, f).code; }
  Plc plc_{"test"};
};

TEST_F(Frame1E, WordReadsAnswerAsTheModuleDoes) {
  for (int i = 0; i < 5; ++i) plc_.own().set_word(RegisterType::D, 100 + i, 0x0A01 + i);
  // The poller's example requests for D100, 5 registers.
  Outcome bin = run(hex("01 FF 02 00 64 00 00 00 20 44 05 00"));
  EXPECT_EQ(bin.reply, hex("81 00 01 0A 02 0A 03 0A 04 0A 05 0A"));
  Outcome asc = run(text("01FF000A4420000000640500"), kAsc);
  EXPECT_EQ(as_text(asc.reply), "81000A010A020A030A040A05");
}

TEST_F(Frame1E, SpecialRelaysAreReadInBitUnits) {
  plc_.own().set_bit(RegisterType::M, 9000, true);
  plc_.own().set_bit(RegisterType::M, 9003, true);
  plc_.own().set_bit(RegisterType::M, 9015, true);
  Outcome bin = run(hex("00 FF 0A 00 28 23 00 00 20 4D 10 00"));
  EXPECT_EQ(bin.reply, hex("80 00 10 01 00 00 00 00 00 01"));
  Outcome asc = run(text("00FF000A4D20000023281000"), kAsc);
  EXPECT_EQ(as_text(asc.reply), "80001001000000000001");
  // An odd count is padded to whole bytes, in ASCII with a '0'.
  Outcome odd = run(text("00FF000A4D20000023280500"), kAsc);
  EXPECT_EQ(as_text(odd.reply), "8000100100");
  // ... and words may not be read there.
  EXPECT_EQ(code(hex("01 FF 0A 00 28 23 00 00 20 4D 01 00")), completion::kHead);
}

TEST_F(Frame1E, WritesInBitsAndWords) {
  Outcome bits = run(hex("02 FF 0A 00 05 00 00 00 20 59 03 00 10 10"));  // Y5, Y6, Y7 = 1 0 1
  EXPECT_EQ(bits.reply, hex("82 00"));
  EXPECT_TRUE(plc_.own().bit(RegisterType::Y, 5));
  EXPECT_FALSE(plc_.own().bit(RegisterType::Y, 6));
  EXPECT_TRUE(plc_.own().bit(RegisterType::Y, 7));

  Outcome asc_bits = run(text("02FF000A4D2000000064030011" "0"), kAsc);  // M100..102 = 1 1 0
  EXPECT_EQ(as_text(asc_bits.reply), "8200");
  EXPECT_TRUE(plc_.own().bit(RegisterType::M, 100));
  EXPECT_TRUE(plc_.own().bit(RegisterType::M, 101));
  EXPECT_FALSE(plc_.own().bit(RegisterType::M, 102));

  Outcome words = run(hex("03 FF 0A 00 10 00 00 00 20 57 02 00 34 12 CD AB"));
  EXPECT_EQ(words.reply, hex("83 00"));
  EXPECT_EQ(plc_.own().word(RegisterType::W, 0x10), 0x1234);
  EXPECT_EQ(plc_.own().word(RegisterType::W, 0x11), 0xABCD);

  Outcome asc_words = run(text("03FF000A44200000000A01001234"), kAsc);
  EXPECT_EQ(as_text(asc_words.reply), "8300");
  EXPECT_EQ(plc_.own().word(RegisterType::D, 10), 0x1234);
}

TEST_F(Frame1E, ExtensionFileRegistersByBlock) {
  Outcome w = run(hex("18 FF 0A 00 2C 01 00 00 20 52 02 00 02 00 34 12 78 56"));
  EXPECT_EQ(w.reply, hex("98 00"));
  EXPECT_EQ(plc_.own().word(RegisterType::EX, 300, 2), 0x1234);
  EXPECT_EQ(plc_.own().word(RegisterType::EX, 301, 2), 0x5678);
  EXPECT_EQ(plc_.own().word(RegisterType::EX, 300, 3), 0) << "blocks are separate";
  EXPECT_EQ(plc_.own().word(RegisterType::R, 300), 0) << "extension blocks are not R";

  Outcome r = run(hex("17 FF 0A 00 2C 01 00 00 20 52 02 00 02 00"));
  EXPECT_EQ(r.reply, hex("97 00 34 12 78 56"));
  // ASCII: block number first, then device code and head, each high part first.
  Outcome asc = run(text("17FF000A000252200000012C0200"), kAsc);
  EXPECT_EQ(as_text(asc.reply), "970012345678");

  // A block number written low byte first ("0200") is block 512, which is not there.
  EXPECT_EQ(code(text("17FF000A020052200000012C0200"), kAsc), completion::kHead);
  EXPECT_EQ(code(hex("17 FF 0A 00 00 00 00 00 20 52 09 00 01 00")), completion::kHead) << "block 9";
  EXPECT_EQ(code(hex("17 FF 0A 00 00 00 00 00 20 52 00 00 01 00")), completion::kHead) << "block 0";
  EXPECT_EQ(code(hex("17 FF 0A 00 00 00 00 00 20 44 01 00 01 00")), completion::kDevice) << "not R";
}

TEST_F(Frame1E, LatchRelaysAreAskedForAsM) {
  run(hex("02 FF 0A 00 07 00 00 00 20 4D 01 00 10"));
  EXPECT_TRUE(plc_.own().bit(RegisterType::M, 7));
  EXPECT_FALSE(plc_.own().bit(RegisterType::L, 7));
}

struct Case {
  const char* name;
  const char* request;
  std::uint8_t code;
};

TEST_F(Frame1E, AbnormalRequestsGetTheCompletionCodes) {
  const Case cases[] = {
      {"unknown device code", "01 FF 0A 00 00 00 00 00 5A 5A 01 00", completion::kDevice},
      {"bit read of D", "00 FF 0A 00 00 00 00 00 20 44 01 00", completion::kHead},
      {"words of X not from a multiple of 16", "01 FF 0A 00 08 00 00 00 20 58 01 00", completion::kHead},
      {"X800 beyond A-series range", "01 FF 0A 00 00 08 00 00 20 58 01 00", completion::kHead},
      {"X7F0 + 2 words runs past", "01 FF 0A 00 F0 07 00 00 20 58 02 00", completion::kPoints},
      {"M8192 in words", "01 FF 0A 00 00 20 00 00 20 4D 01 00", completion::kHead},
      {"M9250 + 16 bits runs past M9255", "00 FF 0A 00 22 24 00 00 20 4D 10 00", completion::kPoints},
      {"M8500 is no device", "00 FF 0A 00 34 21 00 00 20 4D 01 00", completion::kHead},
      {"D8191 + 2", "01 FF 0A 00 FF 1F 00 00 20 44 02 00", completion::kPoints},
      {"byte after count not 0", "01 FF 0A 00 00 00 00 00 20 44 01 02", completion::kPoints},
      {"one byte too many", "01 FF 0A 00 00 00 00 00 20 44 01 00 00", completion::kPoints},
      {"header cut short", "01 FF 0A 00 00 00 00", completion::kPoints},
      {"write data short", "03 FF 0A 00 00 00 00 00 20 44 02 00 01 00", completion::kPoints},
  };
  for (const auto& c : cases) {
    Outcome out = run(hex(c.request));
    EXPECT_EQ(out.code, c.code) << c.name;
    ASSERT_EQ(out.reply.size(), 2u) << c.name;
    EXPECT_EQ(out.reply[1], c.code) << c.name;
    EXPECT_EQ(out.reply[0], hex(c.request)[0] | 0x80) << c.name;
  }
}

TEST_F(Frame1E, TwoHundredFiftySixPointsEitherWay) {
  plc_.own().set_word(RegisterType::D, 255, 0xBEEF);
  for (const char* tail : {"00 00", "00 01"}) {
    Outcome out = run(hex(std::string("01 FF 0A 00 00 00 00 00 20 44 ") + tail));
    ASSERT_EQ(out.code, 0) << tail;
    ASSERT_EQ(out.reply.size(), 2u + 512u);
    EXPECT_EQ(out.reply[2 + 510], 0xEF);
    EXPECT_EQ(out.reply[2 + 511], 0xBE);
  }
}

TEST_F(Frame1E, UnknownStationGets5BWithPcNumberError) {
  EXPECT_EQ(run(hex("01 05 0A 00 00 00 00 00 20 44 01 00")).reply, hex("81 5B 10"));
  EXPECT_EQ(as_text(run(text("0105000A4420000000000100"), kAsc).reply), "815B10");
  plc_.add_station(5);
  plc_.station(5)->set_word(RegisterType::D, 0, 0x4242);
  EXPECT_EQ(run(hex("01 05 0A 00 00 00 00 00 20 44 01 00")).reply, hex("81 00 42 42"));
}

TEST_F(Frame1E, AsciiThatDoesNotConvertGets54) {
  EXPECT_EQ(code(text("01FF000A44200000G0640500"), kAsc), completion::kAscii);
  EXPECT_EQ(code(text("03FF000A44200000000A0100XYZW"), kAsc), completion::kAscii);
  EXPECT_EQ(code(text("02FF000A4D200000006401002"), kAsc), completion::kAscii);
  EXPECT_EQ(plc_.own().word(RegisterType::D, 10), 0);
}

TEST_F(Frame1E, UnknownCommandsAreUnframeableAndAnswered50) {
  EXPECT_EQ(request_size(kBin, hex("05 FF 0A 00")), kUnframeable);
  EXPECT_EQ(unframeable_reply(kBin, hex("05 FF")), hex("85 50"));
  EXPECT_EQ(as_text(unframeable_reply(kAsc, text("0EFF"))), "8E50");
  EXPECT_TRUE(unframeable_reply(kAsc, text("Z")).empty());
  EXPECT_EQ(request_size(kAsc, text("ZZ")), kUnframeable);
  EXPECT_EQ(run(hex("05 FF 0A 00")).reply, hex("85 50"));
}

TEST_F(Frame1E, RequestSizeFollowsCommandAndPoints) {
  Bytes bit_write = hex("02 FF 0A 00 05 00 00 00 20 59 05 00 10 10 10");
  for (std::size_t n = 0; n < 12; ++n) EXPECT_EQ(request_size(kBin, std::span(bit_write).first(n)), kNeedMore) << n;
  EXPECT_EQ(request_size(kBin, bit_write), 15u);
  EXPECT_EQ(request_size(kBin, hex("03 FF 0A 00 00 00 00 00 20 44 03 00")), 18u);
  EXPECT_EQ(request_size(kBin, hex("18 FF 0A 00 00 00 00 00 20 52 01 00 03 00")), 20u);
  EXPECT_EQ(request_size(kBin, hex("01 FF 0A 00 00 00 00 00 20 44 03 00 99")), 12u);
  EXPECT_EQ(request_size(kAsc, text("02FF000A5920000000050500")), 29u);
  EXPECT_EQ(request_size(kAsc, text("03FF000A4420000000000300")), 36u);
  EXPECT_EQ(request_size(kAsc, text("18FF000A000152200000000003")), kNeedMore);
  EXPECT_EQ(request_size(kAsc, text("18FF000A00015220000000000300")), 40u);
}

TEST_F(Frame1E, CorruptCommandGivesAnotherReplyCode) {
  Outcome out = run(hex("01 FF 0A 00 00 00 00 00 20 44 01 00"));
  corrupt_command(kBin, &out.reply);
  EXPECT_EQ(out.reply[0], 0x80);
  Outcome asc = run(text("01FF000A4420000000000100"), kAsc);
  corrupt_command(kAsc, &asc.reply);
  EXPECT_EQ(as_text(asc.reply).substr(0, 2), "80");
}

}  // namespace
}  // namespace hbt::mcsim
