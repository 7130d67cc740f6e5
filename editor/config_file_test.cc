#include "editor/config_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "editor/test_configs.h"

namespace hbt::editor {
namespace {

using testing::add_record;

std::uint32_t u32(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
std::uint16_t u16(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint16_t v;
  std::memcpy(&v, b.data() + at, 2);
  return v;
}

std::vector<std::uint8_t> save(CDidDoc& doc, std::uint32_t time = 0x12345678) {
  std::vector<std::uint8_t> bytes;
  Message m = pack_configuration(doc, time, &bytes);
  EXPECT_TRUE(m.ok()) << m.text;
  return bytes;
}

class Expected {
 public:
  explicit Expected(std::size_t size) : b(size, 0) {}
  void u8(std::size_t at, std::uint8_t v) { b[at] = v; }
  void u16(std::size_t at, std::uint16_t v) { std::memcpy(&b[at], &v, 2); }
  void u32(std::size_t at, std::uint32_t v) { std::memcpy(&b[at], &v, 4); }
  void text(std::size_t at, const char* s) { std::memcpy(&b[at], s, std::strlen(s)); }
  std::vector<std::uint8_t> b;
};

// The small plant laid out by hand: every offset below is worked out from the record sizes.
TEST(ConfigFileTest, SmallConfigurationIsLaidOutByteForByte) {
  CDidDoc doc;
  testing::build_small_plant(doc);
  std::vector<std::uint8_t> bytes = save(doc);

  // 102 prefix + 34 header = 136: channel table (4), channel 140..267, device table 268,
  // device 272..373, control table 374..469 (3 x 32), poll records:
  //   X:0 x16, Digital exceptions: 86 + 3 x 3 + 64 = 159 at 470
  //   M:9000 x20: (20/16)*2 + 4 = 6 per area: 86 + 18 = 104 at 629
  //   D:100 x10, Analog exceptions: 86 + 3 x 20 + 40 = 186 at 733, file ends at 919.
  Expected e(919);
  e.u32(0, 919);
  e.u32(4, 919);
  std::size_t h = 102;
  e.u8(h + 1, 'U'), e.u8(h + 2, 'U'), e.u8(h + 3, 1), e.u8(h + 4, 1);
  e.u32(h + 6, 0x12345678);
  e.u32(h + 10, 279);
  e.u16(h + 16, 108);
  e.u16(h + 18, 3);
  e.u16(h + 20, 102);
  e.u32(h + 22, 136 - 102);
  e.u32(h + 26, 268 - 102);
  e.u32(h + 30, 374 - 102);
  e.u32(136, 140 - 102);
  std::size_t c = 140;
  e.u8(c + 0, 0xFF);  // no serial port
  e.u16(c + 40, 0), e.u16(c + 42, 1), e.u16(c + 44, 0), e.u16(c + 46, 3);
  e.u8(c + 48, 1);
  for (std::size_t block : {c + 50, c + 66}) {
    e.u8(block, 0xFF);
    e.u8(block + 1, 14);    // 9600
    e.u8(block + 2, 0xF3);  // 8 data bits, port high bits 0xF
    e.u8(block + 7, 3);     // retries
    e.u32(block + 8, 100);  // 1.0 s
    e.u32(block + 12, 1000);
  }
  e.u8(c + 82, 'U'), e.u8(c + 83, 'U');
  e.u32(c + 108, 5000);
  e.u32(268, 272 - 102);
  std::size_t d = 272;
  e.u16(d + 0, 0), e.u16(d + 2, 3);
  e.text(d + 4, "PLC1");
  e.text(d + 16, "Line 1");
  e.u8(d + 52, 'U'), e.u8(d + 53, 'U');
  e.u16(d + 66, 4), e.u16(d + 68, 255), e.u16(d + 70, 255), e.u16(d + 72, 0xFFFF);
  struct Rec {
    std::size_t at;
    std::uint8_t exception;
    std::int32_t access;
    std::uint16_t sizes[5];
    std::uint16_t data_type, length;
    std::uint32_t address;
  } recs[] = {
      {470, 2, 17280100, {3, 3, 3, 0, 64}, 4, 16, 0x00000000u},
      {629, 0, 30000, {6, 6, 6, 0, 0}, 4, 20, 0x40000000u | 9000},
      {733, 1, 17280100, {20, 20, 20, 0, 40}, 2, 10, 0xC0000000u | 100},
  };
  for (std::size_t k = 0; k < 3; ++k) {
    const Rec& r = recs[k];
    std::size_t entry = 374 + 32 * k;
    e.u32(entry, static_cast<std::uint32_t>(r.at - 102));
    e.u32(entry + 8, static_cast<std::uint32_t>(r.access));
    e.u8(entry + 14, 1);
    e.u8(entry + 16, 'U'), e.u8(entry + 17, 'U');
    e.u16(r.at, 4297);
    e.u8(r.at + 2, 1), e.u8(r.at + 3, 'U'), e.u8(r.at + 4, 'U'), e.u8(r.at + 5, r.exception);
    e.u32(r.at + 6, 100);
    e.u32(r.at + 10, static_cast<std::uint32_t>(r.access));
    std::uint32_t offset = 86;
    for (int a = 0; a < 5; ++a) {
      e.u32(r.at + 28 + 6 * a, offset);
      e.u16(r.at + 32 + 6 * a, r.sizes[a]);
      offset += r.sizes[a];
    }
    e.u16(r.at + 58, r.data_type);
    e.u16(r.at + 60, r.length);
    e.u32(r.at + 70, r.address);
  }
  ASSERT_EQ(bytes.size(), e.b.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    ASSERT_EQ(bytes[i], e.b[i]) << "first difference at file offset " << i;
  }
  // The device without poll records left the file and the document.
  ASSERT_EQ(doc.channels()[0]->devices().size(), 1u);
  EXPECT_EQ(doc.find_device("EMPTY"), nullptr);
  EXPECT_EQ(doc.channels()[0]->devices()[0]->iorecs()[2]->record_number(), 2);
}

TEST(ConfigFileTest, RecordsNeverCrossA64KiBBoundary) {
  CDidDoc doc;
  doc.select_channel(1);
  CDevice* plc = doc.current_device();
  // Each D record of 100 registers with Digital exceptions takes 86 + 600 + 6400 = 7086
  // bytes; records start at 758 (after a 12-entry control table), so the tenth would
  // straddle 65536.
  for (int i = 0; i < 12; ++i) {
    add_record(plc, "D:" + std::to_string(i * 100), "100", {}, "Digital");
  }
  std::vector<std::uint8_t> bytes = save(doc);
  std::size_t control = u32(bytes, 102 + 30) + 102;
  EXPECT_EQ(control, 374u);
  EXPECT_EQ(u32(bytes, control + 32 * 8) + 102, 758u + 7086 * 8);
  std::size_t ninth_end = 758 + 7086 * 9;
  EXPECT_EQ(u32(bytes, control + 32 * 9) + 102, 65536u);
  for (std::size_t i = ninth_end; i < 65536; ++i) ASSERT_EQ(bytes[i], 'F') << i;
  EXPECT_EQ(u32(bytes, control + 32 * 11) + 102, 65536u + 7086 * 2);
  EXPECT_EQ(u32(bytes, 0), bytes.size());
  EXPECT_EQ(bytes.size(), 65536u + 7086 * 3);
}

// Reads the bytes back into a new document and saves that again.
std::vector<std::uint8_t> reopen_and_save(const std::vector<std::uint8_t>& bytes, CDidDoc& back) {
  MemorySource source(bytes);
  ReadReport report = read_configuration(back, source);
  EXPECT_FALSE(report.corrupt) << report.reason;
  return save(back);
}

TEST(ConfigFileTest, SaveOpenSaveGivesIdenticalBytes) {
  CDidDoc doc;
  testing::build_varied_plant(doc);
  std::vector<std::uint8_t> first = save(doc);
  CDidDoc back;
  std::vector<std::uint8_t> second = reopen_and_save(first, back);
  EXPECT_EQ(first, second);
  ASSERT_EQ(back.channels().size(), 3u);
  EXPECT_TRUE(back.channels()[2]->devices().empty());
  const auto& a = *static_cast<CDrvSpecificChannel*>(back.channels()[1].get());
  EXPECT_EQ(a.get_ip_address(), "192.168.3.39");
  EXPECT_EQ(a.get_ip_protocol(), "TCP");
  EXPECT_EQ(a.get_display_alarms(), "No");
  EXPECT_EQ(a.disable_comms_alarms(), 1);
  auto* q = back.find_device("QPLC");
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->description(), "Press, \"north\" hall");
  auto* ex = static_cast<CDrvSpecificIORec*>(q->iorecs()[4].get());
  EXPECT_EQ(ex->get_start_address(), "EX:2:10");
  EXPECT_EQ(ex->get_end_address(), "EX:2:29");
  EXPECT_EQ(q->iorecs()[0]->get_poll_time(), "Disabled");
  EXPECT_EQ(q->iorecs()[2]->get_data_type(), "Long Signed");
  auto* sub = static_cast<CDrvSpecificDevice*>(back.find_device("SUB-2_A"));
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->get_cpu_type(), "AnN/AnS");
  EXPECT_EQ(sub->pc_number(), 3);
  EXPECT_EQ(sub->network_number(), 2);
  EXPECT_EQ(sub->module_number(), 1);
  EXPECT_EQ(static_cast<CDrvSpecificDevice*>(back.find_device("APLC"))->get_protocol_type(), "ASCII");
}

TEST(ConfigFileTest, DevicesAndRecordsAreIndexedInFileOrder) {
  CDidDoc doc;
  testing::build_varied_plant(doc);
  std::vector<std::uint8_t> bytes = save(doc);
  // Channel 2 holds devices 1 and 2 and poll records 8..20.
  std::size_t channel2 = u32(bytes, u32(bytes, 102 + 22) + 102 + 4) + 102;
  EXPECT_EQ(u16(bytes, channel2 + 40), 1);
  EXPECT_EQ(u16(bytes, channel2 + 42), 2);
  EXPECT_EQ(u16(bytes, channel2 + 44), 8);
  EXPECT_EQ(u16(bytes, channel2 + 46), 10);
  EXPECT_EQ(bytes[channel2 + 49], 1);
  EXPECT_EQ(u32(bytes, channel2 + 116), 1u);
  std::size_t channel3 = u32(bytes, u32(bytes, 102 + 22) + 102 + 8) + 102;
  EXPECT_EQ(u16(bytes, channel3 + 40), 3);
  EXPECT_EQ(u16(bytes, channel3 + 42), 0);
  EXPECT_EQ(u16(bytes, channel3 + 44), 18);
  EXPECT_EQ(u16(bytes, channel3 + 46), 0);
  // The last poll record belongs to device 2 (SUB-2_A).
  std::size_t control = u32(bytes, 102 + 30) + 102;
  std::size_t last = u32(bytes, control + 32 * 17) + 102;
  EXPECT_EQ(u16(bytes, last + 14), 2);
  EXPECT_EQ(bytes[102 + 4], 3);
  EXPECT_EQ(u16(bytes, 102 + 18), 18);
}

TEST(ConfigFileTest, RefusesWhatTheFileCannotHold) {
  CDidDoc doc;
  for (int c = 1; c <= 32; ++c) {
    doc.select_channel(c);
    for (int d = 0; d < 8; ++d) {
      CDevice* device = d == 0 ? doc.current_device() : doc.add_default_device();
      add_record(device, "D:0", "1");
    }
  }
  std::vector<std::uint8_t> bytes;
  Message m = pack_configuration(doc, 0, &bytes);
  EXPECT_EQ(m.text, "Save refused: 256 devices with poll records, the file holds at most 255.");
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(doc.device_count(), 256u);
  doc.channels()[31]->devices().pop_back();
  EXPECT_TRUE(pack_configuration(doc, 0, &bytes).ok());
  EXPECT_EQ(bytes[102 + 4], 255);
  doc.select_channel(33);
  add_record(doc.current_device(), "D:0", "1");
  EXPECT_EQ(pack_configuration(doc, 0, &bytes).id, kMsgTooManyChannels);

  CDidDoc big;
  big.select_channel(1);
  for (int i = 0; i < 10001; ++i) add_record(big.current_device(), "D:" + std::to_string(i), "1");
  EXPECT_EQ(pack_configuration(big, 0, &bytes).id, kMsgTooManyPollRecords);
  big.current_device()->iorecs().pop_back();
  EXPECT_TRUE(pack_configuration(big, 0, &bytes).ok());
}

TEST(ConfigFileTest, TimesAreStoredInHundredths) {
  CDidDoc doc;
  doc.select_channel(1);
  ASSERT_TRUE(doc.current_channel()->set_reply_timeout("0.125").ok());
  auto* r = add_record(doc.current_device(), "D:0", "1");
  ASSERT_TRUE(r->set_poll_time("0.125").ok());
  ASSERT_TRUE(r->set_access_time("0.29").ok());
  std::vector<std::uint8_t> bytes = save(doc);
  std::size_t channel = u32(bytes, 136) + 102;
  EXPECT_EQ(u32(bytes, channel + 58), 13u);  // rounded
  std::size_t control = u32(bytes, 102 + 30) + 102;
  std::size_t record = u32(bytes, control) + 102;
  EXPECT_EQ(u32(bytes, record + 6), 12u);  // truncated
  EXPECT_EQ(u32(bytes, record + 10), 29u) << "0.29 s typed must not lose its last hundredth";
  EXPECT_EQ(u32(bytes, control + 8), 29u);
}

// Whatever poll and access times a file holds, opening and saving it writes them back
// unchanged where a float tells hundredths apart (below 131072 s), and in any case a second
// round changes nothing: 655.36 s once came back as 655.35 s, then 655.34 s, one hundredth
// less at every save.
TEST(ConfigFileTest, StoredTimesSurviveOpeningAndSaving) {
  CDidDoc doc;
  doc.select_channel(1);
  add_record(doc.current_device(), "D:0", "1");
  std::vector<std::uint8_t> bytes = save(doc);
  const std::size_t control = u32(bytes, 102 + 30) + 102;
  const std::size_t record = u32(bytes, control) + 102;
  auto put = [&](std::size_t at, std::int32_t v) { std::memcpy(&bytes[at], &v, 4); };
  auto get = [](const std::vector<std::uint8_t>& b, std::size_t at) { return static_cast<std::int32_t>(u32(b, at)); };

  std::vector<std::int32_t> values = {0, 1, 12, 29, -100, 65536, 65535, 100000, 1048575, 8388607, 13107199,
                                      17280100, 2147483647, -2147483647 - 1, -65536};
  std::mt19937 random(20261208);
  for (int i = 0; i < 1500; ++i) values.push_back(static_cast<std::int32_t>(random() % 13107200));
  for (int i = 0; i < 300; ++i) values.push_back(static_cast<std::int32_t>(random()));
  constexpr std::int32_t kExactBelow = 13107200;
  for (std::int32_t poll : values) {
    const std::int32_t access = poll == 0 ? 17280100 : poll / 3;
    SCOPED_TRACE(::testing::Message() << "poll " << poll << ", access " << access);
    put(record + 6, poll);
    put(record + 10, access);
    CDidDoc first_doc, second_doc;
    const std::vector<std::uint8_t> first = reopen_and_save(bytes, first_doc);
    ASSERT_EQ(first.size(), bytes.size());
    if (poll > -kExactBelow && poll < kExactBelow) {
      EXPECT_EQ(get(first, record + 6), poll);
    }
    if (access > -kExactBelow && access < kExactBelow) {
      EXPECT_EQ(get(first, record + 10), access);
    }
    EXPECT_EQ(reopen_and_save(first, second_doc), first);
  }
}

}  // namespace
}  // namespace hbt::editor
