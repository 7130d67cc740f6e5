// hbtio monitor: a live view of the running driver: poll records with their status and
// current values, per-channel traffic, and the latest messages.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

#include "image/lock_byte.h"
#include "image/message_ring.h"
#include "platform/clock.h"
#include "tools/hbtio/command.h"
#include "tools/hbtio/driver_access.h"
#include "tools/hbtio/json.h"
#include "tools/hbtio/raw_values.h"

namespace hbt::hbtio {
namespace {

using namespace hbt::image;

volatile std::sig_atomic_t interrupted = 0;
void on_signal(int) { interrupted = 1; }

constexpr int kMessagesShown = 8;

struct RecordRow {
  int index;
  std::string device;
  std::string address;
  std::string data_type;
  std::uint16_t status;
  bool polled;
  std::string values;
};

std::string address_text(const PollRecordHead& r) {
  const RegisterType type = address_register_type(r.address_word);
  const std::uint32_t start = address_start(r.address_word);
  // X, Y, B and W are numbered in hexadecimal on the PLC.
  const bool hex = type == RegisterType::X || type == RegisterType::Y || type == RegisterType::B ||
                   type == RegisterType::W;
  char text[48];
  if (type == RegisterType::EX)
    std::snprintf(text, sizeof text, "EX%u:%u x%u", static_cast<unsigned>(r.extension & 0xFF), start,
                  unsigned{r.length});
  else
    std::snprintf(text, sizeof text, hex ? "%s%X x%u" : "%s%u x%u", kRegisterTypeNames[int(type)], start,
                  unsigned{r.length});
  return text;
}

std::vector<RecordRow> collect_rows(Niolib& niolib) {
  std::vector<RecordRow> rows;
  for (int k = 0; k < niolib.poll_record_count(); ++k) {
    PollRecordHead* record = niolib.nio_map_dit(k);
    if (!record) continue;
    RecordRow row;
    row.index = k;
    const DeviceRecord* device = niolib.nio_map_dev(record->device_index);
    row.device = device ? std::string(device->name, strnlen(device->name, sizeof device->name)) : "?";
    row.address = address_text(*record);
    row.data_type = data_type_name(record->data_type);
    row.polled = record->polled != 0;
    std::vector<std::uint8_t> area;
    {
      ByteLock lock(&record->lock);
      row.status = record->status;
      const std::uint8_t* data = reinterpret_cast<std::uint8_t*>(record) + record->areas[0].offset;
      area.assign(data, data + record->areas[0].size);
    }
    row.values = format_values(*record, area);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string channel_line(Niolib& niolib, int i) {
  ChannelRecord* ch = niolib.nio_map_chan(i);
  if (!ch) return {};
  const std::uint32_t ip = ch->ip_address;
  const StatisticsBlock& s = ch->stats;
  char text[256];
  std::snprintf(text, sizeof text,
                "channel %d  %u.%u.%u.%u:%u %s  sent %u  replies %u  retries %u  timeouts %u  rejected %u  "
                "not sent %u/%u  abnormal %u",
                i + 1, ip >> 24, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF, ip & 0xFF, ch->ip_port,
                ch->ip_protocol ? "TCP" : "UDP", unsigned{s.requests_sent}, unsigned{s.replies_received},
                unsigned{s.retries}, unsigned{s.reply_timeouts}, unsigned{s.rejected_replies},
                unsigned{s.reads_not_sent}, unsigned{s.writes_not_sent}, unsigned{s.abnormal_codes});
  return text;
}

void draw(Niolib& niolib, const std::deque<RingMessage>& messages, bool terminal, int remaining) {
  PointerBlock* b = niolib.pointer_block();
  std::string screen;
  if (terminal) screen += "\033[H\033[2J";
  char line[512];
  std::snprintf(line, sizeof line, "HBT driver: %s   image %s (generation %u)   clients %u   alive %u%s\n",
                b->state == kStateRunning ? "running" : b->state == kStateStopped ? "stopped" : "not running",
                std::string(b->image_name, strnlen(b->image_name, sizeof b->image_name)).c_str(),
                b->map_generation, b->client_count, b->alive_counter,
                remaining >= 0 ? ("   " + std::to_string(remaining) + " s left").c_str() : "");
  screen += line;
  screen += "configuration " + std::string(b->config_path, strnlen(b->config_path, sizeof b->config_path)) + "\n\n";
  if (niolib.mapped()) {
    for (int i = 0; i < niolib.channel_count(); ++i) screen += channel_line(niolib, i) + "\n";
    screen += "\n  rec  device       address         type           status               values\n";
    for (const auto& row : collect_rows(niolib)) {
      std::snprintf(line, sizeof line, "  %3d  %-11s  %-14s  %-13s  %-5u %-14s %s\n", row.index + 1,
                    row.device.c_str(), row.address.c_str(), row.data_type.c_str(), row.status,
                    status_name(row.status), row.values.c_str());
      screen += line;
    }
  } else {
    screen += "(no image mapped)\n";
  }
  screen += "\nmessages\n";
  for (const auto& m : messages) screen += "  " + m.text + "\n";
  std::fwrite(screen.data(), 1, screen.size(), stdout);
  std::fflush(stdout);
}

void print_json(Niolib& niolib) {
  for (int i = 0; i < niolib.channel_count(); ++i) {
    ChannelRecord* ch = niolib.nio_map_chan(i);
    if (!ch) continue;
    const StatisticsBlock& s = ch->stats;
    JsonLine()
        .field("channel", std::int64_t{i + 1})
        .field("requests_sent", std::int64_t{s.requests_sent})
        .field("replies_received", std::int64_t{s.replies_received})
        .field("retries", std::int64_t{s.retries})
        .field("reply_timeouts", std::int64_t{s.reply_timeouts})
        .field("rejected_replies", std::int64_t{s.rejected_replies})
        .print();
  }
  for (const auto& row : collect_rows(niolib)) {
    JsonLine()
        .field("record", std::int64_t{row.index + 1})
        .field("device", row.device)
        .field("address", row.address)
        .field("data_type", row.data_type)
        .field("polled", row.polled)
        .field("status", std::int64_t{row.status})
        .field("values", row.values)
        .print();
  }
}

int run_monitor(Invocation& inv) {
  std::string seconds_text;
  bool missing = false;
  const bool has_seconds = take_option(inv.args, "--seconds", &seconds_text, &missing);
  const bool require_good = take_flag(inv.args, "--require-good");
  if (missing || !inv.args.empty()) return usage_error("monitor takes [--seconds N] [--require-good]");
  int seconds = -1;
  if (has_seconds) {
    char* end = nullptr;
    long v = std::strtol(seconds_text.c_str(), &end, 10);
    if (*end != '\0' || v < 1 || v > 86400) return usage_error("--seconds needs a number from 1 to 86400");
    seconds = static_cast<int>(v);
  }
  const bool terminal = !inv.json && isatty(STDOUT_FILENO);
  // Without a terminal to draw on, only the final picture is printed; stop by itself then.
  if (!terminal && seconds < 0) seconds = 10;

  // A client in full: creating the block starts the poller; attaching keeps it alive.
  DriverAccess driver(true);
  if (driver.block == nullptr || driver.niolib->nio_map_hdr() == nullptr) {
    driver.messages.print_to_stderr();
    std::fprintf(stderr, "hbtio: the driver's image is not available\n");
    return kExitFailed;
  }
  Niolib& niolib = *driver.niolib;
  niolib.attach_client();
  driver.block->ring_enabled = 1;
  // Start a little back in the ring, so that the view opens with the latest messages.
  const std::uint32_t next = image::ring_index(driver.block);
  RingReader reader(driver.block, (next + kMessageRingEntries - kMessagesShown) % kMessageRingEntries);
  std::deque<RingMessage> messages;

  struct sigaction action {};
  action.sa_handler = on_signal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  const std::int64_t start = platform::monotonic_ns();
  for (;;) {
    niolib.nio_map_hdr();  // follows reloads and proves use
    while (auto m = reader.next()) {
      if (m->text.empty()) continue;  // a slot never written
      messages.push_back(*m);
      if (messages.size() > kMessagesShown) messages.pop_front();
    }
    const int elapsed = static_cast<int>((platform::monotonic_ns() - start) / 1000000000);
    const bool done = interrupted || (seconds >= 0 && elapsed >= seconds);
    if (terminal) draw(niolib, messages, true, seconds >= 0 ? std::max(0, seconds - elapsed) : -1);
    if (done) break;
    platform::sleep_ms(terminal ? 1000 : 200);
  }
  if (inv.json)
    print_json(niolib);
  else if (!terminal)
    draw(niolib, messages, false, -1);

  int not_good = 0;
  for (const auto& row : collect_rows(niolib))
    if (row.polled && row.status != kStatusGood) ++not_good;
  niolib.detach_client();
  if (require_good && not_good > 0) {
    std::fprintf(stderr, "hbtio: %d polled record(s) not good\n", not_good);
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

HBTIO_COMMAND(monitor, "monitor", "monitor [--seconds N] [--require-good]",
              "live view of records, traffic and messages (starts the poller when needed)", run_monitor)

}  // namespace hbt::hbtio
