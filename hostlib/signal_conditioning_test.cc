#include "hostlib/signal_conditioning.h"

#include <cmath>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace hbt::hostlib {
namespace {

Conditioning make(std::int16_t code, float low = 0, float span = 100, std::uint16_t data_type = 2) {
  Conditioning c;
  c.code = code;
  c.egu_low = low;
  c.egu_span = span;
  c.data_type = data_type;
  return c;
}

float read(const Conditioning& c, std::uint16_t r0, std::uint16_t r1 = 0, std::int16_t* status = nullptr) {
  Reading r = condition_read(c, r0, r1);
  if (status) *status = r.value_status;
  return r.value;
}

std::uint16_t write1(const Conditioning& c, float v) {
  RawRegisters raw = condition_write(c, v);
  EXPECT_EQ(raw.count, 1);
  return raw.r[0];
}

std::uint32_t write2(const Conditioning& c, float v) {
  RawRegisters raw = condition_write(c, v);
  EXPECT_EQ(raw.count, 2);
  return std::uint32_t{raw.r[1]} << 16 | raw.r[0];
}

TEST(Bcd, ReadsDigitsAndFlagsNibblesAboveNine) {
  Conditioning c = make(kSig3Bcd, 0, 999);
  std::int16_t status = -1;
  EXPECT_FLOAT_EQ(read(c, 0x0123, 0, &status), 123.0f);
  EXPECT_EQ(status, 0);
  read(c, 0x012A, 0, &status);
  EXPECT_EQ(status, kValueOutOfRange);
  EXPECT_FLOAT_EQ(read(c, 0xF999, 0, &status), 999.0f) << "the fourth nibble is not a digit of 3BCD";
  EXPECT_EQ(status, 0);
  Conditioning four = make(kSig4Bcd, 0, 9999);
  EXPECT_FLOAT_EQ(read(four, 0x9999, 0, &status), 9999.0f);
  read(four, 0xA000, 0, &status);
  EXPECT_EQ(status, kValueOutOfRange);
}

TEST(Bcd, WritesDigitsAndKeepsThemInRange) {
  Conditioning c = make(kSig3Bcd, 0, 999);
  EXPECT_EQ(write1(c, 123.0f), 0x0123);
  EXPECT_EQ(write1(c, 0.0f), 0x0000);
  EXPECT_EQ(write1(c, 999.0f), 0x0999);
  EXPECT_EQ(write1(c, 1500.0f), 0x0999);
  EXPECT_EQ(write1(c, -5.0f), 0x0000);
  EXPECT_EQ(write1(make(kSig4Bcd, 0, 9999), 4321.0f), 0x4321);
}

TEST(Binary12And15, ScaleTheirRangesAndAlarmOnlyWhenAsked) {
  Conditioning bn = make(kSig12Bn, 10, 100), al = make(kSig12Al, 10, 100);
  std::int16_t status = -1;
  EXPECT_FLOAT_EQ(read(bn, 0), 10.0f);
  EXPECT_FLOAT_EQ(read(bn, 4095), 110.0f);
  // One count past the top: EGU high plus one count, alarmed only by the AL form.
  const float one_past = 10.0f + 100.0f * 4096.0f / 4095.0f;
  EXPECT_FLOAT_EQ(read(al, 4096, 0, &status), one_past);
  EXPECT_EQ(status, kValueOutOfRange);
  EXPECT_FLOAT_EQ(read(bn, 4096, 0, &status), one_past);
  EXPECT_EQ(status, 0);

  EXPECT_EQ(write1(bn, 110.0f), 4095);
  EXPECT_EQ(write1(bn, 500.0f), 4095);
  EXPECT_EQ(write1(bn, 10.0f), 0);
  EXPECT_EQ(write1(bn, 9.99f), 0) << "just below EGU low is 0, not a wrapped 4095";
  EXPECT_EQ(write1(bn, -1e6f), 0);
  EXPECT_EQ(write1(bn, 60.0f), 2048);  // 0.5 * 4095 + 0.5 = 2048

  Conditioning al15 = make(kSig15Al, 0, 1);
  read(al15, 32768, 0, &status);
  EXPECT_EQ(status, kValueOutOfRange);
  EXPECT_FLOAT_EQ(read(make(kSig15Bn, 0, 1), 32767), 1.0f);
  EXPECT_EQ(write1(make(kSig15Bn, 0, 1), 2.0f), 32767);
}

TEST(LiveZero, MapsEguLowToTheLiveZeroAndClampsBothEnds) {
  Conditioning c = make(kSigLv12, 4, 16);  // 4..20 mA
  EXPECT_FLOAT_EQ(read(c, 819), 4.0f);
  EXPECT_FLOAT_EQ(read(c, 4095), 20.0f);
  EXPECT_LT(read(c, 0), 4.0f) << "below the live zero reads below EGU low";
  EXPECT_EQ(write1(c, 4.0f), 819);
  EXPECT_EQ(write1(c, 0.0f), 819);
  EXPECT_EQ(write1(c, 20.0f), 4095);
  EXPECT_EQ(write1(c, 25.0f), 4095);
  Conditioning c15 = make(kSigLv15, 0, 100);
  EXPECT_FLOAT_EQ(read(c15, 6553), 0.0f);
  EXPECT_FLOAT_EQ(read(c15, 32767), 100.0f);
  EXPECT_EQ(write1(c15, -1.0f), 6553);
  EXPECT_EQ(write1(c15, 101.0f), 32767);
}

TEST(SquareRoot, ReadsThePlainRootButWritesTheLiveZeroSquare) {
  Conditioning c = make(kSigSq12, 0, 100);
  EXPECT_FLOAT_EQ(read(c, 4095), 100.0f);
  EXPECT_FLOAT_EQ(read(c, 0xF000 | 4095), 100.0f) << "only the low 12 bits count";
  EXPECT_NEAR(read(c, 1024), 100.0f * std::sqrt(1024.0f / 4095.0f), 1e-4);
  EXPECT_EQ(write1(c, 50.0f), 1638);  // 0.25 * 3276 + 0.5 -> 819, + 819
  EXPECT_EQ(write1(c, 0.0f), 819);
  // The write is not the read's inverse: reading 1638 does not give 50.
  EXPECT_GT(std::fabs(read(c, 1638) - 50.0f), 5.0f);
  Conditioning c15 = make(kSigSq15, 0, 100);
  EXPECT_FLOAT_EQ(read(c15, 0x8000 | 32767), 100.0f);
  EXPECT_EQ(write1(c15, 100.0f), 26214 + 6553);
  EXPECT_EQ(write1(c15, 200.0f), 32767) << "stops at the top of the range";
  EXPECT_EQ(write1(c, -50.0f), 1638) << "not clamped below: the square of -0.5";
}

TEST(Linear, CoversTheWholeWordAndRoundsToTheDecimals) {
  Conditioning c = make(kSigLin, 0, 65535);
  EXPECT_FLOAT_EQ(read(c, 0), 0.0f);
  EXPECT_FLOAT_EQ(read(c, 65535), 65535.0f);
  Conditioning tenth = make(kSigLin, 0, 100);
  tenth.decimals = 2;
  EXPECT_FLOAT_EQ(read(tenth, 12345), 18.84f);  // 18.8372 to two decimals
  tenth.decimals = 0;
  EXPECT_FLOAT_EQ(read(tenth, 12345), 19.0f);

  Conditioning s = make(kSigLin, -50, 100, /*signed*/ 1);
  EXPECT_FLOAT_EQ(read(s, 0x8000), -50.0f) << "-32768 is the bottom of a signed record";
  EXPECT_FLOAT_EQ(read(s, 0x7FFF), 50.0f);
  EXPECT_EQ(write1(s, -50.0f), 0x8000);
  EXPECT_EQ(write1(s, 50.0f), 0x7FFF);
  EXPECT_EQ(write1(s, 1000.0f), 0x7FFF);
  EXPECT_EQ(write1(c, -3.0f), 0);
}

TEST(Proportional, UsesTheRawRangeOfTheOptions) {
  Conditioning c = make(kSigProp, 0, 1000);
  c.option_low = 100;
  c.option_range = 400;
  EXPECT_FLOAT_EQ(read(c, 100), 0.0f);
  EXPECT_FLOAT_EQ(read(c, 500), 1000.0f);
  EXPECT_FLOAT_EQ(read(c, 300), 500.0f);
  EXPECT_EQ(write1(c, 500.0f), 300);
  EXPECT_EQ(write1(c, -10.0f), 100) << "clamped to the raw low";
  EXPECT_EQ(write1(c, 5000.0f), 500) << "clamped to the raw high";
  Conditioning s = c;
  s.data_type = 1;
  s.option_low = -100;
  s.option_range = 200;
  EXPECT_FLOAT_EQ(read(s, static_cast<std::uint16_t>(-100)), 0.0f) << "signed raw on a signed record";
  Conditioning none = c;
  none.option_range = 0;
  std::int16_t status = 0;
  EXPECT_FLOAT_EQ(read(none, 300, 0, &status), 0.0f);
  EXPECT_EQ(status, kValueOutOfRange) << "no range to scale against";
}

TEST(Root, TakesTheRootOverTheRawRange) {
  Conditioning c = make(kSigRoot, 0, 10);
  c.option_low = 100;
  c.option_range = 400;
  EXPECT_FLOAT_EQ(read(c, 500), 10.0f);
  EXPECT_FLOAT_EQ(read(c, 200), 5.0f);  // sqrt(100 / 400) = 0.5
  EXPECT_EQ(write1(c, 5.0f), 200);
  EXPECT_EQ(write1(c, 20.0f), 500) << "stops at the raw high";
  std::int16_t status = 0;
  EXPECT_FLOAT_EQ(read(c, 50, 0, &status), 0.0f);
  EXPECT_EQ(status, kValueOutOfRange) << "below the raw low has no root";
}

TEST(Integers, SignedUnsignedAndTheDecimalScalings) {
  EXPECT_FLOAT_EQ(read(make(kSigSint), 0x8000), -32768.0f);
  EXPECT_FLOAT_EQ(read(make(kSigUint), 0x8000), 32768.0f);
  EXPECT_FLOAT_EQ(read(make(kSigNone, 0, 100, 1), 0xFFFF), -1.0f) << "NONE follows the record's sign";
  EXPECT_FLOAT_EQ(read(make(kSigNone, 0, 100, 2), 0xFFFF), 65535.0f);
  EXPECT_FLOAT_EQ(read(make(kSigD10), 1234), 123.4f);
  EXPECT_FLOAT_EQ(read(make(kSigD100), 1234), 12.34f);
  EXPECT_EQ(write1(make(kSigSint), -1.5f), 0xFFFE);  // nearest: away from zero
  EXPECT_EQ(write1(make(kSigUint), 70000.0f), 0xFFFF) << "the top of the register, not its low 16 bits";
  EXPECT_EQ(write1(make(kSigD10), 123.4f), 1234);
  EXPECT_EQ(write1(make(kSigD100), 12.345f), 1235);
  EXPECT_EQ(write1(make(kSigUnknown), 7.6f), 8);
  EXPECT_FLOAT_EQ(read(make(kSigUnknown), 0xFFFF), 65535.0f);
  EXPECT_EQ(write1(make(kSigNone), std::nanf("")), 0) << "NaN writes 0, not an undefined conversion";
}

TEST(ShiftAndMask, ExtractsAndReplacesTheWholeRegister) {
  Conditioning c = make(kSigShiftMask);
  c.option_low = 4;       // shift
  c.option_range = 0xF;   // mask
  EXPECT_FLOAT_EQ(read(c, 0x1234), 3.0f);
  EXPECT_EQ(write1(c, 5.0f), 0x0050);
  EXPECT_EQ(write1(c, 0x35), 0x0050) << "masked before the shift";
  c.option_low = 0x110;  // only the low byte is the shift: 16, everything shifted out
  EXPECT_FLOAT_EQ(read(c, 0xFFFF), 0.0f);
  EXPECT_EQ(write1(c, 5.0f), 0);
}

TEST(TwoRegisters, FloatAndLongFormsSplitLowWordFirst) {
  EXPECT_FLOAT_EQ(read(make(kSigFlt), 0x0000, 0x3F80), 1.0f);
  EXPECT_EQ(write2(make(kSigFlt), -2.5f), 0xC0200000u);
  EXPECT_FLOAT_EQ(read(make(kSigLong), 0xFFFF, 0xFFFF), -1.0f);
  EXPECT_EQ(write2(make(kSigLong), -2.7f), 0xFFFFFFFEu);
  EXPECT_EQ(write2(make(kSigLong), 1e20f), 0x7FFFFFFFu) << "saturates";
  EXPECT_FLOAT_EQ(read(make(kSigUlng), 0xFFFF, 0xFFFF), 4294967295.0f);
  EXPECT_EQ(write2(make(kSigUlng), 70000.4f), 70000u);
  EXPECT_FLOAT_EQ(read(make(kSigLd10), 0xFFF1, 0xFFFF), -1.5f);
  EXPECT_EQ(write2(make(kSigLd10), 1.26f), 13u);
  EXPECT_EQ(write2(make(kSigLd10), -1.26f), static_cast<std::uint32_t>(-13)) << "half away from zero, below 0 too";
  EXPECT_FLOAT_EQ(read(make(kSigL100), 12345, 0), 123.45f);
  EXPECT_EQ(write2(make(kSigL100), 123.45f), 12345u);
  for (std::int16_t code : {kSigFlt, kSigLong, kSigUlng, kSigLd10, kSigL100}) EXPECT_TRUE(two_registers(code));
  EXPECT_FALSE(two_registers(kSigD10));
}

// A value outside what the registers can hold is held at the edge of the range (or masked),
// and the write says so; rounding to the register's resolution is no such change.
TEST(Clamping, EveryConditioningSaysWhenTheValueDidNotFit) {
  struct Case {
    Conditioning c;
    float value;
    bool clamped;
  };
  Conditioning mask = make(kSigShiftMask);
  mask.option_low = 4;
  mask.option_range = 0xF;
  Conditioning prop = make(kSigProp, 0, 100);
  prop.option_low = 100;
  prop.option_range = 400;
  const Case cases[] = {
      {make(kSigNone), 5.4f, false},        {make(kSigNone), -5.0f, true},          {make(kSigNone), 70000.0f, true},
      {make(kSigNone, 0, 100, 1), -5.0f, false}, {make(kSigNone, 0, 100, 1), 40000.0f, true},
      {make(kSigNone), std::nanf(""), true}, {make(kSigUint), 65535.0f, false},     {make(kSigUint), 65536.0f, true},
      {make(kSigSint), -32768.0f, false},    {make(kSigSint), -32769.0f, true},     {make(kSigLin), 100.0f, false},
      {make(kSigLin), 100.1f, true},         {make(kSigLin), -0.1f, true},          {make(kSig3Bcd, 0, 999), 999.0f, false},
      {make(kSig3Bcd, 0, 999), 1000.0f, true}, {make(kSig4Bcd, 0, 9999), -1.0f, true}, {make(kSig12Bn), 100.0f, false},
      {make(kSig12Bn), 101.0f, true},        {make(kSigLv12), -1.0f, true},         {make(kSigSq15), 100.0f, false},
      {make(kSigSq15), 120.0f, true},        {prop, 50.0f, false},                  {prop, 150.0f, true},
      {make(kSigD10), 6553.5f, false},       {make(kSigD10), 6553.6f, true},        {make(kSigD100), -0.01f, true},
      {mask, 15.0f, false},                  {mask, 16.0f, true},                   {make(kSigFlt), 1e30f, false},
      {make(kSigLong), 2147483520.0f, false}, {make(kSigLong), 1e10f, true},        {make(kSigUlng), -1.0f, true},
      {make(kSigLd10), 2e8f, false}, {make(kSigLd10), 3e8f, true},          {make(kSigL100), -3e7f, true},
  };
  for (const Case& k : cases)
    EXPECT_EQ(condition_write(k.c, k.value).clamped, k.clamped) << sig_cond_name(k.c.code) << " " << k.value;
}

TEST(SigCondNames, MatchOverTheirMatchLengths) {
  EXPECT_EQ(find_sig_cond("N"), kSigNone);
  EXPECT_EQ(find_sig_cond("NOPE"), kSigNone);
  EXPECT_EQ(find_sig_cond("LI"), kSigLin);
  EXPECT_EQ(find_sig_cond("12A"), kSig12Al);
  EXPECT_EQ(find_sig_cond("12B"), kSig12Bn);
  EXPECT_EQ(find_sig_cond("S"), kSigShiftMask);
  EXPECT_EQ(find_sig_cond("SQ1"), kSigShiftMask);
  EXPECT_EQ(find_sig_cond("SQ12"), kSigSq12);
  EXPECT_EQ(find_sig_cond("SI"), kSigSint);
  EXPECT_EQ(find_sig_cond("D10"), kSigD10);
  EXPECT_EQ(find_sig_cond("D100"), kSigD100);
  EXPECT_EQ(find_sig_cond("D1000"), kSigD100);
  EXPECT_EQ(find_sig_cond("D10X"), kSigUnknown);
  EXPECT_EQ(find_sig_cond("L1"), kSigL100);
  EXPECT_EQ(find_sig_cond("lin"), kSigUnknown) << "case matters";
  EXPECT_EQ(find_sig_cond(""), kSigUnknown);
  EXPECT_STREQ(sig_cond_name(kSig12Al), "12AL");
  EXPECT_STREQ(sig_cond_name(-1), "*?*");
  EXPECT_STREQ(sig_cond_name(7), "*?*");
  EXPECT_EQ(sig_cond_names_size(), 126u);
  // Every name finds itself.
  for (const SigCondEntry& e : kSigCondTable) EXPECT_EQ(find_sig_cond(e.name), e.code) << e.name;
}

TEST(HardwareOptions, ParseAndShowLowAndHigh) {
  std::int16_t low = 0;
  std::uint16_t range = 0;
  char text[32];
  parse_options(kSigProp, "100:500", &low, &range);
  EXPECT_EQ(low, 100);
  EXPECT_EQ(range, 400);
  format_options(kSigProp, low, range, text, sizeof text);
  EXPECT_STREQ(text, "100:500");

  parse_options(kSigPhex, "10:1F0", &low, &range);
  EXPECT_EQ(low, 0x10);
  EXPECT_EQ(range, 0x1E0);
  format_options(kSigPhex, low, range, text, sizeof text);
  EXPECT_STREQ(text, "10:1F0");

  parse_options(kSigShiftMask, "4:15", &low, &range);
  EXPECT_EQ(low, 4);
  EXPECT_EQ(range, 15) << "the mask itself, not a difference";
  format_options(kSigShiftMask, low, range, text, sizeof text);
  EXPECT_STREQ(text, "4:15");

  parse_options(kSigRoot, "-200:300", &low, &range);
  format_options(kSigRoot, low, range, text, sizeof text);
  EXPECT_STREQ(text, "-200:300");

  format_options(kSigLin, low, range, text, sizeof text);
  EXPECT_STREQ(text, "");
  format_options(kSigProp, 100, 400, text, 4);
  EXPECT_STREQ(text, "100") << "cut to the room given";
}

TEST(HardwareOptions, TheHighNumberIsSoughtOnlyNearTheStart) {
  std::int16_t low = 0;
  std::uint16_t range = 0;
  parse_options(kSigProp, "100", &low, &range);
  EXPECT_EQ(low, 100);
  EXPECT_EQ(range, static_cast<std::uint16_t>(-100)) << "no high number reads as 0";
  // No ':' among characters 1..8: the high number starts at character 10.
  parse_options(kSigProp, "1000000000 25", &low, &range);
  EXPECT_EQ(range, static_cast<std::uint16_t>(25 - static_cast<std::int16_t>(1000000000 & 0xFFFF)));
  parse_options(kSigPhex, "", &low, &range);
  EXPECT_EQ(low, 0);
  EXPECT_EQ(range, 0);
}

}  // namespace
}  // namespace hbt::hostlib
