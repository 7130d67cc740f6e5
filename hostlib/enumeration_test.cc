// Enumeration texts and buffer ownership, conditioning and option exports, liveness,
// statistics, messages and the client count.
#include <gtest/gtest.h>

#include "hostlib/signal_conditioning.h"
#include "hostlib/test_plant.h"
#include "testsupport/by_value.h"

namespace hbt::hostlib::testing {
namespace {

using testsupport::by_value;

class Enumeration : public ::testing::Test {
 protected:
  Plant plant{standard_plant()};
  void SetUp() override { ASSERT_TRUE(plant.loaded()); }
  std::vector<std::string> entries(const char* buffer, int count) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.emplace_back(buffer + 128 * i);
    return out;
  }
};

TEST_F(Enumeration, DevicesInChannelOrder) {
  NioStatus status = -1;
  std::int32_t count = -1;
  char* buffer = nullptr;
  plant.host().nio_Enum_Devices(&status, &count, &buffer);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(entries(buffer, count), (std::vector<std::string>{"PLC1", "PLC2", "PLC3"}));
  plant.host().nio_Free(buffer);
  plant.host().nio_Enum_Devices(&status, nullptr, &buffer);
  EXPECT_EQ(status, kStatusBufferTooSmall);
}

TEST_F(Enumeration, NameFillingTheWholeFieldIsItsTwelveCharacters) {
  // No terminator inside the field: the name is all of it, never an empty one.
  std::memcpy(plant.driver().nio_map_dev(1)->name, "TWELVELETTER", 12);
  NioStatus status = -1;
  std::int32_t count = -1;
  char* buffer = nullptr;
  plant.host().nio_Enum_Devices(&status, &count, &buffer);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(entries(buffer, count), (std::vector<std::string>{"PLC1", "TWELVELETTER", "PLC3"}));
  plant.host().nio_Free(buffer);
  EXPECT_EQ(plant.host().nio_find_dev("twelveletter"), 1);
  EXPECT_EQ(plant.host().nio_find_dev(""), 0);
  plant.host().nio_Enum_PollRecs(&status, "TWELVELETTER", &count, &buffer);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(count, 1);
  EXPECT_STREQ(buffer, "D:0 - D:99");
  plant.host().nio_Free(buffer);
  EXPECT_EQ(plant.point("TWELVELETTER:D:5", 1)->parse_status, 0) << "its points resolve";
}

TEST_F(Enumeration, PollRecordRangesPerDevice) {
  NioStatus status = -1;
  std::int32_t count = 0;
  char* buffer = nullptr;
  plant.host().nio_Enum_PollRecs(&status, "plc1", &count, &buffer);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(count, 12);
  auto texts = entries(buffer, count);
  EXPECT_EQ(texts[0], "D:100 - D:109");
  EXPECT_EQ(texts[4], "X:0 - X:1F");
  EXPECT_EQ(texts[7], "EX:2:300 - EX:2:349");
  EXPECT_EQ(texts[8], "W:10 - W:2F");
  plant.host().nio_Free(buffer);
  plant.host().nio_Enum_PollRecs(&status, "PLC9", &count, &buffer);
  EXPECT_EQ(status, kStatusBufferTooSmall);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(buffer, nullptr);
  plant.host().nio_Enum_PollRecs(&status, nullptr, &count, &buffer);
  EXPECT_EQ(status, kStatusBufferTooSmall);
}

TEST_F(Enumeration, OnlyTheNewestBufferIsFreedAndOnlyOnce) {
  NioStatus status;
  std::int32_t count;
  char *first = nullptr, *second = nullptr;
  plant.host().nio_Enum_Devices(&status, &count, &first);
  plant.host().nio_Enum_PollRecs(&status, "PLC2", &count, &second);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  plant.host().nio_Free(first);  // not the newest: left alone
  EXPECT_STREQ(first, "PLC1") << "still readable";
  plant.host().nio_Free(second);
  plant.host().nio_Free(second);  // a second free does nothing (the sanitizer would see a double free)
  plant.host().nio_Free(nullptr);
  std::free(first);  // the caller's to dispose of, as the library no longer knows it
}

TEST_F(Enumeration, NoDevicesWithoutAnImage) {
  testsupport::TestEnvironment empty;  // a namespace where no poller ever ran
  HostLibrary host(HostOptions{false});
  NioStatus status = -1;
  std::int32_t count = -1;
  char* buffer = reinterpret_cast<char*>(1);
  host.nio_Enum_Devices(&status, &count, &buffer);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(host.nio_num_pollblocks(), 0);
  EXPECT_EQ(host.nio_get_Watchdog(), 0);
  EXPECT_FALSE(host.client_attached());
}

TEST_F(Enumeration, ConditioningExports) {
  auto p = plant.point("PLC1:D:100", 1);
  NioStatus status = -1;
  p->format.subkind = 2;
  plant.host().nio_psig(&status, &p->block, &p->format, "LV12");
  EXPECT_EQ(status, kStatusBadConditioning);
  EXPECT_EQ(p->address.sigcond, 0) << "unchanged";
  p->format.subkind = 1;
  plant.host().nio_psig(&status, &p->block, &p->format, "LV12");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(p->address.sigcond, kSigLv12);
  plant.host().nio_psig(&status, &p->block, &p->format, "12A");
  char name[16];
  plant.host().nio_dsig(&status, &p->block, name, sizeof name);
  EXPECT_STREQ(name, "12AL");
  plant.host().nio_dsig(&status, &p->block, name, 3);
  EXPECT_EQ(status, kStatusBufferTooSmall);
  plant.host().nio_psig(&status, &p->block, &p->format, "bogus");
  EXPECT_EQ(status, kStatusBadConditioning);
  EXPECT_EQ(p->address.sigcond, kSigNone);
  p->address.sigcond = 99;
  plant.host().nio_dsig(&status, &p->block, name, sizeof name);
  EXPECT_STREQ(name, "*?*");

  char buffer[256];
  std::uint32_t names = 0, bytes = sizeof buffer;
  plant.host().nio_EnumSigCond(&status, &names, &bytes, buffer);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(names, 26u);
  EXPECT_EQ(bytes, 126u);
  EXPECT_STREQ(buffer, "NONE");
  EXPECT_STREQ(buffer + 5, "LIN");
  bytes = 9;  // room for "NONE" and "LIN" with their NULs, not for "3BCD"
  plant.host().nio_EnumSigCond(&status, &names, &bytes, buffer);
  EXPECT_EQ(names, 2u);
  EXPECT_EQ(bytes, 9u);
  bytes = 0;
  plant.host().nio_EnumSigCond(&status, &names, &bytes, buffer);
  EXPECT_EQ(status, kStatusEnumArguments);
  plant.host().nio_SigCondSize(&status, &bytes);
  EXPECT_EQ(bytes, 126u);
  EXPECT_EQ(plant.host().nio_EnumSigCond(nullptr, &names, &bytes, buffer), 0) << "null status: nothing done";

  std::uint32_t room = 32;
  plant.host().nio_EnumOptions(&status, &names, &room, buffer);
  EXPECT_EQ(status, kStatusEnumArguments) << "the size nio_OptionsSize reports is not enough";
  room = 256;
  plant.host().nio_EnumOptions(&status, &names, &room, buffer);
  EXPECT_EQ(status, 0);
  EXPECT_STREQ(buffer, "<Ilo:IHi>");
  EXPECT_EQ(names, 1u);
  EXPECT_EQ(room, 10u);
  plant.host().nio_OptionsSize(&status, &room);
  EXPECT_EQ(room, 32u);
}

TEST_F(Enumeration, OptionExportsFollowTheKindAndRefuseLongTexts) {
  auto p = plant.point("PLC1:D:100", 1);
  NioStatus status = -1;
  plant.host().nio_psig(&status, &p->block, &p->format, "PROP");
  plant.host().nio_popt(&status, &p->block, &p->format, "100:500");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(p->driver.option_low, 100);
  EXPECT_EQ(p->driver.option_range, 400);
  char out[40];
  plant.host().nio_dopt(&status, &p->block, &p->format, out, 40);
  EXPECT_STREQ(out, "100:500");
  plant.host().nio_dopt(&status, &p->block, &p->format, out, 3);
  EXPECT_EQ(status, kStatusBufferTooSmall);
  plant.host().nio_popt(&status, &p->block, &p->format, "1:2                                 ");
  EXPECT_EQ(status, kStatusBadConditioning);
  EXPECT_EQ(p->driver.option_low, 100) << "unchanged";
  EXPECT_EQ(plant.ring_count("NIO-nio_popt() Hardware options too long - 1:2                            "), 1);

  auto d = plant.point("PLC1:D:500:1", 2);
  plant.host().nio_popt(&status, &d->block, &d->format, "5:6");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(d->driver.option_low, 0) << "digital points keep their options";
  plant.host().nio_dopt(&status, &d->block, &d->format, out, 40);
  EXPECT_STREQ(out, "NA");
}

TEST_F(Enumeration, ServerStatusSeesTheWatchdogOfTwoCallsAgo) {
  char text[128];
  std::int32_t changed = -1;
  EXPECT_EQ(plant.host().nio_get_ServerStatus(text, &changed), 1);
  EXPECT_NE(std::string(text).find("Brenlow Ethernet Driver"), std::string::npos);
  EXPECT_NE(std::string(text).find("7.9.21"), std::string::npos);
  image::ImageHeader* header = plant.driver().header();
  header->watchdog = 500;
  // Two fresh slots differ from 500 once each, then a stopped watchdog shows no change.
  std::vector<int> seen;
  for (int i = 0; i < 4; ++i) {
    plant.host().nio_get_ServerStatus(nullptr, &changed);
    seen.push_back(changed);
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 1, 0, 0}));
  // One tick per two calls still shows as changed on every call.
  for (int i = 0; i < 6; ++i) {
    if (i % 2 == 0) ++header->watchdog;
    plant.host().nio_get_ServerStatus(nullptr, &changed);
    EXPECT_EQ(changed, 1) << i;
  }
  EXPECT_EQ(plant.host().nio_get_Watchdog(), by_value(header->watchdog));
}

TEST_F(Enumeration, StatisticsOfChannelsInService) {
  image::ChannelRecord* ch = plant.driver().nio_map_chan(0);
  ch->stats.requests_sent = 11;
  ch->stats.rejected_replies = 3;
  NioStatus status = -1;
  std::int16_t selector = 0;
  std::uint8_t block[40];
  plant.host().nio_read_stats(&status, 0, &selector, block);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(selector, -1) << "0xFF, sign-extended: not in service";
  EXPECT_EQ(block[2], 11);
  EXPECT_EQ(block[36], 3);
  plant.host().nio_reset_stats(&status, 0);
  EXPECT_EQ(status, kStatusBadRequest);
  EXPECT_EQ(by_value(ch->stats.requests_sent), 11) << "nothing cleared";

  ch->stats.active_selector = 0;  // as the poller sets it at start
  plant.host().nio_reset_stats(&status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(by_value(ch->stats.requests_sent), 0);
  EXPECT_EQ(by_value(ch->stats.rejected_replies), 0);
  EXPECT_EQ(ch->stats.active_selector, 0) << "bytes 0 and 1 stay";

  plant.host().nio_read_stats(&status, 2, &selector, block);
  EXPECT_EQ(status, kStatusBadRequest);
  plant.host().nio_read_stats(&status, -1, &selector, block);
  EXPECT_EQ(status, kStatusBadRequest);
  plant.host().nio_reset_stats(&status, 7);
  EXPECT_EQ(status, kStatusBadRequest);
}

TEST_F(Enumeration, MessagesGoToTheRingWithThePrefix) {
  plant.host().nio_SendMsg(0x46, "OPC: RemoveGroup %s%n\r\nsecond line");
  auto ring = plant.ring();
  ASSERT_FALSE(ring.empty());
  EXPECT_EQ(ring.back(), "NIO-OPC: RemoveGroup %s%n") << "taken literally and cut at the line end";
  EXPECT_EQ(plant.block()->ring[(plant.block()->ring_next + 63) % 64].colour, 0x46);
  plant.host().nio_SendMsg(2, std::string(300, 'm').c_str());
  EXPECT_EQ(plant.ring().back().size(), 123u);
  plant.block()->ring_enabled = 0;
  plant.host().nio_SendMsg(2, "dropped");
  EXPECT_NE(plant.ring().back(), "NIO-dropped");
  plant.host().nio_SendMsg(2, nullptr);
}

TEST_F(Enumeration, EachLoadedLibraryCountsAsAClient) {
  image::PointerBlock* block = plant.block();
  EXPECT_TRUE(plant.host().client_attached());
  EXPECT_EQ(block->client_count, 1u);
  {
    HostLibrary second(HostOptions{false});
    EXPECT_EQ(block->client_count, 2u);
  }
  EXPECT_EQ(block->client_count, 1u);
  EXPECT_EQ(block->client_usage_countdown, image::kClientUsageTicks);
  plant.drop_host();
  EXPECT_EQ(block->client_count, 0u);
  EXPECT_EQ(plant.ring_count("NIO-Conneting 2 Clients Connected"), 1);
  EXPECT_EQ(plant.ring_count("NIO-Disconnecting 0 Clients Connected"), 1);
}

}  // namespace
}  // namespace hbt::hostlib::testing
