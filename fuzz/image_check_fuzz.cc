// The acceptance check of NIOLIB over any bytes: it reads nothing outside the region it is
// given, and an image it accepts is accepted again when examined a second time (it keeps no
// state and changes nothing).
#include <cstring>
#include <string>

#include "fuzz/fuzz_target.h"
#include "testsupport/image_builder.h"
#include "image/image_check.h"

namespace hbt::image {
namespace {

using fuzz::fail;

constexpr const char* kName = "image_check";

void run(std::span<const std::uint8_t> data) {
  // A copy of exactly the input's size, so that any read past it is caught.
  std::vector<std::uint8_t> region(data.begin(), data.end());
  std::string detail;
  const ImageVerdict verdict = check_image(region.data(), region.size(), &detail);
  if (verdict == ImageVerdict::kAccepted && !detail.empty()) fail(kName, "accepted with a problem: " + detail);
  if (verdict != ImageVerdict::kAccepted && detail.empty()) fail(kName, "refused without naming a problem");
  if (!data.empty() && std::memcmp(region.data(), data.data(), data.size()) != 0) fail(kName, "the check changed the image");
  std::string again;
  if (check_image(region.data(), region.size(), &again) != verdict || again != detail)
    fail(kName, "a second examination judged differently");
  if (verdict_message(verdict) == nullptr) fail(kName, "no message for a verdict");
}

// Configuration files as the tests build them.
std::vector<fuzz::Bytes> seeds() {
  std::vector<fuzz::Bytes> out;
  auto add = [&](const testsupport::ConfigSpec& plan) { out.push_back(fuzz::text_bytes(testsupport::build_configuration(plan))); };
  add(testsupport::ConfigSpec{});
  add(testsupport::large_configuration(40));
  testsupport::ConfigSpec varied;
  varied.channels.resize(2);
  varied.channels[1].tcp = true;
  varied.channels[1].devices[0].name = "PLC2";
  varied.channels[1].devices[0].cpu = CpuType::AnA;
  varied.channels[1].devices[0].coding = Coding::Ascii;
  varied.channels[0].devices[0].records = {{RegisterType::X, 0, 32, DataType::Digital, ExceptionType::Digital},
                                           {RegisterType::D, 100, 10, DataType::Float, ExceptionType::Analog},
                                           {RegisterType::W, 0, 4, DataType::Ascii, ExceptionType::Ascii}};
  add(varied);
  return out;
}

}  // namespace
}  // namespace hbt::image

HBT_FUZZ_TARGET(image_check, hbt::image::run, hbt::image::seeds)
