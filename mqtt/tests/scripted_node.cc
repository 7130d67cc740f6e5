// hbtmqtt's command line and service over a plant in memory, for tests that need the node's
// real broker sessions (will, reconnects, TLS, signals) without a driver. The plant: --plcs N
// PLCs named PLC1..PLCN, each with Int16 points D:0..D:(M-1) (--points M), a Boolean M:0, a
// Float D:500 and a String D:600. Lines on the --script FIFO change it:
//   set ID N | real ID X | text ID T | quality ID Q | fail PLC | heal PLC | reload
// and every write the node makes is printed: "wrote ID INTEGER REAL TEXT".
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "mqtt/command_line.h"
#include "mqtt/tests/memory_point_source.h"

namespace hbt::mqtt {
namespace {

class ScriptedSource : public PointSource {
 public:
  ScriptedSource(int plcs, int points) {
    for (int p = 1; p <= plcs; ++p) {
      const uint32_t d = plant_.add_device("PLC" + std::to_string(p));
      std::vector<uint32_t> ids;
      for (int i = 0; i < points; ++i) ids.push_back(plant_.add_point(d, "D:" + std::to_string(i)));
      ids.push_back(plant_.add_point(d, "M:0", HBT_POINT_BOOL));
      ids.push_back(plant_.add_point(d, "D:500", HBT_POINT_FLOAT));
      ids.push_back(plant_.add_point(d, "D:600", HBT_POINT_STRING));
      devices_.push_back(ids);
    }
    for (auto& ids : devices_) {
      for (uint32_t id : ids) plant_.set(id, 0, HBT_QUALITY_GOOD, now_ms());
    }
  }

  void command(const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    std::lock_guard lock(mutex_);
    if (verb == "set") {
      uint32_t id;
      int64_t v;
      in >> id >> v;
      plant_.set(id, v, HBT_QUALITY_GOOD, now_ms());
    } else if (verb == "real") {
      uint32_t id;
      double v;
      in >> id >> v;
      plant_.set_real(id, v);
    } else if (verb == "text") {
      uint32_t id;
      std::string t;
      in >> id >> t;
      plant_.set_text(id, t);
    } else if (verb == "quality") {
      uint32_t id;
      int q;
      in >> id >> q;
      plant_.set_quality(id, static_cast<uint8_t>(q));
    } else if (verb == "fail" || verb == "heal") {
      size_t plc;
      in >> plc;
      if (plc >= 1 && plc <= devices_.size()) {
        for (uint32_t id : devices_[plc - 1]) {
          plant_.set_quality(id, verb == "fail" ? HBT_QUALITY_COMM_FAILURE : HBT_QUALITY_GOOD);
        }
      }
    } else if (verb == "reload") {
      plant_.reload();
    }
  }

  bool load(PlantModel& model, std::string& error) override {
    std::lock_guard lock(mutex_);
    return plant_.load(model, error);
  }
  Feed changes(uint64_t& cursor, std::vector<PointSample>& out) override {
    std::lock_guard lock(mutex_);
    return plant_.changes(cursor, out);
  }
  void wait(uint32_t timeout_ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms)); }
  std::vector<int32_t> write(const std::vector<PointSample>& values) override {
    std::lock_guard lock(mutex_);
    for (const PointSample& v : values) {
      std::printf("wrote %u %lld %g %s\n", v.id, static_cast<long long>(v.integer), v.real, v.text.c_str());
    }
    std::fflush(stdout);
    return plant_.write(values);
  }
  DriverStatus status() override {
    std::lock_guard lock(mutex_);
    return plant_.status();
  }
  std::vector<ChannelCounters> channels() override {
    std::lock_guard lock(mutex_);
    return plant_.channels();
  }

 private:
  static int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
  std::mutex mutex_;
  testing::MemoryPointSource plant_;
  std::vector<std::vector<uint32_t>> devices_;
};

}  // namespace
}  // namespace hbt::mqtt

int main(int argc, char** argv) {
  int plcs = 2, points = 4;
  std::string script;
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--plcs") && i + 1 < argc) {
      plcs = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--points") && i + 1 < argc) {
      points = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--script") && i + 1 < argc) {
      script = argv[++i];
    } else {
      rest.push_back(argv[i]);
    }
  }
  return hbt::mqtt::hbtmqtt_main(static_cast<int>(rest.size()), rest.data(),
                                 [&](const hbt::mqtt::Settings&, std::string&) -> std::unique_ptr<hbt::mqtt::PointSource> {
                                   auto source = std::make_unique<hbt::mqtt::ScriptedSource>(plcs, points);
                                   if (!script.empty()) {
                                     std::thread([s = source.get(), script] {
                                       std::ifstream in(script);
                                       std::string line;
                                       while (std::getline(in, line)) s->command(line);
                                     }).detach();
                                   }
                                   return source;
                                 });
}
