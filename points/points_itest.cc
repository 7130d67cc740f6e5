// The points library over a real driver: the simulator as the PLC, the poller, and sessions
// through the C interface (which loads the host library as a host does). Values of every
// type against the simulator's, writes read back from it, a stalled poller seen by a new
// session, and the change feed while another thread reloads the poller again and again.
#include <signal.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "hbt_points.h"
#include "image/niolib.h"
#include "testsupport/mcsim_peer.h"

extern "C" int points_c_client_run(const char* item_id, int write_value, char* error, size_t error_size);

namespace hbt::points {
namespace {

using image::DataType;
using image::RegisterType;
using testsupport::ConfigSpec;
using testsupport::eventually;
using testsupport::McsimPeer;
using testsupport::PollerProcess;
using testsupport::RecordSpec;

RecordSpec rec(RegisterType t, std::uint32_t start, std::uint16_t length, DataType dt) {
  RecordSpec r;
  r.type = t;
  r.start = start;
  r.length = length;
  r.data_type = dt;
  r.poll_time = 10;
  return r;
}

ConfigSpec plant(unsigned port, bool second = false) {
  ConfigSpec c;
  auto& ch = c.channels[0];
  ch.ip_port = port;
  ch.retries = 1;
  ch.reply_timeout = 20;
  ch.delay = 20;
  ch.devices[0].name = "QPLC1";
  ch.devices[0].description = "Mixing line";
  ch.devices[0].records = {rec(RegisterType::D, 0, 10, DataType::Unsigned),
                           rec(RegisterType::D, 100, 10, DataType::Signed),
                           rec(RegisterType::D, 200, 8, DataType::Float),
                           rec(RegisterType::D, 300, 4, DataType::LongSigned),
                           rec(RegisterType::D, 310, 4, DataType::LongUnsigned),
                           rec(RegisterType::D, 400, 10, DataType::Ascii),
                           rec(RegisterType::M, 0, 32, DataType::Digital),
                           rec(RegisterType::X, 0, 32, DataType::Digital),
                           rec(RegisterType::D, 500, 2, DataType::Digital),
                           rec(RegisterType::W, 0x10, 16, DataType::Unsigned)};
  if (second) {
    // The floats go, another record comes.
    auto& r = ch.devices[0].records;
    r.erase(r.begin() + 2);
    r.push_back(rec(RegisterType::D, 600, 4, DataType::Unsigned));
  }
  return c;
}

// A session of the C interface, closed when the test ends.
struct Points {
  hbt_points* s = nullptr;
  std::uint32_t generation = 0;
  const hbt_point_info* points = nullptr;
  std::uint32_t count = 0;

  explicit Points(std::uint32_t stall_ms = 0, const char* tag_file = nullptr) {
    hbt_points_options o{};
    o.size = sizeof o;
    o.update_ms = 20;
    o.stall_ms = stall_ms;
    o.tag_file = tag_file;
    EXPECT_EQ(hbt_points_open(&o, &s), HBT_POINTS_OK) << hbt_points_last_error(nullptr);
    if (s) list();
  }
  ~Points() { hbt_points_close(s); }
  void list() {
    ASSERT_EQ(hbt_points_list(s, &generation, nullptr, nullptr, nullptr, nullptr, &points, &count), HBT_POINTS_OK);
  }
  std::uint32_t id(const std::string& item) const {
    for (std::uint32_t p = 0; p < count; ++p)
      if (item == points[p].item_id) return p;
    ADD_FAILURE() << "no point " << item;
    return 0;
  }
  hbt_point_value read(const std::string& item) {
    hbt_point_value v{};
    const std::uint32_t p = id(item);
    EXPECT_EQ(hbt_points_read(s, &p, 1, &v), HBT_POINTS_OK);
    return v;
  }
  std::string text(const std::string& item) {
    hbt_point_value v = read(item);
    return v.text ? std::string(v.text, v.text_length) : "";
  }
  std::int32_t write(const std::string& item, hbt_point_value v) {
    v.id = id(item);
    std::int32_t result = -1;
    EXPECT_EQ(hbt_points_write(s, &v, 1, &result), HBT_POINTS_OK);
    return result;
  }
};

hbt_point_value integer(std::int64_t i) {
  hbt_point_value v{};
  v.type = HBT_POINT_INT32;
  v.integer = i;
  return v;
}
hbt_point_value real(double d) {
  hbt_point_value v{};
  v.type = HBT_POINT_DOUBLE;
  v.real = d;
  return v;
}
hbt_point_value text(const char* t) {
  hbt_point_value v{};
  v.type = HBT_POINT_STRING;
  v.text = t;
  v.text_length = static_cast<std::uint32_t>(std::strlen(t));
  return v;
}

class PointsOverADriver : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plc.ready()) << plc.output();
    ASSERT_TRUE(plc.ok("set D0 1 2 3 65535"));
    ASSERT_TRUE(plc.ok("set D100 65534 7"));
    ASSERT_TRUE(plc.ok("set D200 0 0x3FC0 0 0xC2F7"));       // 1.5, -123.5
    ASSERT_TRUE(plc.ok("set D300 0x32EB 0xF8A4 0xFFFF 0x7FFF"));  // -123456789, 2147483647
    ASSERT_TRUE(plc.ok("set D310 0xFFFF 0xFFFF"));            // 4294967295
    ASSERT_TRUE(plc.ok("set D400 0x4548 0x4C4C 0x004F 0x4A4A"));  // "HELLO"
    ASSERT_TRUE(plc.ok("set M5 1"));
    ASSERT_TRUE(plc.ok("set X1F 1"));
    ASSERT_TRUE(plc.ok("set D501 0x8008"));
    ASSERT_TRUE(plc.ok("set W1A 4660"));
    poller = std::make_unique<PollerProcess>(env, plant(plc.port(0)));
    ASSERT_TRUE(poller->mapped()) << poller->output();
  }
  bool good(Points& p, const std::string& item) {
    return eventually([&] { return p.read(item).quality == HBT_QUALITY_GOOD; }, 10000);
  }

  testsupport::TestEnvironment env;
  McsimPeer plc{env.dir(), {"udp:0:3e-binary"}};
  std::unique_ptr<PollerProcess> poller;
};

TEST_F(PointsOverADriver, EveryTypeDecodesAsTheSimulatorHoldsIt) {
  Points p;
  ASSERT_NE(p.s, nullptr);
  ASSERT_TRUE(good(p, "QPLC1:W:1A"));
  ASSERT_TRUE(eventually([&] { return p.read("QPLC1:D:3").integer == 65535 && p.read("QPLC1:W:1A").integer == 4660; }, 10000));
  EXPECT_EQ(p.read("QPLC1:D:0").integer, 1);
  EXPECT_EQ(p.read("QPLC1:D:100").integer, -2);
  EXPECT_EQ(p.read("QPLC1:D:101").integer, 7);
  EXPECT_EQ(p.read("QPLC1:D:200").real, 1.5);
  EXPECT_EQ(p.read("QPLC1:D:202").real, -123.5);
  EXPECT_EQ(p.read("QPLC1:D:300").integer, -123456789);
  EXPECT_EQ(p.read("QPLC1:D:302").integer, 2147483647);
  EXPECT_EQ(p.read("QPLC1:D:310").integer, 4294967295);
  EXPECT_EQ(p.text("QPLC1:D:400$20"), "HELLO");
  EXPECT_EQ(p.read("QPLC1:M:5").integer, 1);
  EXPECT_EQ(p.read("QPLC1:M:4").integer, 0);
  EXPECT_EQ(p.read("QPLC1:X:1F").integer, 1);
  EXPECT_EQ(p.read("QPLC1:D:501:3").integer, 1);
  EXPECT_EQ(p.read("QPLC1:D:501:15").integer, 1);
  EXPECT_EQ(p.read("QPLC1:D:501:14").integer, 0);
  EXPECT_GT(p.read("QPLC1:D:0").source_time_ms, 1'600'000'000'000);

  // The feed follows the simulator: every value it gives ends at the simulator's.
  std::uint64_t cursor = 0;
  std::vector<hbt_point_value> batch(512);
  std::uint32_t n = 0, more = 0;
  do {
    ASSERT_EQ(hbt_points_changes(p.s, &cursor, batch.data(), 512, &n, &more), HBT_POINTS_OK);
  } while (more);
  for (int i = 1; i <= 5; ++i) ASSERT_TRUE(plc.ok("set D5 " + std::to_string(1000 + i)));
  std::map<std::string, std::int64_t> last;
  ASSERT_TRUE(eventually(
      [&] {
        hbt_points_wait(p.s, 50);
        EXPECT_EQ(hbt_points_changes(p.s, &cursor, batch.data(), 512, &n, &more), HBT_POINTS_OK);
        for (std::uint32_t i = 0; i < n; ++i) last[p.points[batch[i].id].item_id] = batch[i].integer;
        return last["QPLC1:D:5"] == 1005;
      },
      10000));
  EXPECT_EQ(last.count("QPLC1:D:6"), 0u) << "a value that did not change is not in the feed";
}

TEST_F(PointsOverADriver, WritesOfEveryKindReachTheSimulator) {
  std::string tags = env.path("tags.txt");
  testsupport::write_file(tags, "QPLC1:D:6|LIN,0,100\nQPLC1:D:7 readonly\n");
  Points p(0, tags.c_str());
  ASSERT_NE(p.s, nullptr);
  ASSERT_TRUE(good(p, "QPLC1:W:1A"));
  auto mcsim_has = [&](const std::string& get, const std::string& want) {
    return eventually([&] { return plc.control("get " + get) == "ok " + want; }, 10000);
  };
  EXPECT_EQ(p.write("QPLC1:D:1", integer(54321)), HBT_WRITE_OK);
  EXPECT_TRUE(mcsim_has("D1", "54321"));
  EXPECT_EQ(p.write("QPLC1:D:102", integer(-5)), HBT_WRITE_OK);
  EXPECT_TRUE(mcsim_has("D102", "65531"));
  EXPECT_EQ(p.write("QPLC1:D:204", real(-2.5)), HBT_WRITE_OK);
  EXPECT_TRUE(mcsim_has("D204 2", "0 49184"));  // -2.5f = 0xC0200000
  EXPECT_EQ(p.write("QPLC1:D:300", integer(-16777217)), HBT_WRITE_OK);
  EXPECT_TRUE(mcsim_has("D300 2", "65535 65279"));
  EXPECT_EQ(p.write("QPLC1:D:312", integer(4000000000)), HBT_WRITE_OK);
  EXPECT_TRUE(mcsim_has("D312 2", "10240 61035"));
  EXPECT_EQ(p.write("QPLC1:M:9", integer(1)), HBT_WRITE_OK);
  EXPECT_TRUE(mcsim_has("M9", "1"));
  EXPECT_EQ(p.write("QPLC1:D:500:2", integer(1)), HBT_WRITE_OK);
  EXPECT_TRUE(mcsim_has("D500", "4"));
  EXPECT_EQ(p.write("QPLC1:W:1B", integer(0xBEEF)), HBT_WRITE_OK);
  EXPECT_TRUE(mcsim_has("W1B", "48879"));
  EXPECT_EQ(p.write("QPLC1:D:400$20", text("BYE")), HBT_WRITE_OK);
  EXPECT_TRUE(mcsim_has("D400 4", "22850 69 0 0"));
  EXPECT_EQ(p.write("QPLC1:D:6|LIN,0,100", real(50)), HBT_WRITE_OK);
  EXPECT_TRUE(mcsim_has("D6", "32768"));
  // Cut to fit: the simulator holds what the host made of it.
  EXPECT_EQ(p.write("QPLC1:D:103", integer(99999)), HBT_WRITE_CLAMPED);
  EXPECT_TRUE(mcsim_has("D103", "32767"));
  EXPECT_EQ(p.write("QPLC1:D:6|LIN,0,100", real(250)), HBT_WRITE_CLAMPED);
  EXPECT_TRUE(mcsim_has("D6", "65535"));
  // Refused, and nothing reaches the simulator.
  EXPECT_EQ(p.write("QPLC1:D:2", text("7")), HBT_WRITE_TYPE_MISMATCH);
  EXPECT_EQ(p.write("QPLC1:D:2", real(std::nan(""))), HBT_WRITE_OUT_OF_RANGE);
  EXPECT_EQ(p.write("QPLC1:D:7", integer(9)), HBT_WRITE_NOT_WRITABLE);
  hbt_point_value bad = integer(1);
  bad.id = p.count + 5;
  std::int32_t result = -1;
  hbt_points_write(p.s, &bad, 1, &result);
  EXPECT_EQ(result, HBT_WRITE_UNKNOWN_POINT);
  // The read-back comes through the feed like any change.
  EXPECT_TRUE(eventually([&] { return p.read("QPLC1:D:1").integer == 54321; }, 10000));
  EXPECT_EQ(plc.control("get D2"), "ok 3");
  EXPECT_EQ(plc.control("get D7"), "ok 0");

  // A PLC that stops answering: its records fail one by one, and writes to a failed one are
  // refused.
  ASSERT_TRUE(plc.ok("fault udp:" + std::to_string(plc.port(0)) + " silent"));
  std::string failed;
  const char* firsts[] = {"QPLC1:D:8", "QPLC1:D:108", "QPLC1:D:206", "QPLC1:D:302", "QPLC1:D:312",
                          "QPLC1:M:30", "QPLC1:X:1E", "QPLC1:D:500:9", "QPLC1:W:1E"};
  ASSERT_TRUE(eventually(
      [&] {
        for (const char* item : firsts)
          if (p.read(item).quality == HBT_QUALITY_COMM_FAILURE) failed = item;
        return !failed.empty();
      },
      15000));
  hbt_point_value last = p.read(failed);
  EXPECT_EQ(p.write(failed, integer(1)), HBT_WRITE_COMM_FAILURE) << failed;
  ASSERT_TRUE(plc.ok("fault udp:" + std::to_string(plc.port(0)) + " silent off"));
  EXPECT_TRUE(good(p, failed));
  EXPECT_EQ(p.read(failed).integer, last.integer) << "nothing was written";
}

TEST_F(PointsOverADriver, ANewSessionSeesAHungPollerAsStalled) {
  Points before(300);
  ASSERT_TRUE(good(before, "QPLC1:D:0"));
  ASSERT_EQ(::kill(poller->pid(), SIGSTOP), 0);
  {
    Points after(300);
    ASSERT_NE(after.s, nullptr);
    EXPECT_EQ(after.read("QPLC1:D:0").quality, HBT_QUALITY_STALLED) << "from the very first read";
    std::uint64_t cursor = 0;
    hbt_point_value v[8];
    std::uint32_t n = 0, more = 0;
    ASSERT_EQ(hbt_points_changes(after.s, &cursor, v, 8, &n, &more), HBT_POINTS_OK);
    for (std::uint32_t i = 0; i < n; ++i) EXPECT_EQ(v[i].quality, HBT_QUALITY_STALLED);
    EXPECT_TRUE(eventually([&] { return before.read("QPLC1:D:0").quality == HBT_QUALITY_STALLED; }, 5000))
        << "and the session that was there sees it too";
  }
  ASSERT_EQ(::kill(poller->pid(), SIGCONT), 0);
  EXPECT_TRUE(good(before, "QPLC1:D:0"));
}

TEST_F(PointsOverADriver, TheFeedStaysSoundWhileThePollerReloadsAgainAndAgain) {
  Points p;
  ASSERT_TRUE(good(p, "QPLC1:D:0"));
  // Every item ID either configuration gives: the first's now, the second's from its file.
  std::set<std::string> known;
  for (std::uint32_t i = 0; i < p.count; ++i) known.insert(p.points[i].item_id);
  for (const char* item : {"QPLC1:D:600", "QPLC1:D:601", "QPLC1:D:602", "QPLC1:D:603"}) known.insert(item);

  std::atomic<bool> stop{false};
  std::atomic<int> reloads{0};
  std::thread reloader([&] {
    testsupport::RecordingSink sink;
    image::Niolib editor(image::NiolibOptions{}, sink);
    for (int i = 0; i < 6; ++i) {
      testsupport::install_configuration(env, plant(plc.port(0), i % 2 == 0), i % 2 ? "A.HBT" : "B.HBT");
      if (editor.ReloadConfiguration("", "") == 1) ++reloads;
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    stop = true;
  });
  int stale = 0, batches = 0;
  bool saw_second = false;
  std::uint64_t cursor = 0;
  std::vector<hbt_point_value> batch(256);
  while (!stop) {
    hbt_points_wait(p.s, 20);
    std::uint32_t n = 0, more = 0;
    const std::int32_t r = hbt_points_changes(p.s, &cursor, batch.data(), 256, &n, &more);
    if (r == HBT_POINTS_E_STALE) {
      ++stale;
      p.list();
      cursor = 0;
      continue;
    }
    ASSERT_EQ(r, HBT_POINTS_OK);
    ++batches;
    for (std::uint32_t i = 0; i < n; ++i) {
      ASSERT_LT(batch[i].id, p.count);
      const std::string item = p.points[batch[i].id].item_id;
      ASSERT_TRUE(known.count(item)) << item;
      ASSERT_EQ(batch[i].type, p.points[batch[i].id].type) << item;
      saw_second |= item == "QPLC1:D:600";
    }
    // Reads by the ids of the list held, whatever the poller has loaded meanwhile.
    const std::uint32_t ids[2] = {0, p.count - 1};
    hbt_point_value v[2];
    ASSERT_EQ(hbt_points_read(p.s, ids, 2, v), HBT_POINTS_OK);
    ASSERT_EQ(v[1].type, p.points[p.count - 1].type);
  }
  reloader.join();
  EXPECT_EQ(reloads.load(), 6);
  EXPECT_GE(stale, 2) << "the generations the reader met were announced";
  EXPECT_TRUE(saw_second);
  EXPECT_GT(batches, 10);
  // The last configuration loaded is the first one again.
  ASSERT_TRUE(eventually(
      [&] {
        std::uint32_t n = 0, more = 0;
        if (hbt_points_changes(p.s, &cursor, batch.data(), 256, &n, &more) == HBT_POINTS_E_STALE) p.list();
        return p.count > 0 && p.read("QPLC1:D:200").quality == HBT_QUALITY_GOOD;
      },
      10000));
  EXPECT_EQ(p.read("QPLC1:D:200").real, 1.5);
}

TEST_F(PointsOverADriver, APlainCCallerThroughTheHeaderAlone) {
  char error[256] = "";
  EXPECT_EQ(points_c_client_run("QPLC1:D:9", 4321, error, sizeof error), 0) << error;
  EXPECT_TRUE(eventually([&] { return plc.control("get D9") == "ok 4321"; }, 10000));
}

TEST(PointsCInterface, BadArgumentsAndAMissingHostLibraryAreRefusedPlainly) {
  testsupport::TestEnvironment env;
  hbt_points* s = reinterpret_cast<hbt_points*>(1);
  EXPECT_EQ(hbt_points_open(nullptr, nullptr), HBT_POINTS_E_ARGUMENT);
  hbt_points_options o{};
  o.size = 8;
  EXPECT_EQ(hbt_points_open(&o, &s), HBT_POINTS_E_ARGUMENT);
  EXPECT_EQ(s, nullptr);
  EXPECT_STREQ(hbt_points_last_error(nullptr), "hbt_points_options.size is too small");
  o.size = sizeof o;
  o.host_library = "/nonexistent/HBTSTSR.so";
  EXPECT_EQ(hbt_points_open(&o, &s), HBT_POINTS_E_NO_DRIVER);
  EXPECT_NE(std::string(hbt_points_last_error(nullptr)).find("/nonexistent/HBTSTSR.so"), std::string::npos);
  o.host_library = nullptr;
  o.tag_file = "/nonexistent/tags.txt";
  EXPECT_EQ(hbt_points_open(&o, &s), HBT_POINTS_E_TAGS);
  EXPECT_STREQ(hbt_points_last_error(nullptr), "/nonexistent/tags.txt: No such file or directory");
  std::uint64_t cursor = 0;
  std::uint32_t n = 0, more = 0;
  EXPECT_EQ(hbt_points_changes(nullptr, &cursor, nullptr, 0, &n, &more), HBT_POINTS_E_ARGUMENT);
  EXPECT_EQ(hbt_points_read(nullptr, nullptr, 0, nullptr), HBT_POINTS_E_ARGUMENT);
  EXPECT_EQ(hbt_points_wait(nullptr, 0), HBT_POINTS_E_ARGUMENT);
  hbt_points_close(nullptr);
}

}  // namespace
}  // namespace hbt::points
