// The link doctor: what stands between a PLC of the configuration and the poller, found by
// asking the PLC with the poller's own frames and by reading the poller's statistics, and
// said in plain words together with what to change.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "image/layout.h"
#include "image/niolib.h"
#include "tools/hbtio/link_probe.h"

namespace hbt::hbtio {

enum class Severity { kOk, kInfo, kWarning, kError };
const char* severity_name(Severity severity);

struct Finding {
  std::string diagnosis;  // a stable name for programs: "frame_type", "address_range", ...
  Severity severity = Severity::kOk;
  std::string problem;    // what is wrong (or right), in plain words
  std::string fix;        // what to change; empty when there is nothing to do
  std::vector<std::pair<std::string, std::string>> texts;  // details, for --json
  std::vector<std::pair<std::string, std::int64_t>> numbers;
};

struct DeviceDiagnosis {
  int channel = 0;  // from 0
  int device = 0;   // device index in the image
  std::string name;
  bool tcp = false;
  std::string address;  // dotted IPv4
  int port = 0;
  std::string frame;    // the frame the configuration asks for: "3E binary", "1E ASCII", ...
  int pc_number = 255, network = 0, cpu_number = 0;
  int good = 0, failed = 0;  // poll records the poller shows good, and failed, at the start
  std::vector<Finding> findings;

  bool has(Severity severity) const;
};

struct DoctorOptions {
  int timing_probes = 5;  // reads of the first record whose reply times are measured
};

// The configured frame of a device record, as people name it.
std::string frame_name(const image::DeviceRecord& device);

// Diagnoses device `device` of channel `channel` in the mapped image over `link`.
// `stats_before` are the channel's statistics from before the doctor began; the poller goes
// on counting meanwhile, and the difference shows what happened while the doctor watched.
DeviceDiagnosis diagnose_device(image::Niolib& niolib, int channel, int device, Link& link,
                                const image::StatisticsBlock& stats_before, const DoctorOptions& options = {});

}  // namespace hbt::hbtio
