// nio_paddr fed random texts: it answers 0 or 514, touches the host's records only when it
// accepts, never reads or writes out of bounds (the sanitizer builds watch), and what it
// accepts displays as a text that parses to the same record.
#include <cctype>
#include <random>

#include <gtest/gtest.h>

#include "hostlib/test_plant.h"

namespace hbt::hostlib::testing {
namespace {

std::string random_text(std::mt19937& rng) {
  static const char* const kPieces[] = {
      "PLC1", "PLC2", "PLC3", "plc1", "D", "X", "M", "W", "EX", "TN", "CN", "R", "B", "Y", "TC", "Q",
      ":", ";", ",", ".", "/", " ", "\t", "0", "1", "2", "9", "1F", "A", "G", "100", "300", "5",
      "-", "+", "16777216", "99999", "\xE9", "\xFF", "[10]", "::", "  ",
  };
  std::uniform_int_distribution<int> pieces(0, 9), pick(0, std::size(kPieces) - 1), byte(1, 255), coin(0, 9);
  std::string s;
  if (coin(rng) < 4) {
    // Near the grammar: device, register, a number in (or just past) a configured range,
    // maybe a bit number. Misses cost the 10 ms pause of "Data not found", so most hit.
    struct Form {
      const char* format;
      int low, span;
    };
    static const Form kForms[] = {
        {"PLC1:D:%d", 100, 22},   {"PLC1:D:%d:%d", 500, 5}, {"PLC1:X:%X", 0, 33},      {"PLC1:W:%X:%d", 16, 33},
        {"PLC1:EX:2:%d", 300, 51}, {"PLC1:M:%d", 0, 17},     {"PLC2:D:%d", 0, 101},     {"PLC3:R:%d", 0, 11},
        {"PLC1:D %d", 200, 11},    {"plc1;w;%x;%d", 16, 33}, {"PLC1:D:%d", 300, 10},    {"PLC1:TN:%d", 0, 3},
    };
    std::uniform_int_distribution<int> form(0, std::size(kForms) - 1), bit(0, 17);
    const Form& f = kForms[form(rng)];
    char text[64];
    std::snprintf(text, sizeof text, f.format, f.low + static_cast<int>(rng() % static_cast<unsigned>(f.span)), bit(rng));
    s = text;
    if (coin(rng) == 0) s.insert(rng() % (s.size() + 1), kPieces[pick(rng)]);  // and a mutation
    return s;
  }
  if (coin(rng) < 7) s = std::string(kPieces[pick(rng) % 4]) + ":";  // mostly a known device
  for (int n = pieces(rng); n > 0; --n) s += coin(rng) == 0 ? std::string(1, static_cast<char>(byte(rng))) : kPieces[pick(rng)];
  return s;
}

TEST(AddressFuzz, RandomTextsAreAcceptedWhollyOrNotAtAll) {
  Plant plant(standard_plant());
  ASSERT_TRUE(plant.loaded());
  std::mt19937 rng(20240607);
  const std::uint8_t kinds[] = {1, 2, 3, 5};
  int accepted = 0;
  for (int i = 0; i < 2000; ++i) {
    const std::string text = random_text(rng);
    Point p;
    std::memset(&p.address, 0x3C, sizeof p.address);
    std::memset(&p.driver, 0x3C, sizeof p.driver);
    const std::uint8_t kind = kinds[rng() % 4];
    p.format.kind = kind;
    NioStatus status = -1;
    plant.host().nio_paddr(&status, &p.block, &p.format, text.c_str());
    ASSERT_TRUE(status == 0 || status == kStatusBadAddress) << text;
    if (status != 0 || text.empty()) {
      if (!text.empty()) {
        NioAddress untouched;
        std::memset(&untouched, 0x3C, sizeof untouched);
        ASSERT_EQ(std::memcmp(&p.address, &untouched, sizeof untouched), 0) << text;
        ASSERT_EQ(p.format.kind, kind) << text;
      }
      continue;
    }
    ++accepted;
    ASSERT_TRUE(p.address.handle & kHandleResolved) << text;
    ASSERT_LT(static_cast<int>(p.address.handle & 0xFFFF), plant.driver().poll_record_count()) << text;
    ASSERT_TRUE(p.format.kind == 1 || p.format.kind == 2 || p.format.kind == 3) << text;
    ASSERT_LT(strnlen(p.driver.device, sizeof p.driver.device), sizeof p.driver.device) << text;

    char shown[32];
    plant.host().nio_daddr(&status, &p.block, &p.format, shown, sizeof shown);
    ASSERT_EQ(status, 0);
    Point again;
    again.format.kind = p.format.kind;
    plant.host().nio_paddr(&status, &again.block, &again.format, shown);
    ASSERT_EQ(status, 0) << text << " shown as " << shown;
    EXPECT_EQ(again.address.handle, p.address.handle) << text << " shown as " << shown;
    EXPECT_EQ(again.address.reg & 0xFFFFFF, p.address.reg & 0xFFFFFF) << text << " shown as " << shown;
    EXPECT_EQ(again.address.ex_number, p.address.ex_number) << text;
    // The register named in the text is the one shown: nothing is read as another type.
    std::string upper_text = text;
    for (char& c : upper_text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::size_t first = upper_text.find_first_of(":;,./ ");
    const std::size_t second = upper_text.find_first_of(":;,./ ", first + 1);
    const std::string shown_text = shown;
    const std::size_t colon = shown_text.find(':');
    EXPECT_EQ(upper_text.substr(first + 1, second - first - 1),
              shown_text.substr(colon + 1, shown_text.find(':', colon + 1) - colon - 1))
        << text << " shown as " << shown;
  }
  EXPECT_GT(accepted, 400) << "the generator should reach the accepting paths";
}

}  // namespace
}  // namespace hbt::hostlib::testing
