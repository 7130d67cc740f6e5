// hbtmqtt's command line around NodeService, shared by the program (over the points library)
// and by tests that run it over a plant in memory.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "mqtt/point_source.h"
#include "mqtt/settings.h"

namespace hbt::mqtt {

// Makes the driver side; null with `error` when it cannot start.
using SourceFactory = std::function<std::unique_ptr<PointSource>(const Settings& settings, std::string& error)>;

// Exit status: 0 stopped by SIGTERM/SIGINT (NDEATH sent), 1 bad settings or a refusing
// broker, 2 wrong usage.
int hbtmqtt_main(int argc, char** argv, const SourceFactory& make_source);

}  // namespace hbt::mqtt
