// The doctor's reasoning against a simulated PLC (the simulator's own request handling,
// without sockets): each wrong setting is named, with the value that would work, and the
// driver's image is only read.
#include "tools/hbtio/doctor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "poller/message_routine.h"
#include "poller/poller.h"
#include "testsupport/driver_setup.h"
#include "tools/mcsim/cpu_model.h"
#include "tools/mcsim/frames.h"

namespace hbt::hbtio {
namespace {

using image::CpuType;
using image::RegisterType;
using testsupport::ConfigSpec;
using testsupport::RecordSpec;

// A PLC behind a UDP port, as the simulator answers datagrams.
class SimulatedLink final : public Link {
 public:
  explicit SimulatedLink(const char* frame) : format_(*mcsim::parse_frame_format(frame)) {}

  mcsim::Plc plc{"test"};
  bool silent = false;
  bool refused = false;
  double reply_ms = 2;  // how long each reply takes
  int requests = 0;
  std::function<void()> meanwhile;  // what the poller does while the doctor waits

  Exchange exchange(poller::ChannelBlock& block, int wait_ms) override {
    ++requests;
    if (meanwhile) meanwhile();
    Exchange ex;
    if (refused) {
      ex.result = ProbeResult::kRefused;
      ex.error = ECONNREFUSED;
      return ex;
    }
    const mcsim::Outcome out = mcsim::handle_request(format_, {block.request, block.request_length}, plc);
    if (silent || !out.answered || reply_ms > wait_ms) {
      ex.ms = wait_ms;
      return ex;
    }
    ex.result = ProbeResult::kReply;
    ex.bytes = out.reply;
    ex.ms = reply_ms;
    return ex;
  }

 private:
  mcsim::FrameFormat format_;
};

struct Doctor : ::testing::Test {
  testsupport::TestEnvironment env;
  poller::MessageRoutine routine{nullptr};
  std::unique_ptr<poller::Poller> poller;

  // One channel, one PLC named PLC1 with the given CPU type and records.
  static ConfigSpec plant(CpuType cpu, image::Coding coding, std::vector<RecordSpec> records) {
    ConfigSpec plan;
    plan.channels[0].reply_timeout = 20;  // 200 ms
    plan.channels[0].devices[0].cpu = cpu;
    plan.channels[0].devices[0].coding = coding;
    plan.channels[0].devices[0].records = std::move(records);
    return plan;
  }
  static ConfigSpec q_plant() { return plant(CpuType::QSeries, image::Coding::Binary, {RecordSpec{RegisterType::D, 100, 10}}); }

  void load(const ConfigSpec& plan) {
    testsupport::install_configuration(env, plan);
    poller = std::make_unique<poller::Poller>(routine);
    ASSERT_NE(poller->niolib.nio_map_hdr(), nullptr);
  }
  image::DeviceRecord& device(int j = 0) { return *poller->niolib.nio_map_dev(j); }
  image::ChannelRecord& channel(int c = 0) { return *poller->niolib.nio_map_chan(c); }
  DeviceDiagnosis diagnose(Link& link, int c = 0, int j = 0) {
    return diagnose_device(poller->niolib, c, j, link, channel(c).stats, DoctorOptions{3});
  }
  // The one finding that is not about reply times, or a failure.
  static const Finding& only(const DeviceDiagnosis& d) {
    static const Finding none{"(none)"};
    const Finding* found = nullptr;
    for (const Finding& f : d.findings) {
      if (found != nullptr) {
        ADD_FAILURE() << "more than one finding: " << found->diagnosis << ", " << f.diagnosis << ": " << f.problem;
        return *found;
      }
      found = &f;
    }
    if (found == nullptr) ADD_FAILURE() << "no finding";
    return found ? *found : none;
  }
  static std::int64_t number(const Finding& f, const std::string& name) {
    for (const auto& [n, v] : f.numbers)
      if (n == name) return v;
    ADD_FAILURE() << "no " << name << " in " << f.diagnosis;
    return -1;
  }
  static std::string text(const Finding& f, const std::string& name) {
    for (const auto& [n, v] : f.texts)
      if (n == name) return v;
    ADD_FAILURE() << "no " << name << " in " << f.diagnosis;
    return {};
  }
};

TEST_F(Doctor, AHealthyPlcIsReportedOkWithItsReplyTimes) {
  load(q_plant());
  SimulatedLink plc("3e-binary");
  const DeviceDiagnosis d = diagnose(plc);
  EXPECT_EQ(d.name, "PLC1");
  EXPECT_EQ(d.frame, "3E binary");
  EXPECT_EQ(d.address, "127.0.0.1");
  const Finding& f = only(d);
  EXPECT_EQ(f.diagnosis, "ok");
  EXPECT_EQ(f.severity, Severity::kOk);
  EXPECT_NE(f.problem.find("3E binary"), std::string::npos) << f.problem;
  EXPECT_FALSE(d.has(Severity::kError));
}

TEST_F(Doctor, AnotherFrameTypeOrCodingIsNamedWithTheSettingToChange) {
  struct Case {
    CpuType cpu;
    image::Coding coding;
    const char* plc_frame;
    const char* diagnosis;
    const char* answered;
    const char* fix;
  };
  const Case cases[] = {
      {CpuType::QSeries, image::Coding::Binary, "1e-binary", "frame_type", "1E binary", "A-series type"},
      {CpuType::QSeries, image::Coding::Binary, "1e-ascii", "frame_type", "1E ASCII", "Protocol Type to ASCII"},
      {CpuType::AnA, image::Coding::Binary, "3e-binary", "frame_type", "3E binary", "CPU Type to Q Series"},
      {CpuType::AnU, image::Coding::Ascii, "3e-binary", "frame_type", "3E binary", "CPU Type to Q Series"},
      {CpuType::AnA, image::Coding::Binary, "1e-ascii", "coding", "1E ASCII", "Protocol Type to ASCII"},
      {CpuType::AnN, image::Coding::Ascii, "1e-binary", "coding", "1E binary", "Protocol Type to binary"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.plc_frame) + " PLC, configured " + std::to_string(static_cast<int>(c.cpu)));
    poller.reset();
    load(plant(c.cpu, c.coding, {RecordSpec{RegisterType::D, 100, 10}}));
    SimulatedLink plc(c.plc_frame);
    const DeviceDiagnosis f_report = diagnose(plc);
    const Finding& f = only(f_report);
    EXPECT_EQ(f.diagnosis, c.diagnosis);
    EXPECT_EQ(f.severity, Severity::kError);
    EXPECT_EQ(text(f, "answered_frame"), c.answered);
    EXPECT_NE(f.fix.find(c.fix), std::string::npos) << f.fix;
  }
}

TEST_F(Doctor, WrongStationNumbersAreNamedWithTheValueTheModuleAnswers) {
  ConfigSpec plan = q_plant();
  auto& dev = plan.channels[0].devices[0];
  struct Case {
    int network, pc, module;
    const char* diagnosis;
  };
  const Case cases[] = {{2, 255, 0, "wrong_network"},
                        {0, 3, 0, "wrong_pc_number"},
                        {0, 255, 2, "wrong_cpu_number"},
                        {2, 3, 0, "wrong_station"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.diagnosis);
    dev.network = static_cast<std::uint16_t>(c.network);
    dev.pc_number = static_cast<std::uint16_t>(c.pc);
    dev.module = static_cast<std::uint16_t>(c.module);
    poller.reset();
    load(plan);
    SimulatedLink plc("3e-binary");
    plc.plc.set_networks(std::vector<std::uint8_t>{0, 1});
    const DeviceDiagnosis f_report = diagnose(plc);
    const Finding& f = only(f_report);
    EXPECT_EQ(f.diagnosis, c.diagnosis) << f.problem;
    EXPECT_EQ(number(f, "code"), 0xC05F);
    EXPECT_NE(f.problem.find("0xC05F"), std::string::npos) << f.problem;
  }
  // The station exists once the module reaches it; a network it reaches is no error either.
  dev.network = 1;
  dev.pc_number = 3;
  dev.module = 0;
  poller.reset();
  load(plan);
  SimulatedLink plc("3e-binary");
  plc.plc.set_networks(std::vector<std::uint8_t>{0, 1});
  ASSERT_TRUE(plc.plc.add_station(3));
  {
    const DeviceDiagnosis d = diagnose(plc);
    EXPECT_EQ(only(d).diagnosis, "ok");
  }
  // Nothing nearby answers: the module reaches no network 2 at all.
  dev.network = 2;
  dev.pc_number = 255;
  poller.reset();
  load(plan);
  SimulatedLink none("3e-binary");
  none.plc.set_networks(std::vector<std::uint8_t>{1});
  {
    const DeviceDiagnosis d = diagnose(none);
    EXPECT_EQ(only(d).diagnosis, "unreachable_station");
  }
}

TEST_F(Doctor, AnA1ePcNumberThatIsNotThereIsNamed) {
  ConfigSpec plan = plant(CpuType::AnA, image::Coding::Ascii, {RecordSpec{RegisterType::D, 0, 4}});
  plan.channels[0].devices[0].pc_number = 7;
  load(plan);
  SimulatedLink plc("1e-ascii");
  const DeviceDiagnosis f_report = diagnose(plc);
  const Finding& f = only(f_report);
  EXPECT_EQ(f.diagnosis, "wrong_pc_number");
  EXPECT_NE(f.problem.find("completion code 0x5B, extended 0x10"), std::string::npos) << f.problem;
  EXPECT_NE(f.fix.find("PC Number to 255"), std::string::npos);
}

TEST_F(Doctor, ARecordOutsideTheCpuRangeGetsItsCodeAndTheRangeThatWouldBeAccepted) {
  struct Case {
    CpuType cpu;
    image::Coding coding;
    const char* frame;
    RecordSpec record;
    std::int64_t code;
    std::int64_t last;
    const char* range;
  };
  const Case cases[] = {
      {CpuType::QSeries, image::Coding::Binary, "3e-binary", RecordSpec{RegisterType::D, 12200, 100}, 0xC056, 12287,
       "D:0 to D:12287"},
      {CpuType::QSeries, image::Coding::Binary, "3e-binary", RecordSpec{RegisterType::M, 8176, 32}, 0xC056, 8191,
       "M:0 to M:8191"},
      {CpuType::AnA, image::Coding::Binary, "1e-binary", RecordSpec{RegisterType::D, 6000, 200}, 0x57, 6143,
       "D:0 to D:6143"},
      {CpuType::AnN, image::Coding::Ascii, "1e-ascii", RecordSpec{RegisterType::X, 0x7F0, 32}, 0x57, 0x7FF,
       "X:0 to X:7FF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range);
    poller.reset();
    // A good record first: the PLC is reached, only the second record is out of range.
    load(plant(c.cpu, c.coding, {RecordSpec{c.record.type, 0, 16}, c.record}));
    SimulatedLink plc(c.frame);
    mcsim::apply_cpu_model(plc.plc, c.cpu == CpuType::QSeries ? mcsim::CpuModel::kQ
                                    : c.cpu == CpuType::AnN   ? mcsim::CpuModel::kAnN
                                                              : mcsim::CpuModel::kAnA);
    const DeviceDiagnosis f_report = diagnose(plc);
    const Finding& f = only(f_report);
    EXPECT_EQ(f.diagnosis, "address_range") << f.problem;
    EXPECT_EQ(number(f, "record"), 2);
    EXPECT_EQ(number(f, "code"), c.code);
    EXPECT_EQ(number(f, "accepted_last"), c.last);
    EXPECT_NE(f.problem.find(c.range), std::string::npos) << f.problem;
    // A binary search, not a walk: the probes stay few whatever the range.
    EXPECT_LT(plc.requests, 40);
  }
}

TEST_F(Doctor, RefusalsThatAreNotAboutTheRangeAreReportedWithTheirMeaning) {
  // 1000 registers in one request: more points than a 3E request may carry.
  load(plant(CpuType::QSeries, image::Coding::Binary, {RecordSpec{RegisterType::D, 0, 10}, RecordSpec{RegisterType::D, 0, 1000}}));
  SimulatedLink plc("3e-binary");
  const DeviceDiagnosis f_report = diagnose(plc);
  const Finding& f = only(f_report);
  EXPECT_EQ(f.diagnosis, "abnormal_code");
  EXPECT_EQ(number(f, "code"), 0xC051);
  EXPECT_NE(f.problem.find("number of points"), std::string::npos) << f.problem;
}

TEST_F(Doctor, NothingListeningAndNothingAnsweringAreToldApart) {
  load(q_plant());
  SimulatedLink closed("3e-binary");
  closed.refused = true;
  const DeviceDiagnosis refused_report = diagnose(closed);
  const Finding& refused = only(refused_report);
  EXPECT_EQ(refused.diagnosis, "no_listener");
  EXPECT_NE(refused.problem.find("UDP port 5000 of 127.0.0.1"), std::string::npos) << refused.problem;
  SimulatedLink quiet("3e-binary");
  quiet.silent = true;
  const DeviceDiagnosis silent_report = diagnose(quiet);
  const Finding& silent = only(silent_report);
  EXPECT_EQ(silent.diagnosis, "no_answer");
  EXPECT_NE(silent.problem.find("within the reply timeout of 200 ms"), std::string::npos) << silent.problem;
  // The configured frame, every other one, and the configured frame once more with a longer wait.
  EXPECT_EQ(quiet.requests, 4);
}

TEST_F(Doctor, APlcThatAnswersThePollerButNotTheDoctorIsNotCalledSilent) {
  load(q_plant());
  SimulatedLink deaf("3e-binary");
  deaf.silent = true;
  deaf.meanwhile = [&] { channel().stats.replies_received = static_cast<std::uint16_t>(channel().stats.replies_received + 1); };
  const DeviceDiagnosis d = diagnose(deaf);
  const Finding& f = only(d);
  EXPECT_EQ(f.diagnosis, "answers_poller_only");
  EXPECT_EQ(f.severity, Severity::kWarning);
  EXPECT_EQ(number(f, "poller_replies"), deaf.requests);
  EXPECT_NE(f.fix.find("fixed port"), std::string::npos) << f.fix;
}

TEST_F(Doctor, SlowRepliesAreMeasuredAgainstTheTimeoutAndThePollersTimeouts) {
  load(q_plant());
  {
    SimulatedLink slow("3e-binary");
    slow.reply_ms = 170;  // within the 200 ms timeout, but not by much
    const DeviceDiagnosis calm = diagnose(slow);
    EXPECT_EQ(only(calm).diagnosis, "slow_replies");
    EXPECT_EQ(only(calm).severity, Severity::kWarning);
  }
  // The poller timed out now and then: it falls behind under load.
  channel().stats.reply_timeouts = 40;
  channel().stats.requests_sent = 900;
  SimulatedLink slow("3e-binary");
  slow.reply_ms = 120;
  const DeviceDiagnosis loaded_report = diagnose(slow);
  const Finding& loaded = only(loaded_report);
  EXPECT_EQ(loaded.diagnosis, "slow_replies");
  EXPECT_EQ(number(loaded, "reply_timeouts"), 40);
  EXPECT_NE(loaded.problem.find("under load"), std::string::npos) << loaded.problem;
  EXPECT_NE(loaded.fix.find("at least 0.2 s"), std::string::npos) << loaded.fix;
  // Replies later than the timeout: the PLC is slow, not deaf.
  SimulatedLink late("3e-binary");
  late.reply_ms = 350;
  const DeviceDiagnosis d = diagnose(late);
  bool named = false;
  for (const Finding& f : d.findings) {
    EXPECT_NE(f.diagnosis, "no_answer");
    if (f.diagnosis == "slow_replies") {
      named = true;
      EXPECT_EQ(f.severity, Severity::kError);
      EXPECT_GT(number(f, "late_replies"), 0);
    }
  }
  EXPECT_TRUE(named);
  // Timeouts long ago, quick replies now: the link is fine, with a word on its past.
  SimulatedLink quick("3e-binary");
  const DeviceDiagnosis now = diagnose(quick);
  ASSERT_EQ(now.findings.size(), 2u);
  EXPECT_EQ(now.findings[0].diagnosis, "ok");
  EXPECT_EQ(now.findings[1].diagnosis, "earlier_timeouts");
  EXPECT_EQ(now.findings[1].severity, Severity::kInfo);
}

TEST_F(Doctor, BackupSettingsAndABackupPlcAddressAreNamed) {
  load(q_plant());
  device().backup_plc = 12;
  channel().stats.active_selector = 1;
  channel().primary.port_low = 0;
  SimulatedLink plc("3e-binary");
  const DeviceDiagnosis d = diagnose(plc);
  ASSERT_EQ(d.findings.size(), 2u);
  EXPECT_EQ(d.findings[0].diagnosis, "backup_settings");
  EXPECT_EQ(d.findings[1].diagnosis, "backup_plc");
  EXPECT_EQ(number(d.findings[1], "backup_plc"), 12);
  EXPECT_FALSE(d.has(Severity::kError));
}

TEST_F(Doctor, TheImageIsOnlyRead) {
  load(plant(CpuType::QSeries, image::Coding::Binary, {RecordSpec{RegisterType::D, 0, 10}, RecordSpec{RegisterType::D, 30000, 10}}));
  const std::size_t size = poller->niolib.image_size();
  const std::vector<std::uint8_t> before(poller->niolib.image_base(), poller->niolib.image_base() + size);
  SimulatedLink plc("3e-binary");
  const DeviceDiagnosis d = diagnose(plc);
  EXPECT_TRUE(d.has(Severity::kError)) << "the second record is out of range";
  EXPECT_EQ(std::memcmp(before.data(), poller->niolib.image_base(), size), 0)
      << "statistics, end codes or statuses of the image were changed";
}

}  // namespace
}  // namespace hbt::hbtio
