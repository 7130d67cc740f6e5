// hbtio doctor: for each channel and PLC of the running driver, what stands between the
// poller and the PLC, in plain words, and what to change.
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "poller/socket_api.h"
#include "tools/hbtio/command.h"
#include "tools/hbtio/doctor.h"
#include "tools/hbtio/driver_access.h"
#include "tools/hbtio/json.h"

namespace hbt::hbtio {
namespace {

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

void print_text(const DeviceDiagnosis& d) {
  std::printf("PLC %s on channel %d: %s %s:%d, %s frames, PC number %d, network %d, CPU/module %d\n", d.name.c_str(),
              d.channel + 1, d.tcp ? "TCP" : "UDP", d.address.c_str(), d.port, d.frame.c_str(), d.pc_number, d.network,
              d.cpu_number);
  std::printf("  the poller shows %d poll record%s good and %d failed\n", d.good, d.good == 1 ? "" : "s", d.failed);
  for (const Finding& f : d.findings) {
    std::printf("  %-8s %s\n", severity_name(f.severity), f.problem.c_str());
    if (!f.fix.empty()) std::printf("  %-8s -> %s\n", "", f.fix.c_str());
  }
}

void print_json(const DeviceDiagnosis& d) {
  for (const Finding& f : d.findings) {
    JsonLine line;
    line.field("channel", std::int64_t{d.channel + 1})
        .field("device", d.name)
        .field("protocol", d.tcp ? "tcp" : "udp")
        .field("address", d.address)
        .field("port", std::int64_t{d.port})
        .field("frame", d.frame)
        .field("records_good", std::int64_t{d.good})
        .field("records_failed", std::int64_t{d.failed})
        .field("diagnosis", f.diagnosis)
        .field("severity", severity_name(f.severity))
        .field("problem", f.problem)
        .field("fix", f.fix);
    for (const auto& [name, text] : f.texts) line.field(name, text);
    for (const auto& [name, number] : f.numbers) line.field(name, number);
    line.print();
  }
}

int run_doctor(Invocation& inv) {
  if (inv.args.size() > 1) return usage_error("doctor takes at most one DEVICE");
  const std::string only = inv.args.empty() ? "" : upper(inv.args[0]);
  DriverAccess driver(false);
  if (driver.block == nullptr || driver.niolib->nio_map_hdr() == nullptr) {
    driver.messages.print_to_stderr();
    std::fprintf(stderr,
                 "hbtio: the driver is not running: the doctor reads its configuration and statistics from it "
                 "(start it with 'hbtio start')\n");
    return kExitFailed;
  }
  image::Niolib& nio = *driver.niolib;
  // Attached for the while, so that a poller nobody else uses does not end under the probes.
  nio.attach_client();
  const bool progress = isatty(STDERR_FILENO) != 0;
  int diagnosed = 0;
  bool errors = false;
  for (int c = 0; c < nio.channel_count(); ++c) {
    const image::ChannelRecord* ch = nio.nio_map_chan(c);
    if (ch == nullptr || ch->device_count == 0) continue;
    const image::StatisticsBlock before = ch->stats;
    const int first = ch->first_device, count = ch->device_count;
    for (int j = first; j < first + count; ++j) {
      const image::DeviceRecord* dev = nio.nio_map_dev(j);
      if (dev == nullptr) continue;
      const std::string name(dev->name, strnlen(dev->name, sizeof dev->name));
      if (!only.empty() && upper(name) != only) continue;
      if (progress) std::fprintf(stderr, "hbtio: asking %s ...\n", name.c_str());
      ch = nio.nio_map_chan(c);  // a reload meanwhile moves the image
      if (ch == nullptr) break;
      SocketLink link(poller::system_sockets(), ch->ip_address, static_cast<std::uint16_t>(ch->ip_port), ch->ip_protocol != 0);
      const DeviceDiagnosis d = diagnose_device(nio, c, j, link, before);
      if (inv.json)
        print_json(d);
      else
        print_text(d);
      std::fflush(stdout);
      errors |= d.has(Severity::kError);
      ++diagnosed;
    }
  }
  nio.detach_client();
  if (diagnosed == 0) {
    std::fprintf(stderr, only.empty() ? "hbtio: the configuration has no PLCs\n" : "hbtio: there is no PLC named %s\n",
                 inv.args.empty() ? "" : inv.args[0].c_str());
    return kExitFailed;
  }
  return errors ? kExitFailed : kExitOk;
}

}  // namespace

HBTIO_COMMAND(doctor, "doctor", "doctor [DEVICE]",
              "ask every PLC (or one) what is wrong with its link, in plain words with what to change; exit 1 on errors",
              run_doctor)

}  // namespace hbt::hbtio
