// hbtio's host commands end to end: hbtio loads HBTSTSR.so, which starts the real poller
// through "DriverExe"; the poller talks to mcsim over UDP and TCP. A value written with
// hbtio lands in the simulator's memory and comes back through hbtio read.
#include <fstream>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "testsupport/child_process.h"
#include "testsupport/driver_setup.h"

namespace hbt::hbtio {
namespace {

using testsupport::ChildProcess;
using testsupport::eventually;
using testsupport::run_program;
using testsupport::TestEnvironment;

const std::string kHbtio = std::string(HBT_BIN_DIR) + "/hbtio";
const std::string kMcsim = std::string(HBT_BIN_DIR) + "/mcsim";

// mcsim on loopback ports of the system's choosing, driven through its control socket.
class Simulator {
 public:
  Simulator(const TestEnvironment& env, const std::vector<std::string>& listens)
      : control_(env.path("mcsim.ctl")), ports_file_(env.path("mcsim.ports")) {
    std::vector<std::string> argv{kMcsim, "--control", control_, "--port-file", ports_file_, "--no-stdin", "--quiet"};
    for (const auto& l : listens) {
      argv.push_back("--listen");
      argv.push_back(l);
    }
    process_ = std::make_unique<ChildProcess>(argv, false, env.dir());
    ready_ = eventually(
        [&] {
          std::ifstream in(ports_file_);
          std::string endpoint;
          unsigned port;
          ports_.clear();
          while (in >> endpoint >> port) ports_.push_back(port);
          return ports_.size() == listens.size();
        },
        5000);
  }
  ~Simulator() {
    if (ready_) send("quit");
    if (!process_->wait_exit(2000)) process_->kill_now();
  }
  bool ready() const { return ready_; }
  std::uint32_t port(std::size_t i) const { return ports_.at(i); }
  // The reply line to one control line ("ok ..." or "error ...").
  std::string send(const std::string& line) {
    std::string out = run_program({kMcsim, "--send", control_, line}, 5000).output;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }

 private:
  std::string control_, ports_file_;
  std::unique_ptr<ChildProcess> process_;
  std::vector<std::uint32_t> ports_;
  bool ready_ = false;
};

testsupport::RecordSpec fast(image::RegisterType type, std::uint32_t start, std::uint16_t length,
                             image::DataType data_type, image::ExceptionType exceptions) {
  testsupport::RecordSpec r;
  r.exception = exceptions;
  r.type = type;
  r.start = start;
  r.length = length;
  r.data_type = data_type;
  r.poll_time = 10;  // 0.1 s
  return r;
}

// PLC1 on a UDP channel, PLC2 on a TCP channel, the same records on both.
testsupport::ConfigSpec plant(std::uint32_t udp_port, std::uint32_t tcp_port) {
  testsupport::ConfigSpec config;
  config.channels.resize(2);
  const char* names[] = {"PLC1", "PLC2"};
  for (int c = 0; c < 2; ++c) {
    auto& ch = config.channels[c];
    ch.ip_port = c == 0 ? udp_port : tcp_port;
    ch.tcp = c == 1;
    ch.reply_timeout = 50;
    ch.delay = 50;
    ch.devices.resize(1);
    ch.devices[0].name = names[c];
    ch.devices[0].records = {
        fast(image::RegisterType::D, 100, 10, image::DataType::Unsigned, image::ExceptionType::Analog),
        fast(image::RegisterType::D, 200, 10, image::DataType::Float, image::ExceptionType::Disabled),
        fast(image::RegisterType::D, 300, 10, image::DataType::Ascii, image::ExceptionType::Ascii),
        fast(image::RegisterType::M, 0, 32, image::DataType::Digital, image::ExceptionType::Digital),
    };
  }
  return config;
}

class HostCommands : public ::testing::Test {
 protected:
  TestEnvironment env;
  std::unique_ptr<Simulator> plc;

  void SetUp() override {
    plc = std::make_unique<Simulator>(env, std::vector<std::string>{"udp:0:3e-binary", "tcp:0:3e-binary"});
    ASSERT_TRUE(plc->ready());
    testsupport::install_configuration(env, plant(plc->port(0), plc->port(1)));
    testsupport::install_driver_exe("S");
  }
  void TearDown() override { run_program({kHbtio, "shutdown"}); }

  testsupport::ProgramResult hbtio(std::vector<std::string> args) {
    args.insert(args.begin(), kHbtio);
    return run_program(args, 30000, env.dir());
  }
  // Reads until the JSON line shows `value` (the poller reads back on its own schedule).
  bool reads_back(const std::vector<std::string>& read, const std::string& value, std::string* last) {
    return eventually(
        [&] {
          std::vector<std::string> args{"--json", "read"};
          args.insert(args.end(), read.begin(), read.end());
          *last = hbtio(args).output;
          return last->find("\"value\":" + value + ",") != std::string::npos;
        },
        8000);
  }
};

TEST_F(HostCommands, WrittenValuesReachThePlcAndReadBackOverUdpAndTcp) {
  for (const std::string device : {"PLC1", "PLC2"}) {
    SCOPED_TRACE(device);
    const std::string word = device + ":D:105";
    auto write = hbtio({"write", word, "1234"});
    ASSERT_EQ(write.exit_code, 0) << write.output;
    EXPECT_TRUE(eventually([&] { return plc->send("get D105") == "ok 1234"; }, 8000)) << plc->send("get D105");
    std::string last;
    EXPECT_TRUE(reads_back({word}, "1234", &last)) << last;
    EXPECT_NE(last.find("\"status\":0,\"quality\":192,\"timestamp\":\"20"), std::string::npos) << last;

    const std::string bit = device + ":M:3";
    ASSERT_EQ(hbtio({"write", bit, "1"}).exit_code, 0);
    EXPECT_TRUE(eventually([&] { return plc->send("get M3") == "ok 1"; }, 8000));
    EXPECT_TRUE(reads_back({bit}, "1", &last)) << last;

    const std::string real = device + ":D:202";
    ASSERT_EQ(hbtio({"write", real, "2.5"}).exit_code, 0);
    // 2.5f is 0x40200000: low word first.
    EXPECT_TRUE(eventually([&] { return plc->send("get D202 2") == "ok 0 16416"; }, 8000)) << plc->send("get D202 2");
    EXPECT_TRUE(reads_back({real}, "2.5", &last)) << last;

    const std::string text = device + ":D:300";
    ASSERT_EQ(hbtio({"write", text, "HELLO", "--kind", "text"}).exit_code, 0);
    // "HE" "LL" "O\0", low byte first.
    EXPECT_TRUE(eventually([&] { return plc->send("get D300 3") == "ok 17736 19532 79"; }, 8000))
        << plc->send("get D300 3");
    EXPECT_TRUE(reads_back({text, "--kind", "text", "--count", "5"}, "\"HELLO\"", &last)) << last;

    // Clear the simulator for the other channel's round (both front the same PLC memory).
    plc->send("fill D100 300 0");
    plc->send("fill M0 32 0");
  }
}

TEST_F(HostCommands, ValuesSetInThePlcAreReadWithConditioningAndArrays) {
  ASSERT_EQ(plc->send("set D101 4095 0 2048"), "ok 3");
  std::string last;
  EXPECT_TRUE(reads_back({"PLC1:D:101", "--sig", "12BN", "--egu", "0,100"}, "100", &last)) << last;
  auto array = hbtio({"--json", "read", "PLC1:D:101", "--count", "3"});
  EXPECT_EQ(array.exit_code, 0) << array.output;
  EXPECT_NE(array.output.find("\"element\":2,\"value\":2048,"), std::string::npos) << array.output;
  auto human = hbtio({"read", "PLC1:D:103"});
  EXPECT_NE(human.output.find("PLC1:D:103 = 2048  quality 0xC0 (good)"), std::string::npos) << human.output;

  auto refused = hbtio({"read", "PLC1:D:999"});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.output.find("NIO-*IO Address Error; Data not found -PLC1:D:999"), std::string::npos)
      << refused.output;
  EXPECT_EQ(hbtio({"read"}).exit_code, 2);
  EXPECT_EQ(hbtio({"read", "PLC1:D:100", "--egu", "5,1"}).exit_code, 2);
}

TEST_F(HostCommands, WatchReportsChangesByException) {
  ASSERT_EQ(hbtio({"write", "PLC1:D:107", "1"}).exit_code, 0);  // starts the poller
  std::string last;
  ASSERT_TRUE(reads_back({"PLC1:D:107"}, "1", &last)) << last;
  ChildProcess watch({kHbtio, "--json", "watch", "PLC1:D:107", "PLC1:M:9", "PLC1:D:204", "--seconds", "20"}, false,
                     env.dir());
  ASSERT_TRUE(watch.wait_for_output("\"address\":\"PLC1:D:204\",\"value\":0,", 8000)) << watch.output();
  EXPECT_NE(watch.output().find("PLC1:D:204: not reported on change (its poll record keeps no exceptions)"),
            std::string::npos);
  ASSERT_EQ(plc->send("set D107 4242"), "ok 1");
  EXPECT_TRUE(watch.wait_for_output("{\"address\":\"PLC1:D:107\",\"value\":4242,", 8000)) << watch.output();
  ASSERT_EQ(plc->send("set M9 1"), "ok 1");
  EXPECT_TRUE(watch.wait_for_output("{\"address\":\"PLC1:M:9\",\"value\":1,", 8000)) << watch.output();
  // A change is reported once: the read that printed it acknowledged it.
  platform::sleep_ms(500);
  const std::string& out = watch.output();
  std::size_t first = out.find("\"value\":4242,");
  EXPECT_EQ(out.find("\"value\":4242,", first + 1), std::string::npos) << out;
}

TEST_F(HostCommands, EnumerationStatisticsAndLiveness) {
  ASSERT_EQ(hbtio({"write", "PLC2:D:100", "7"}).exit_code, 0);
  std::string last;
  ASSERT_TRUE(reads_back({"PLC2:D:100"}, "7", &last)) << last;

  auto devices = hbtio({"--json", "devices"});
  EXPECT_EQ(devices.output, "{\"device\":\"PLC1\"}\n{\"device\":\"PLC2\"}\n");
  auto records = hbtio({"pollrecs", "plc2"});
  EXPECT_EQ(records.output, "1  D:100 - D:109\n2  D:200 - D:209\n3  D:300 - D:309\n4  M:0 - M:31\n");
  EXPECT_EQ(hbtio({"pollrecs", "PLC9"}).exit_code, 1);

  auto stats = hbtio({"--json", "stats", "2"});
  EXPECT_EQ(stats.exit_code, 0) << stats.output;
  EXPECT_NE(stats.output.find("{\"channel\":2,\"in_service\":true,\"requests_sent\":"), std::string::npos)
      << stats.output;
  EXPECT_EQ(stats.output.find("\"requests_sent\":0,"), std::string::npos) << "the poller has been busy";
  auto reset = hbtio({"--json", "stats", "2", "--reset"});
  EXPECT_EQ(reset.exit_code, 0) << reset.output;
  EXPECT_EQ(hbtio({"stats", "3"}).exit_code, 1) << "there is no channel 3";

  auto status = hbtio({"--json", "status"});
  EXPECT_EQ(status.exit_code, 0) << status.output;
  EXPECT_NE(status.output.find("\"watchdog_advancing\":true"), std::string::npos) << status.output;
  EXPECT_NE(status.output.find("\"server_status\":\"Brenlow Ethernet Driver Version 7.9.21\""), std::string::npos);
}

}  // namespace
}  // namespace hbt::hbtio
