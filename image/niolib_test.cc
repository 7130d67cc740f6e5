#include "image/niolib.h"

#include <sys/stat.h>

#include <cstring>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/shared_region.h"
#include "platform/system_calls.h"
#include "testsupport/by_value.h"
#include "testsupport/driver_setup.h"
#include "testsupport/recording_sink.h"
#include "testsupport/system_call_faults.h"

namespace hbt::image {
namespace {

using testsupport::ConfigSpec;
using testsupport::RecordingSink;
using testsupport::TestEnvironment;
using testsupport::by_value;

ConfigSpec plant() {
  ConfigSpec plan;
  auto& ch = plan.channels[0];
  ch.devices[0].name = "PLC1";
  ch.devices[0].records = {{RegisterType::D, 100, 10}, {RegisterType::X, 0, 32, DataType::Digital, ExceptionType::Digital}};
  ch.devices.push_back(testsupport::DeviceSpec{});
  ch.devices[1].name = "PLC2";
  plan.channels.push_back(testsupport::ChannelSpec{});
  plan.channels[1].devices[0].name = "PLC3";
  plan.channels[1].ip_address = 0xC0A80327;
  return plan;
}

NiolibOptions client_options() {
  NiolibOptions o;
  o.variant = NiolibVariant::kClient;
  o.start_poller = false;
  return o;
}

struct Fixture : ::testing::Test {
  TestEnvironment env;
  RecordingSink driver_messages, client_messages;
};

using Niolib_ = Fixture;

TEST_F(Niolib_, DriverLoadsTheFileAndEveryObjectCanBeReached) {
  std::string path = testsupport::install_configuration(env, plant());
  Niolib driver({NiolibVariant::kDriver}, driver_messages);
  ASSERT_TRUE(driver.init_dit()) << driver_messages.all();
  EXPECT_TRUE(driver_messages.contains("MapToDIT() Opening file " + path + " to map HBT0"));
  EXPECT_EQ(driver_messages.colour_of("MapToDIT() Opening file " + path + " to map HBT0"), kColourInfo);
  PointerBlock* block = driver.pointer_block();
  EXPECT_STREQ(block->image_name, "HBT0");
  EXPECT_EQ(std::string(block->config_path), path);
  EXPECT_EQ(block->command, kCommandRun);
  EXPECT_EQ(block->client_usage_countdown, kInitialClientUsageTicks);
  EXPECT_EQ(block->ring_enabled, 1u);

  EXPECT_EQ(driver.channel_count(), 2);
  EXPECT_EQ(driver.device_count(), 3);
  EXPECT_EQ(driver.poll_record_count(), 4);
  EXPECT_EQ(by_value(driver.nio_map_chan(1)->ip_address), 0xC0A80327u);
  EXPECT_STREQ(driver.nio_map_dev(2)->name, "PLC3");
  EXPECT_EQ(driver.channel_first_poll_record(1), 3);
  EXPECT_EQ(driver.channel_device_count(0), 2);
  EXPECT_EQ(driver.channel_poll_record_count(0), 3);
  EXPECT_EQ(driver.channel_first_poll_record(2), -1);
  PollRecordHead* rec = driver.nio_map_dit(1);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(address_register_type(rec->address_word), RegisterType::X);
  EXPECT_EQ(by_value(rec->status), kStatusNotPolled);
  std::uint8_t* area1 = driver.nio_find_data(1, kAreaCurrent);
  std::uint8_t* area5 = driver.nio_find_data(1, kAreaExceptions);
  EXPECT_EQ(area1, reinterpret_cast<std::uint8_t*>(rec) + kPollRecordHeadSize);
  EXPECT_EQ(area5 - area1, 3 * 5);  // areas 1..3 of 5 bytes, area 4 empty
  EXPECT_EQ(driver.nio_find_data(1, 9), reinterpret_cast<std::uint8_t*>(rec));
  EXPECT_FALSE(driver_messages.contains("nio_find_data(1,1) different from map"));
}

TEST_F(Niolib_, RefusedImagesAreReportedAndLeaveTheProcessUnmapped) {
  ConfigSpec plan = plant();
  plan.channels.resize(1);
  std::string bytes = testsupport::build_configuration(plan);
  bytes[kFilePrefixSize + 3] = 33;
  testsupport::install_configuration_bytes(env, bytes);
  Niolib driver({NiolibVariant::kDriver}, driver_messages);
  EXPECT_FALSE(driver.init_dit());
  EXPECT_EQ(driver_messages.colour_of("init_dit() bad object counts"), kColourError);
  EXPECT_FALSE(driver.mapped());
  EXPECT_EQ(driver.nio_map_hdr(), nullptr);
  EXPECT_TRUE(driver_messages.contains("nio_map_hdr() failed"));
  EXPECT_EQ(driver.nio_map_chan(0), nullptr);
  EXPECT_TRUE(driver_messages.contains("nio_map_chan(0) NIOLIB Bad Handle"));

  bytes[kFilePrefixSize + 3] = 1;
  bytes[kFilePrefixSize + 2] = '?';
  testsupport::install_configuration_bytes(env, bytes);
  EXPECT_FALSE(driver.init_dit());
  EXPECT_TRUE(driver_messages.contains("init_dit() Bad Lock"));
}

TEST_F(Niolib_, MissingRegistryValueFileAndUnreadableFile) {
  Niolib driver({NiolibVariant::kDriver}, driver_messages);
  EXPECT_FALSE(driver.init_dit());
  EXPECT_TRUE(driver_messages.contains("Failed to open Registry Config File path"));

  std::string missing = env.path("NOPE.HBT");
  platform::registry::set_string(platform::registry::Hive::LocalMachine, kDriverConfigKey, "ConfigFile", missing);
  EXPECT_FALSE(driver.init_dit());
  EXPECT_TRUE(driver_messages.contains("Failed to open file " + missing + " - No such file or directory"));
  EXPECT_EQ(std::string(driver.pointer_block()->config_path), missing) << "the path is published even so";

  // A path that opens but cannot be read gives a zero-filled image, which is then refused.
  std::string directory = env.path("dir.HBT");
  ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
  platform::registry::set_string(platform::registry::Hive::LocalMachine, kDriverConfigKey, "ConfigFile", directory);
  EXPECT_FALSE(driver.init_dit());
  EXPECT_TRUE(driver_messages.contains("Failed to read file " + directory + " - Is a directory")) << driver_messages.all();
  EXPECT_TRUE(driver_messages.contains("init_dit() Corrupted file"));
}

TEST_F(Niolib_, RegionThatCannotBeMappedIsReportedWithTheErrorNumber) {
  testsupport::install_configuration(env, plant());
  Niolib driver({NiolibVariant::kDriver}, driver_messages);
  {
    // The pointer block maps; every mapping after it is refused.
    testsupport::FailCalls refuse(platform::sys::table().map_shared, 2, 1000, ENOMEM, static_cast<void*>(nullptr));
    EXPECT_FALSE(driver.init_dit());
    EXPECT_GE(refuse.failed(), 1);
  }
  EXPECT_TRUE(driver_messages.contains("MapToDriver() MapViewOfFile failed Err=12")) << driver_messages.all();
  EXPECT_EQ(driver_messages.colour_of("MapToDriver() MapViewOfFile failed Err=12"), kColourError);
  EXPECT_FALSE(driver_messages.contains("MapToDriver() Driver file is not loaded"));
  EXPECT_FALSE(platform::SharedRegion::exists("HBT0")) << "the region it could not map is gone again";
  EXPECT_TRUE(driver.init_dit()) << "the next attempt maps it";
}

TEST_F(Niolib_, BadAcronymIsRefusedBeforeAnyRegionExists) {
  testsupport::install_configuration(env, plant());
  NiolibOptions options;
  options.variant = NiolibVariant::kDriver;
  options.acronym = "HBTX";
  Niolib driver(options, driver_messages);
  EXPECT_FALSE(driver.init_dit());
  EXPECT_TRUE(driver_messages.contains("MapToDIT() failed to open DIT Table - Bad Accronym"));
  EXPECT_FALSE(platform::SharedRegion::exists("HBTX_TO_IOC"));
  EXPECT_FALSE(platform::SharedRegion::exists("HBTX0"));
}

TEST_F(Niolib_, ClientSeesTheDriversImageAndAttaches) {
  testsupport::install_configuration(env, plant());
  Niolib driver({NiolibVariant::kDriver}, driver_messages);
  ASSERT_TRUE(driver.init_dit());
  driver.nio_map_dit(0)->status = 0;

  Niolib client(client_options(), client_messages);
  ImageHeader* header = client.nio_map_hdr();
  ASSERT_NE(header, nullptr) << client_messages.all();
  EXPECT_EQ(by_value(client.nio_map_dit(0)->status), 0) << "both map the same bytes";
  EXPECT_TRUE(client_messages.contains("Application image_test connecting Map HBT0")) << client_messages.all();
  client.attach_client();
  client.attach_client();  // a second attach of the same process does not count twice
  EXPECT_EQ(driver.pointer_block()->client_count, 1u);
  EXPECT_EQ(client_messages.colour_of("Conneting 1 Clients Connected"), kColourNotice);
  client.detach_client();
  EXPECT_EQ(driver.pointer_block()->client_count, 0u);
  EXPECT_TRUE(client_messages.contains("Disconnecting 0 Clients Connected"));
}

TEST_F(Niolib_, ClientWithoutARunningDriverFindsNoMap) {
  Niolib client(client_options(), client_messages);
  EXPECT_EQ(client.nio_map_hdr(), nullptr);
  EXPECT_EQ(client_messages.colour_of("MapToDIT() Map HBT0 Does not exist"), kColourWarning);
  EXPECT_EQ(client_messages.count("MapToDIT() Map HBT0 Does not exist"), 2) << "tried twice, 100 ms apart";
  EXPECT_TRUE(client_messages.contains("nio_map_hdr() failed"));
}

TEST_F(Niolib_, ClientFollowsAReloadIntoTheNextGeneration) {
  testsupport::install_configuration(env, plant());
  Niolib driver({NiolibVariant::kDriver}, driver_messages);
  ASSERT_TRUE(driver.init_dit());
  Niolib client(client_options(), client_messages);
  ASSERT_NE(client.nio_map_hdr(), nullptr);
  EXPECT_EQ(client.channel_count(), 2);

  ConfigSpec smaller = plant();
  smaller.channels.resize(1);
  testsupport::install_configuration(env, smaller);
  for (std::uint32_t expected : {1u, 2u, 3u, 1u}) {
    ASSERT_TRUE(driver.nio_poll_reload());
    EXPECT_EQ(driver.pointer_block()->map_generation, expected);
    EXPECT_EQ(driver.pointer_block()->loaded_generation, expected);
    EXPECT_EQ(std::string(driver.pointer_block()->image_name), "HBT" + std::to_string(expected));
    ASSERT_NE(client.nio_map_hdr(), nullptr);
    EXPECT_EQ(client.mapped_generation(), expected);
    EXPECT_EQ(client.channel_count(), 1);
  }
  EXPECT_TRUE(driver_messages.contains("nio_poll_reload()"));
  // Old generations vanish once nobody holds them.
  EXPECT_FALSE(platform::SharedRegion::exists("HBT2"));
  EXPECT_FALSE(platform::SharedRegion::exists("HBT3"));
}

TEST_F(Niolib_, StaleClientGivesUpWhenTheDriverDoesNotRun) {
  testsupport::install_configuration(env, plant());
  Niolib driver({NiolibVariant::kDriver}, driver_messages);
  ASSERT_TRUE(driver.init_dit());
  Niolib client(client_options(), client_messages);
  ASSERT_NE(client.nio_map_hdr(), nullptr);

  // A reload that never finishes: the generation moved on, the loaded one did not.
  PointerBlock* block = driver.pointer_block();
  block->map_generation = 1;
  block->client_usage_countdown = 5;
  std::int64_t start = platform::monotonic_ns();
  EXPECT_FALSE(client.ReMapDIT());
  double seconds = (platform::monotonic_ns() - start) / 1e9;
  EXPECT_GE(seconds, 1.1);
  EXPECT_LT(seconds, 2.0);
  EXPECT_EQ(client_messages.colour_of("ReMapDIT() Driver not running"), kColourError);
  EXPECT_FALSE(client.mapped());
  EXPECT_EQ(block->client_usage_countdown, 5) << "a failed remap is not a use";
}

TEST_F(Niolib_, BadHandlesAndTheFindDataCache) {
  testsupport::install_configuration(env, plant());
  Niolib driver({NiolibVariant::kDriver}, driver_messages);
  ASSERT_TRUE(driver.init_dit());
  Niolib client(client_options(), client_messages);
  ASSERT_NE(client.nio_map_hdr(), nullptr);

  EXPECT_EQ(client.nio_map_chan(2), nullptr);
  EXPECT_TRUE(client_messages.contains("nio_map_chan(2) NIOLIB Bad Handle"));
  EXPECT_EQ(client.nio_map_dev(-1), nullptr);
  EXPECT_TRUE(client_messages.contains("nio_map_dev() NIOLIB Bad Handle"));
  EXPECT_EQ(client.nio_map_dit(4), nullptr);
  EXPECT_TRUE(client_messages.contains("nio_map_dit(4) NIOLIB Bad Handle"));

  client.nio_map_dit(1);
  std::uint8_t* data = client.nio_find_data(3, kAreaCurrent);
  EXPECT_EQ(data, reinterpret_cast<std::uint8_t*>(client.nio_map_dit(3)) + kPollRecordHeadSize);
  EXPECT_EQ(client_messages.colour_of("nio_find_data(3,1) different from map 1"), kColourWarning);
  client_messages.clear();
  client.nio_find_data(3, kAreaWriteFlags);
  EXPECT_TRUE(client_messages.entries().empty()) << "the cached record needs no lookup";

  driver.nio_find_data(0, kAreaCurrent);
  EXPECT_TRUE(driver_messages.contains("nio_find_data(0,1) different from map"));
}

TEST_F(Niolib_, StartStopTimesOutWithoutAPoller) {
  testsupport::install_configuration(env, plant());
  Niolib driver({NiolibVariant::kDriver}, driver_messages);
  ASSERT_TRUE(driver.init_dit());
  Niolib client(client_options(), client_messages);
  ASSERT_NE(client.nio_map_hdr(), nullptr);
  driver.pointer_block()->state = kStateRunning;
  EXPECT_EQ(client.nio_StartStop(1), 1) << "already in the wanted state";
  std::int64_t start = platform::monotonic_ns();
  EXPECT_EQ(client.nio_StartStop(0), 0);
  EXPECT_GE((platform::monotonic_ns() - start) / 1e9, 4.9);
  EXPECT_EQ(driver.pointer_block()->command, kCommandStop);
  EXPECT_EQ(client_messages.colour_of("nio_stop() Failed !"), kColourError);
  EXPECT_EQ(client_messages.colour_of("nio_StartStop()"), kColourNotice);
}

}  // namespace
}  // namespace hbt::image
