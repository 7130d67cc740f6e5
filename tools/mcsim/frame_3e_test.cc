// 3E requests against a simulated PLC: replies byte for byte, end codes, framing.
#include <gtest/gtest.h>

#include <cstdio>
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

constexpr FrameFormat kBin{FrameType::k3E, Coding::kBinary};
constexpr FrameFormat kAsc{FrameType::k3E, Coding::kAscii};

// A binary 3E request for the own CPU with the given body after the monitoring timer.
Bytes request(std::string_view body_hex, std::uint8_t pc = 0xFF, std::uint16_t io = 0x03FF) {
  Bytes body = hex(body_hex);
  Bytes r = {0x50, 0x00, 0x00, pc, static_cast<std::uint8_t>(io), static_cast<std::uint8_t>(io >> 8), 0x00};
  std::size_t len = body.size() + 2;
  r.push_back(static_cast<std::uint8_t>(len));
  r.push_back(static_cast<std::uint8_t>(len >> 8));
  r.push_back(0x10);
  r.push_back(0x00);
  r.insert(r.end(), body.begin(), body.end());
  return r;
}

// An ASCII 3E request for the own CPU; `body` starts with the monitoring timer.
Bytes ascii_request(std::string_view body) {
  char length[8];
  std::snprintf(length, sizeof length, "%04zX", body.size());
  return text("500000FF03FF00" + std::string(length) + std::string(body));
}

std::uint16_t end_code_of(const Bytes& reply) {
  return reply.size() >= 11 ? static_cast<std::uint16_t>(reply[9] | reply[10] << 8) : 0xFFFF;
}

class Frame3E : public ::testing::Test {
 protected:
  Outcome run(const Bytes& req, FrameFormat f = kBin, ReplyOverride forced = {}) {
    return handle_request(f, req, plc_, forced);
  }
  Plc plc_{"test"};
};

TEST_F(Frame3E, BatchReadOfWordsMatchesModuleReply) {
  for (int i = 0; i < 5; ++i) plc_.own().set_word(RegisterType::D, 100 + i, 0x1234 + i);
  // The poller's own example request: D100, 5 registers, PC 255, module 0, timer 2.
  Outcome out = run(hex("50 00 00 FF FF 03 00 0C 00 02 00 01 04 00 00 64 00 00 A8 05 00"));
  ASSERT_TRUE(out.answered);
  EXPECT_EQ(out.code, 0);
  EXPECT_EQ(out.reply, hex("D0 00 00 FF FF 03 00 0C 00 00 00 34 12 35 12 36 12 37 12 38 12"));
}

TEST_F(Frame3E, AsciiReadAndWriteUseTextFields) {
  Outcome w = run(ascii_request("0010" "1401" "0000" "D*" "000100" "0002" "ABCD0102"), kAsc);
  ASSERT_TRUE(w.answered);
  EXPECT_EQ(as_text(w.reply), "D00000FF03FF0000040000");
  EXPECT_TRUE(w.wrote);
  EXPECT_EQ(plc_.own().word(RegisterType::D, 100), 0xABCD);
  EXPECT_EQ(plc_.own().word(RegisterType::D, 101), 0x0102);

  Outcome r = run(ascii_request("0010" "0401" "0000" "D*" "000100" "0002"), kAsc);
  EXPECT_EQ(as_text(r.reply), "D00000FF03FF00000C0000ABCD0102");

  // X, Y, B and W numbers are hexadecimal in ASCII frames, bits one character each.
  plc_.own().set_bit(RegisterType::X, 0x1F, true);
  Outcome bits = run(ascii_request("0010" "0401" "0001" "X*" "00001E" "0003"), kAsc);
  EXPECT_EQ(as_text(bits.reply), "D00000FF03FF0000070000010");
}

TEST_F(Frame3E, BitUnitsPackTwoPointsPerByteHighNibbleFirst) {
  Outcome w = run(request("01 14 01 00 0A 00 00 90 05 00 10 01 10"));  // M10..M14 = 1 0 0 1 1
  ASSERT_EQ(w.code, 0);
  EXPECT_EQ(w.reply, hex("D0 00 00 FF FF 03 00 02 00 00 00"));
  const bool expected[] = {true, false, false, true, true};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(plc_.own().bit(RegisterType::M, 10 + i), expected[i]) << i;
  EXPECT_FALSE(plc_.own().bit(RegisterType::M, 15));

  Outcome r = run(request("01 04 01 00 0A 00 00 90 05 00"));
  EXPECT_EQ(r.reply, hex("D0 00 00 FF FF 03 00 05 00 00 00 10 01 10"));
}

TEST_F(Frame3E, WordUnitsOnBitDevicesCarrySixteenPointsPerWord) {
  plc_.own().set_bit(RegisterType::Y, 0x20, true);
  plc_.own().set_bit(RegisterType::Y, 0x2F, true);
  plc_.own().set_bit(RegisterType::Y, 0x31, true);
  Outcome r = run(request("01 04 00 00 20 00 00 9D 02 00"));
  EXPECT_EQ(r.reply, hex("D0 00 00 FF FF 03 00 06 00 00 00 01 80 02 00"));

  run(request("01 14 00 00 40 00 00 A0 01 00 03 00"));  // B40, B41 via a word
  EXPECT_TRUE(plc_.own().bit(RegisterType::B, 0x40));
  EXPECT_TRUE(plc_.own().bit(RegisterType::B, 0x41));
  EXPECT_FALSE(plc_.own().bit(RegisterType::B, 0x42));
}

TEST_F(Frame3E, ErrorRepliesCarryCodeAndRequestEcho) {
  Outcome out = run(request("99 09 00 00 64 00 00 A8 01 00"));
  EXPECT_EQ(out.code, end_code::kCommand);
  // Response data length 11: end code, then network, PC, module I/O, station, command, subcommand.
  EXPECT_EQ(out.reply, hex("D0 00 00 FF FF 03 00 0B 00 59 C0 00 FF FF 03 00 99 09 00 00"));

  Outcome asc = run(ascii_request("0010" "0499" "0000" "D*" "000100" "0001"), kAsc);
  EXPECT_EQ(as_text(asc.reply), "D00000FF03FF000016C05900FF03FF0004990000");
}

struct Case {
  const char* name;
  std::string body;
  std::uint16_t code;
};

TEST_F(Frame3E, AbnormalRequestsGetTheModulesEndCodes) {
  const Case cases[] = {
      {"unknown command", "01 06 00 00 00 00 00 A8 01 00", end_code::kCommand},
      {"iQ-R subcommand", "01 04 02 00 00 00 00 A8 01 00", end_code::kCommand},
      {"EX has no Q-series code", "01 04 00 00 00 00 00 00 01 00", end_code::kDevice},
      {"unknown device code", "01 04 00 00 00 00 00 FF 01 00", end_code::kDevice},
      {"bit units on D", "01 04 01 00 00 00 00 A8 01 00", end_code::kBitOnWordDevice},
      {"zero points", "01 04 00 00 00 00 00 A8 00 00", end_code::kPointCount},
      {"961 words", "01 04 00 00 00 00 00 A8 C1 03", end_code::kPointCount},
      {"7169 bits", "01 04 01 00 00 00 00 90 01 1C", end_code::kPointCount},
      {"last D plus one", "01 04 00 00 00 30 00 A8 01 00", end_code::kOutOfRange},
      {"run past last D", "01 04 00 00 FF 2F 00 A8 02 00", end_code::kOutOfRange},
      {"words of bits past X1FFF", "01 04 00 00 F1 1F 00 9C 01 00", end_code::kOutOfRange},
      {"read with trailing data", "01 04 00 00 00 00 00 A8 01 00 00", end_code::kLength},
      {"short device fields", "01 04 00 00 00 00 00", end_code::kLength},
      {"write data short", "01 14 00 00 00 00 00 A8 02 00 01 00", end_code::kLength},
      {"bit data other than 0/1", "01 14 01 00 00 00 00 90 02 00 12", end_code::kBitData},
  };
  for (const auto& c : cases) {
    Outcome out = run(request(c.body));
    EXPECT_EQ(out.code, c.code) << c.name;
    EXPECT_EQ(end_code_of(out.reply), c.code) << c.name;
    EXPECT_FALSE(out.wrote) << c.name;
  }
  EXPECT_EQ(plc_.own().word(RegisterType::D, 0), 0) << "a refused write stored something";
}

TEST_F(Frame3E, AsciiTextErrors) {
  EXPECT_EQ(run(ascii_request("0010" "0401" "0000" "D*" "00010G" "0001"), kAsc).code, end_code::kAsciiConversion);
  EXPECT_EQ(run(ascii_request("0010" "04X1" "0000" "D*" "000100" "0001"), kAsc).code, end_code::kAsciiConversion);
  EXPECT_EQ(run(ascii_request("0010" "0401"), kAsc).code, end_code::kLength);
  EXPECT_EQ(run(ascii_request("0010" "1401" "0000" "D*" "000100" "0001" "ZZZZ"), kAsc).code, end_code::kAsciiConversion);
  EXPECT_EQ(run(ascii_request("0010" "1401" "0000" "D*" "000100" "0001" "00010002"), kAsc).code, end_code::kAsciiLength);
  EXPECT_EQ(run(ascii_request("0010" "1401" "0001" "M*" "000100" "0001" "2"), kAsc).code, end_code::kBitData);
}

TEST_F(Frame3E, StationsAndModulesThatAreNotThereGetC05F) {
  Bytes read_d0 = request("01 04 00 00 00 00 00 A8 01 00", 3);
  EXPECT_EQ(run(read_d0).code, end_code::kTarget);
  ASSERT_TRUE(plc_.add_station(3));
  plc_.station(3)->set_word(RegisterType::D, 0, 77);
  Outcome out = run(read_d0);
  ASSERT_EQ(out.code, 0);
  EXPECT_EQ(out.reply[11], 77) << "station 3 has memory of its own";
  EXPECT_EQ(out.reply[3], 3) << "reply carries the PC number of the request";

  Bytes cpu2 = request("01 04 00 00 00 00 00 A8 01 00", 0xFF, 0x03E1);
  EXPECT_EQ(run(cpu2).code, end_code::kTarget);
  ASSERT_TRUE(plc_.set_cpu_count(2));
  plc_.cpu(2)->set_word(RegisterType::D, 0, 5);
  EXPECT_EQ(run(cpu2).reply[11], 5);
  EXPECT_EQ(run(request("01 04 00 00 00 00 00 A8 01 00", 0xFF, 0x0000)).code, end_code::kTarget);
}

TEST_F(Frame3E, NetworkNumbersAreExaminedOnlyOnceTheyAreSet) {
  Bytes on_net2 = request("01 04 00 00 00 00 00 A8 01 00");
  on_net2[2] = 2;
  EXPECT_EQ(run(on_net2).code, 0) << "by default the network number is not examined";
  plc_.set_networks(std::vector<std::uint8_t>{0, 1});
  Outcome refused = run(on_net2);
  EXPECT_EQ(refused.code, end_code::kTarget);
  EXPECT_EQ(refused.reply[2], 2) << "the reply names the network of the request";
  EXPECT_EQ(run(request("01 04 00 00 00 00 00 A8 01 00")).code, 0);
  on_net2[2] = 1;
  EXPECT_EQ(run(on_net2).code, 0);
  // Checked before the station: a known station on an unknown network is not reached.
  ASSERT_TRUE(plc_.add_station(3));
  Bytes station3 = request("01 04 00 00 00 00 00 A8 01 00", 3);
  station3[2] = 9;
  EXPECT_EQ(run(station3).code, end_code::kTarget);
  plc_.set_networks(std::nullopt);
  EXPECT_EQ(run(station3).code, 0);
}

TEST_F(Frame3E, ForcedCodeAnswersWithoutCarryingOut) {
  Outcome out = run(request("01 14 00 00 00 00 00 A8 01 00 34 12"), kBin, {true, 0xC056, 0});
  EXPECT_EQ(out.code, 0xC056);
  EXPECT_EQ(end_code_of(out.reply), 0xC056);
  EXPECT_EQ(plc_.own().word(RegisterType::D, 0), 0);
}

TEST_F(Frame3E, RequestSizeFramesByRequestDataLength) {
  Bytes r = request("01 14 00 00 00 00 00 A8 02 00 01 00 02 00");
  for (std::size_t n = 0; n < 9; ++n) {
    EXPECT_EQ(request_size(kBin, std::span(r).first(n)), kNeedMore) << n;
  }
  EXPECT_EQ(request_size(kBin, std::span(r).first(9)), r.size());
  EXPECT_EQ(request_size(kBin, r), r.size());
  EXPECT_EQ(request_size(kBin, hex("51 00")), kUnframeable);
  EXPECT_EQ(request_size(kBin, hex("50 01")), kUnframeable);
  EXPECT_EQ(request_size(kBin, hex("50 00 00 FF FF 03 00 01 21")), kUnframeable) << "length above the cap";
  EXPECT_EQ(request_size(kAsc, text("500000FF03FF000018")), 18u + 0x18);
  EXPECT_EQ(request_size(kAsc, text("500000FF03FF0000Z8")), kUnframeable);
  EXPECT_EQ(request_size(kAsc, text("5001")), kUnframeable);
  // A datagram cut short is answered with C061, not read past its end.
  Outcome out = run(Bytes(r.begin(), r.end() - 3));
  EXPECT_EQ(out.code, end_code::kLength);
  EXPECT_FALSE(run(hex("50 00 00 FF")).answered);
}

TEST_F(Frame3E, CorruptCommandChangesTheSubheader) {
  Outcome out = run(request("01 04 00 00 00 00 00 A8 01 00"));
  corrupt_command(kBin, &out.reply);
  EXPECT_EQ(out.reply[0], 0xD4);
  Outcome asc = run(ascii_request("0010" "0401" "0000" "D*" "000100" "0001"), kAsc);
  corrupt_command(kAsc, &asc.reply);
  EXPECT_EQ(as_text(asc.reply).substr(0, 4), "D400");
}

}  // namespace
}  // namespace hbt::mcsim
