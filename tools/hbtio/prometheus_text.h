// The per-channel communication statistics in the Prometheus text exposition format, for
// node_exporter's textfile collector and anything else that scrapes that format.
#pragma once

#include <string>
#include <vector>

#include "image/layout.h"

namespace hbt::hbtio {

struct ChannelSample {
  int channel = 0;  // from 1
  bool in_service = false;
  image::StatisticsBlock stats{};
};

// One family per counter, HELP and TYPE first, a sample per channel labelled channel="N".
std::string prometheus_text(const std::vector<ChannelSample>& channels);

}  // namespace hbt::hbtio
