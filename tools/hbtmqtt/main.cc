// hbtmqtt: the MQTT Sparkplug B edge node over the driver's points.
#include "mqtt/command_line.h"
#include "tools/hbtmqtt/points_session.h"

int main(int argc, char** argv) {
  return hbt::mqtt::hbtmqtt_main(argc, argv, [](const hbt::mqtt::Settings& settings, std::string& error)
                                                 -> std::unique_ptr<hbt::mqtt::PointSource> {
    auto session = std::make_unique<hbt::mqtt::PointsSession>(settings);
    bool fatal = false;
    // A driver that is not there yet is no reason to stop: the node retries and is born again
    // once it answers. A bad tag file is.
    if (!session->open(error, fatal) && fatal) return nullptr;
    return session;
  });
}
