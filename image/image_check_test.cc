#include "image/image_check.h"

#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "testsupport/image_builder.h"

namespace hbt::image {
namespace {

using testsupport::build_configuration;
using testsupport::ConfigSpec;

ImageVerdict verdict_of(const std::string& bytes, std::string* detail = nullptr) {
  return check_image(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), detail);
}

template <typename T>
void patch(std::string& bytes, std::size_t at, T value) {
  ASSERT_LE(at + sizeof value, bytes.size());
  std::memcpy(bytes.data() + at, &value, sizeof value);
}

// File offsets of things in a built configuration.
std::size_t header_at() { return kFilePrefixSize; }
std::uint32_t stored(const std::string& bytes, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, bytes.data() + at, 4);
  return v;
}
std::size_t first_record_at(const std::string& bytes) {
  std::uint32_t control = stored(bytes, header_at() + offsetof(ImageHeader, poll_control_table_offset));
  return kFilePrefixSize + stored(bytes, kFilePrefixSize + control);
}

ConfigSpec two_channel_spec() {
  ConfigSpec plan;
  plan.channels.push_back(plan.channels[0]);
  plan.channels[1].devices[0].name = "PLC2";
  plan.channels[1].devices[0].records.push_back({RegisterType::X, 0, 32, DataType::Digital, ExceptionType::Digital});
  return plan;
}

TEST(ImageCheck, AcceptsWhatTheBuilderWritesInBothVersionsAndLockStates) {
  std::string bytes = build_configuration(two_channel_spec());
  EXPECT_EQ(verdict_of(bytes), ImageVerdict::kAccepted);
  patch<std::uint32_t>(bytes, header_at() + offsetof(ImageHeader, version), 278);
  patch<std::uint8_t>(bytes, header_at() + offsetof(ImageHeader, load_check), 'L');
  EXPECT_EQ(verdict_of(bytes), ImageVerdict::kAccepted);
}

TEST(ImageCheck, AcceptsTheLargestConfiguration) {
  std::string bytes = build_configuration(testsupport::large_configuration(kMaxPollRecords));
  EXPECT_GT(bytes.size(), 3 * kSegmentSize);
  EXPECT_EQ(verdict_of(bytes), ImageVerdict::kAccepted);
}

struct Refusal {
  const char* name;
  std::function<void(std::string&)> damage;
  ImageVerdict verdict;
};

TEST(ImageCheck, RefusesEveryKindOfDamage) {
  const std::size_t h = header_at();
  const std::vector<Refusal> cases = {
      {"short file", [](std::string& b) { b.resize(kFilePrefixSize + 20); }, ImageVerdict::kCorrupted},
      {"empty file", [](std::string& b) { b.clear(); }, ImageVerdict::kCorrupted},
      {"version 277", [&](std::string& b) { patch<std::uint32_t>(b, h + 10, 277); }, ImageVerdict::kCorrupted},
      {"version 280", [&](std::string& b) { patch<std::uint32_t>(b, h + 10, 280); }, ImageVerdict::kCorrupted},
      {"33 channels", [&](std::string& b) { patch<std::uint8_t>(b, h + 3, 33); }, ImageVerdict::kBadObjectCounts},
      {"no channel", [&](std::string& b) { patch<std::uint8_t>(b, h + 3, 0); }, ImageVerdict::kBadObjectCounts},
      {"negative channel count", [&](std::string& b) { patch<std::uint8_t>(b, h + 3, 0xF0); }, ImageVerdict::kBadObjectCounts},
      {"no device", [&](std::string& b) { patch<std::uint8_t>(b, h + 4, 0); }, ImageVerdict::kBadObjectCounts},
      {"no poll record", [&](std::string& b) { patch<std::uint16_t>(b, h + 18, 0); }, ImageVerdict::kBadObjectCounts},
      {"10001 poll records", [&](std::string& b) { patch<std::uint16_t>(b, h + 18, 10001); }, ImageVerdict::kBadObjectCounts},
      {"bad load check byte", [&](std::string& b) { patch<std::uint8_t>(b, h + 2, 'X'); }, ImageVerdict::kBadLock},
      {"more channels than the table holds", [&](std::string& b) { patch<std::uint8_t>(b, h + 3, 32); }, ImageVerdict::kCorrupted},
      {"channel table outside", [&](std::string& b) { patch<std::uint32_t>(b, h + 22, 0xFFFFFFF0); }, ImageVerdict::kCorrupted},
      {"device table outside", [&](std::string& b) { patch<std::uint32_t>(b, h + 26, static_cast<std::uint32_t>(b.size())); }, ImageVerdict::kCorrupted},
      {"control table outside", [&](std::string& b) { patch<std::uint32_t>(b, h + 30, static_cast<std::uint32_t>(b.size()) - 120); }, ImageVerdict::kCorrupted},
      {"channel record outside", [&](std::string& b) { patch<std::uint32_t>(b, h + stored(b, h + 22), static_cast<std::uint32_t>(b.size()) - 110); }, ImageVerdict::kCorrupted},
      {"device record outside", [&](std::string& b) { patch<std::uint32_t>(b, h + stored(b, h + 26), 0x7FFFFFFF); }, ImageVerdict::kCorrupted},
      {"poll record outside", [&](std::string& b) { patch<std::uint32_t>(b, h + stored(b, h + 30), static_cast<std::uint32_t>(b.size()) - 130); }, ImageVerdict::kCorrupted},
      {"poll record over the control table", [&](std::string& b) { patch<std::uint32_t>(b, h + stored(b, h + 30) + 32, stored(b, h + 30)); }, ImageVerdict::kCorrupted},
      {"two poll records in one place", [&](std::string& b) { patch<std::uint32_t>(b, h + stored(b, h + 30) + 32, stored(b, h + stored(b, h + 30))); }, ImageVerdict::kCorrupted},
      {"channel names devices that do not exist", [&](std::string& b) { patch<std::uint16_t>(b, h + stored(b, h + stored(b, h + 22)) + 42, 9); }, ImageVerdict::kCorrupted},
      {"device names poll records that do not exist", [&](std::string& b) { patch<std::uint16_t>(b, h + stored(b, h + stored(b, h + 26)) + 2, 50); }, ImageVerdict::kCorrupted},
      {"poll record names a device that does not exist", [&](std::string& b) { patch<std::uint16_t>(b, first_record_at(b) + 14, 2); }, ImageVerdict::kCorrupted},
      {"data area 1 moved into the head", [&](std::string& b) { patch<std::uint32_t>(b, first_record_at(b) + 28, 0); }, ImageVerdict::kCorrupted},
      {"data area 1 larger than its length needs", [&](std::string& b) { patch<std::uint16_t>(b, first_record_at(b) + 32, 4000); }, ImageVerdict::kCorrupted},
      {"length larger than the data areas", [&](std::string& b) { patch<std::uint16_t>(b, first_record_at(b) + 60, 900); }, ImageVerdict::kCorrupted},
      {"exception type 7", [&](std::string& b) { patch<std::uint8_t>(b, first_record_at(b) + 5, 7); }, ImageVerdict::kCorrupted},
  };
  for (const auto& c : cases) {
    std::string bytes = build_configuration(two_channel_spec());
    c.damage(bytes);
    std::string detail;
    EXPECT_EQ(verdict_of(bytes, &detail), c.verdict) << c.name;
    if (c.verdict == ImageVerdict::kCorrupted) {
      EXPECT_FALSE(detail.empty()) << c.name;
    }
  }
}

TEST(ImageCheck, MessagesAreTheSystemsOwn) {
  EXPECT_STREQ(verdict_message(ImageVerdict::kCorrupted), "init_dit() Corrupted file");
  EXPECT_STREQ(verdict_message(ImageVerdict::kBadObjectCounts), "init_dit() bad object counts");
  EXPECT_STREQ(verdict_message(ImageVerdict::kBadLock), "init_dit() Bad Lock");
}

TEST(Layout, AreaSizesFollowRegisterTypeLengthAndExceptionType) {
  struct Case {
    RegisterType type;
    std::uint32_t length;
    ExceptionType exception;
    std::uint16_t values, exceptions;
  } cases[] = {
      {RegisterType::X, 16, ExceptionType::Digital, 3, 64},
      {RegisterType::Y, 32, ExceptionType::Disabled, 5, 0},
      {RegisterType::M, 32, ExceptionType::Digital, 5, 128},
      {RegisterType::M, 20, ExceptionType::Disabled, 6, 0},   // 2 + (20/8 + 1 = 3, made even: 4)
      {RegisterType::M, 8, ExceptionType::Disabled, 2, 0},    // 0 + (8/8 + 1 = 2)
      {RegisterType::D, 10, ExceptionType::Digital, 20, 640},
      {RegisterType::W, 10, ExceptionType::Analog, 20, 40},
      {RegisterType::R, 3, ExceptionType::Ascii, 6, 12},
      {RegisterType::EX, 4, ExceptionType::Disabled, 8, 0},
  };
  for (const auto& c : cases) {
    AreaSizes s = area_sizes(c.type, c.length, c.exception);
    EXPECT_EQ(s.size[0], c.values) << kRegisterTypeNames[int(c.type)] << c.length;
    EXPECT_EQ(s.size[1], c.values);
    EXPECT_EQ(s.size[2], c.values);
    EXPECT_EQ(s.size[3], 0);
    EXPECT_EQ(s.size[4], c.exceptions) << kRegisterTypeNames[int(c.type)] << c.length;
  }
}

TEST(Layout, BuilderPadsWithFSoNothingCrossesA64KiBBoundary) {
  testsupport::ConfigSpec plan = testsupport::large_configuration(3000);
  std::string bytes = build_configuration(plan);
  // Every poll record (head and areas) must sit inside one 64 KiB segment.
  std::uint32_t control = stored(bytes, kFilePrefixSize + 30);
  bool saw_fill = false;
  for (int k = 0; k < 3000; ++k) {
    std::size_t at = kFilePrefixSize + stored(bytes, kFilePrefixSize + control + 32 * k);
    std::size_t end = at + kPollRecordHeadSize + 20 + 20 + 20 + 40;  // D x10, analog exceptions
    EXPECT_EQ(at / kSegmentSize, (end - 1) / kSegmentSize) << k;
    if (at % kSegmentSize == 0) {
      saw_fill = true;
      EXPECT_EQ(bytes[at - 1], 'F');
    }
  }
  EXPECT_TRUE(saw_fill);
}

}  // namespace
}  // namespace hbt::image
