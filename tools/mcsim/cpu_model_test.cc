// A simulated PLC of each CPU type answers up to the last device that type holds and
// refuses the first one beyond with the code the real module gives.
#include "tools/mcsim/cpu_model.h"

#include <gtest/gtest.h>

#include <string>

#include "tools/mcsim/frames.h"

namespace hbt::mcsim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using image::RegisterType;

struct Code1E {
  RegisterType type;
  std::uint16_t code;
};
constexpr Code1E kCodes[] = {
    {RegisterType::X, 0x5820},  {RegisterType::Y, 0x5920},  {RegisterType::B, 0x4220},
    {RegisterType::M, 0x4D20},  {RegisterType::F, 0x4620},  {RegisterType::TC, 0x5443},
    {RegisterType::TS, 0x5453}, {RegisterType::TN, 0x544E}, {RegisterType::CC, 0x4343},
    {RegisterType::CS, 0x4353}, {RegisterType::CN, 0x434E}, {RegisterType::D, 0x4420},
    {RegisterType::W, 0x5720},  {RegisterType::R, 0x5220},
};

// 1E binary batch read of `points` points (bit devices in bit units) from `head`.
Bytes read_1e(const Code1E& device, std::uint32_t head, std::uint8_t points) {
  bool bits = !image::is_word_device(device.type);
  return Bytes{static_cast<std::uint8_t>(bits ? 0x00 : 0x01), 0xFF, 0x0A, 0x00,
               static_cast<std::uint8_t>(head), static_cast<std::uint8_t>(head >> 8),
               static_cast<std::uint8_t>(head >> 16), static_cast<std::uint8_t>(head >> 24),
               static_cast<std::uint8_t>(device.code & 0xFF), static_cast<std::uint8_t>(device.code >> 8),
               points, 0x00};
}

// 3E binary batch read in word units (a bit device: 16 points per word).
Bytes read_3e(std::uint8_t code, std::uint32_t head, std::uint16_t words) {
  return Bytes{0x50, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00, 0x0C, 0x00, 0x10, 0x00, 0x01, 0x04, 0x00, 0x00,
               static_cast<std::uint8_t>(head), static_cast<std::uint8_t>(head >> 8),
               static_cast<std::uint8_t>(head >> 16), code, static_cast<std::uint8_t>(words),
               static_cast<std::uint8_t>(words >> 8)};
}

constexpr FrameFormat k1E{FrameType::k1E, Coding::kBinary};
constexpr FrameFormat k3E{FrameType::k3E, Coding::kBinary};

TEST(CpuModel, EachTypeAnswersUpToItsLastDeviceIn1EFrames) {
  for (CpuModel model : {CpuModel::kAnN, CpuModel::kAnA, CpuModel::kAnU, CpuModel::kQ}) {
    Plc plc("test");
    apply_cpu_model(plc, model);
    for (const auto& device : kCodes) {
      std::uint32_t points = points_1e(model, device.type);
      std::string what = std::string(cpu_model_name(model)) + " device type " +
                         std::to_string(static_cast<int>(device.type)) + " of " + std::to_string(points);
      EXPECT_EQ(handle_request(k1E, read_1e(device, points - 1, 1), plc).code, 0) << what;
      EXPECT_EQ(handle_request(k1E, read_1e(device, points, 1), plc).code, completion::kHead) << what;
      EXPECT_EQ(handle_request(k1E, read_1e(device, points - 1, 2), plc).code, completion::kPoints) << what;
    }
  }
}

TEST(CpuModel, TheDocumentedRanges) {
  EXPECT_EQ(points_1e(CpuModel::kAnN, RegisterType::X), 0x800u);
  EXPECT_EQ(points_1e(CpuModel::kAnN, RegisterType::M), 2048u);
  EXPECT_EQ(points_1e(CpuModel::kAnN, RegisterType::D), 1024u);
  EXPECT_EQ(points_1e(CpuModel::kAnN, RegisterType::W), 0x400u);
  EXPECT_EQ(points_1e(CpuModel::kAnN, RegisterType::TN), 256u);
  EXPECT_EQ(points_1e(CpuModel::kAnA, RegisterType::D), 6144u);
  EXPECT_EQ(points_1e(CpuModel::kAnA, RegisterType::B), 0x1000u);
  EXPECT_EQ(points_1e(CpuModel::kAnU, RegisterType::W), 0x2000u);
  EXPECT_EQ(points_1e(CpuModel::kQ, RegisterType::D), 6144u) << "the A-compatible window of a Q CPU";
  EXPECT_EQ(points_3e(CpuModel::kQ, RegisterType::D), 12288u);
  EXPECT_EQ(parse_cpu_model("AnN/AnS"), CpuModel::kAnN);
  EXPECT_EQ(parse_cpu_model("anas"), CpuModel::kAnA);
  EXPECT_EQ(parse_cpu_model("Q Series"), CpuModel::kQ);
  EXPECT_FALSE(parse_cpu_model("FX3U"));
}

TEST(CpuModel, SpecialRelaysExistOnEveryASeriesTypeButNotTheGapBelowThem) {
  for (CpuModel model : {CpuModel::kAnN, CpuModel::kAnA, CpuModel::kAnU}) {
    Plc plc("test");
    apply_cpu_model(plc, model);
    const Code1E m = kCodes[3];
    EXPECT_EQ(handle_request(k1E, read_1e(m, 9000, 16), plc).code, 0) << cpu_model_name(model);
    EXPECT_EQ(handle_request(k1E, read_1e(m, 9255, 1), plc).code, 0);
    EXPECT_EQ(handle_request(k1E, read_1e(m, 9256, 1), plc).code, completion::kHead);
    EXPECT_EQ(handle_request(k1E, read_1e(m, 8999, 1), plc).code, completion::kHead);
  }
}

TEST(CpuModel, AQSeriesCpuHoldsItsDefaultAssignmentIn3EFrames) {
  Plc plc("test");
  apply_cpu_model(plc, CpuModel::kQ);
  struct {
    std::uint8_t code;
    RegisterType type;
  } const devices[] = {{0x9C, RegisterType::X}, {0x90, RegisterType::M}, {0xA0, RegisterType::B},
                       {0xA8, RegisterType::D}, {0xB4, RegisterType::W}, {0xAF, RegisterType::R},
                       {0xC2, RegisterType::TN}, {0xC5, RegisterType::CN}};
  for (const auto& d : devices) {
    std::uint32_t points = points_3e(CpuModel::kQ, d.type);
    std::uint32_t unit = image::is_word_device(d.type) ? 1 : 16;
    EXPECT_EQ(handle_request(k3E, read_3e(d.code, points - unit, 1), plc).code, 0) << int(d.code);
    EXPECT_EQ(handle_request(k3E, read_3e(d.code, points, 1), plc).code, end_code::kOutOfRange) << int(d.code);
  }
}

TEST(CpuModel, ValuesInTheRemainingRangeAreKept) {
  Plc plc("test");
  plc.own().set_word(RegisterType::D, 100, 1234);
  plc.own().set_word(RegisterType::D, 2000, 99);
  apply_cpu_model(plc, CpuModel::kAnN);
  EXPECT_EQ(plc.own().word(RegisterType::D, 100), 1234);
  EXPECT_EQ(plc.own().size(RegisterType::D), 1024u);
  EXPECT_EQ(plc.model(), CpuModel::kAnN);
}

}  // namespace
}  // namespace hbt::mcsim
