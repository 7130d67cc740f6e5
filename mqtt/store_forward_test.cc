#include "mqtt/store_forward.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "testsupport/test_environment.h"

namespace hbt::mqtt {
namespace {

std::vector<uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<std::string> drain(StoreForward& store) {
  std::vector<std::string> out;
  StoredRecord r;
  while (store.front(r)) {
    out.push_back(r.device + ":" + std::string(r.payload.begin(), r.payload.end()));
    store.pop();
  }
  return out;
}

TEST(StoreForward, HandsRecordsBackInTheOrderTheyCame) {
  testsupport::TestEnvironment env;
  StoreForward store(env.path("sf"), 1 << 20);
  std::string error;
  ASSERT_TRUE(store.open(error)) << error;
  EXPECT_TRUE(store.empty());
  for (int i = 0; i < 500; ++i) ASSERT_TRUE(store.append(i % 2 ? "QPLC1" : "APLC2", bytes_of("v" + std::to_string(i))));
  EXPECT_EQ(store.queued(), 500u);
  auto got = drain(store);
  ASSERT_EQ(got.size(), 500u);
  for (int i = 0; i < 500; ++i) EXPECT_EQ(got[i], std::string(i % 2 ? "QPLC1" : "APLC2") + ":v" + std::to_string(i));
  EXPECT_TRUE(store.empty());
  EXPECT_EQ(store.dropped(), 0u);
}

TEST(StoreForward, WhenFullTheOldestGoAndAreCounted) {
  testsupport::TestEnvironment env;
  const uint64_t limit = 16 * 1024;
  StoreForward store(env.path("sf"), limit);
  std::string error;
  ASSERT_TRUE(store.open(error)) << error;
  const std::string payload(100, 'x');
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(store.append("P", bytes_of(std::to_string(i) + payload)));
  EXPECT_LE(store.bytes(), limit);
  EXPECT_GT(store.dropped(), 0u);
  EXPECT_EQ(store.dropped() + store.queued(), 1000u);
  auto got = drain(store);
  ASSERT_FALSE(got.empty());
  // What is left is the newest, still in order, ending with the last one.
  EXPECT_EQ(got.back(), "P:999" + payload);
  const int first = std::stoi(got.front().substr(2));
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], "P:" + std::to_string(first + i) + payload);
  // A record bigger than the whole store is refused, not stored in part.
  EXPECT_FALSE(store.append("P", std::vector<uint8_t>(limit, 1)));
}

TEST(StoreForward, ARestartKeepsWhatWasNotHandedOutYet) {
  testsupport::TestEnvironment env;
  std::string error;
  {
    StoreForward store(env.path("sf"), 1 << 20);
    ASSERT_TRUE(store.open(error)) << error;
    for (int i = 0; i < 10; ++i) store.append("P", bytes_of(std::to_string(i)));
    StoredRecord r;
    for (int i = 0; i < 4; ++i) {
      ASSERT_TRUE(store.front(r));
      store.pop();
    }
    store.sync_head();
  }
  StoreForward again(env.path("sf"), 1 << 20);
  ASSERT_TRUE(again.open(error)) << error;
  EXPECT_EQ(again.queued(), 6u);
  again.append("P", bytes_of("10"));
  EXPECT_EQ(drain(again), (std::vector<std::string>{"P:4", "P:5", "P:6", "P:7", "P:8", "P:9", "P:10"}));
}

TEST(StoreForward, ARecordCutShortOrDamagedEndsItsSegment) {
  testsupport::TestEnvironment env;
  std::string error;
  std::string segment;
  {
    StoreForward store(env.path("sf"), 1 << 20);
    ASSERT_TRUE(store.open(error)) << error;
    for (int i = 0; i < 3; ++i) store.append("P", bytes_of("value" + std::to_string(i)));
    for (const auto& e : std::filesystem::directory_iterator(env.path("sf"))) {
      if (e.path().extension() == ".seg" && std::filesystem::file_size(e.path()) > 0) segment = e.path();
    }
  }
  ASSERT_FALSE(segment.empty());
  // A crash in the middle of the third record.
  std::filesystem::resize_file(segment, std::filesystem::file_size(segment) - 3);
  {
    StoreForward store(env.path("sf"), 1 << 20);
    ASSERT_TRUE(store.open(error)) << error;
    EXPECT_EQ(drain(store), (std::vector<std::string>{"P:value0", "P:value1"}));
  }
  // A flipped bit in the first record of a fresh run: its checksum no longer holds.
  testsupport::TestEnvironment env2;
  {
    StoreForward store(env2.path("sf"), 1 << 20);
    ASSERT_TRUE(store.open(error)) << error;
    store.append("P", bytes_of("good"));
  }
  for (const auto& e : std::filesystem::directory_iterator(env2.path("sf"))) {
    if (e.path().extension() == ".seg" && std::filesystem::file_size(e.path()) > 0) {
      std::string content = testsupport::read_file(e.path());
      content.back() ^= 0x01;
      testsupport::write_file(e.path(), content);
    }
  }
  StoreForward store(env2.path("sf"), 1 << 20);
  ASSERT_TRUE(store.open(error)) << error;
  EXPECT_TRUE(store.empty());
}

TEST(StoreForward, Crc32MatchesTheStandardCheckValue) {
  const std::string text = "123456789";
  EXPECT_EQ(crc32(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size())), 0xCBF43926u);
}

TEST(StoreForward, AFolderThatCannotBeMadeIsAClearError) {
  testsupport::TestEnvironment env;
  testsupport::write_file(env.path("file"), "x");
  StoreForward store(env.path("file") + "/sf", 1 << 20);
  std::string error;
  EXPECT_FALSE(store.open(error));
  EXPECT_NE(error.find("cannot create the store-and-forward folder"), std::string::npos) << error;
}

}  // namespace
}  // namespace hbt::mqtt
