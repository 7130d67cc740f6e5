#include "tools/hbtio/doctor.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>

#include "editor/address.h"
#include "poller/frames.h"
#include "poller/mc_codes.h"
#include "poller/reply_check.h"
#include "poller/request.h"
#include "tools/hbtio/end_codes.h"

namespace hbt::hbtio {

namespace {

using image::RegisterType;
using poller::ChannelBlock;

class QuietSink final : public image::MessageSink {
 public:
  void message(std::uint16_t, std::string_view) override {}
};

// A reply as the poller's own checks see it.
struct Judgement {
  enum Kind {
    kGood,      // accepted
    kCode,      // an abnormal end code (3E) or completion code (1E)
    kRejected,  // a 1E reply of the wrong length or command
    kForeign,   // no reply to this request at all (a 3E header that does not match)
  } kind = kForeign;
  std::uint16_t code = 0;
  std::uint8_t extended = 0;
};

Judgement judge(const ChannelBlock& block, std::span<const std::uint8_t> reply) {
  // Scratch records: the checks count and remember into them, never into the image.
  image::ChannelRecord channel{};
  channel.display_alarms = 1;
  image::DeviceRecord device{};
  QuietSink sink;
  poller::ReplyCheckEnv env{channel, &device, sink};
  const poller::ReplyVerdict verdict = poller::check_reply(block, reply, env);
  Judgement j;
  switch (verdict.result) {
    case poller::ReplyResult::kIgnored:
      j.kind = Judgement::kForeign;
      break;
    case poller::ReplyResult::kGood:
      j.kind = Judgement::kGood;
      break;
    case poller::ReplyResult::kFailure:
      if (poller::is_q_series(block)) {
        j.kind = Judgement::kCode;
        j.code = device.last_end_code;
      } else if (channel.stats.abnormal_codes > 0) {
        j.kind = Judgement::kCode;
        j.code = channel.stats.last_abnormal_code;
        j.extended = static_cast<std::uint8_t>(channel.stats.last_extended_error);
      } else {
        j.kind = Judgement::kRejected;
      }
      break;
  }
  return j;
}

std::string frame_of(const ChannelBlock& b) {
  if (poller::is_q_series(b)) return "3E binary";
  return poller::is_ascii(b) ? "1E ASCII" : "1E binary";
}

std::string code_text(const ChannelBlock& b, const Judgement& j) {
  char text[48];
  if (poller::is_q_series(b)) {
    std::snprintf(text, sizeof text, "end code 0x%04X", j.code);
    return std::string(text) + " (" + end_code_text(j.code) + ")";
  }
  if (j.code == 0x5B)
    std::snprintf(text, sizeof text, "completion code 0x5B, extended 0x%02X", j.extended);
  else
    std::snprintf(text, sizeof text, "completion code 0x%02X", j.code);
  return std::string(text) + " (" + completion_code_text(static_cast<std::uint8_t>(j.code), j.extended) + ")";
}

bool is_range_refusal(const ChannelBlock& b, const Judgement& j) {
  return j.kind == Judgement::kCode &&
         (poller::is_q_series(b) ? is_range_end_code(j.code) : is_range_completion_code(static_cast<std::uint8_t>(j.code)));
}
bool is_station_refusal(const ChannelBlock& b, const Judgement& j) {
  return j.kind == Judgement::kCode &&
         (poller::is_q_series(b) ? is_station_end_code(j.code)
                                 : is_station_completion_code(static_cast<std::uint8_t>(j.code), j.extended));
}

std::string ms_text(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, ms < 1 ? "%.2f ms" : ms < 10 ? "%.1f ms" : "%.0f ms", ms);
  return text;
}
std::string seconds_text(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
  return text;
}

std::string dotted(std::uint32_t ip) {
  char text[20];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF, ip & 0xFF);
  return text;
}

Finding finding(const char* diagnosis, Severity severity, std::string problem, std::string fix = {}) {
  Finding f;
  f.diagnosis = diagnosis;
  f.severity = severity;
  f.problem = std::move(problem);
  f.fix = std::move(fix);
  return f;
}

// The points a read of the block covers from its start.
std::uint32_t covered_points(const ChannelBlock& b) {
  const RegisterType type = poller::block_register_type(b);
  if (image::is_word_device(type)) return b.length;
  if (poller::read_is_in_bit_units(b)) return b.length;
  return 16u * (b.area1_size / 2u);
}

class DeviceDoctor {
 public:
  DeviceDoctor(image::Niolib& niolib, int channel, int device, Link& link, const image::StatisticsBlock& before,
               const DoctorOptions& options)
      : niolib_(niolib), channel_(channel), device_(device), link_(link), before_(before), options_(options) {}

  DeviceDiagnosis run();

 private:
  std::unique_ptr<ChannelBlock> read_of(int k);
  Exchange ask(ChannelBlock& b, int wait_ms);
  bool reach();
  bool other_frames(const Exchange& first);
  void other_station(const Judgement& refused);
  void records();
  void range_of(int k, const ChannelBlock& refused, const Judgement& j);
  std::optional<bool> accepts(const ChannelBlock& base, RegisterType type, std::uint32_t head);
  void timing();
  void backups();
  std::string record_label(int k, const ChannelBlock& b) const;

  image::Niolib& niolib_;
  int channel_, device_;
  Link& link_;
  image::StatisticsBlock before_;
  DoctorOptions options_;
  DeviceDiagnosis report_;
  image::ChannelRecord channel_record_{};
  image::DeviceRecord device_record_{};
  std::vector<int> records_;        // poll record indexes of the device
  std::unique_ptr<ChannelBlock> base_;  // the first record's read, as configured
  int wait_ms_ = 1000;              // the channel's reply timeout
  std::vector<double> reply_ms_;    // times of the good replies
  bool records_clean_ = true;
};

std::unique_ptr<ChannelBlock> DeviceDoctor::read_of(int k) {
  auto b = std::make_unique<ChannelBlock>();
  if (!poller::prepare_request(niolib_, *b, channel_, k, false)) return nullptr;
  poller::build_read_request(*b);
  return b;
}

Exchange DeviceDoctor::ask(ChannelBlock& b, int wait_ms) {
  Exchange ex = link_.exchange(b, wait_ms);
  if (ex.result == ProbeResult::kReply && judge(b, ex.bytes).kind == Judgement::kGood) reply_ms_.push_back(ex.ms);
  return ex;
}

DeviceDiagnosis DeviceDoctor::run() {
  report_.channel = channel_;
  report_.device = device_;
  const image::ChannelRecord* ch = niolib_.nio_map_chan(channel_);
  const image::DeviceRecord* dev = niolib_.nio_map_dev(device_);
  if (ch == nullptr || dev == nullptr) {
    report_.findings.push_back(finding("not_in_image", Severity::kError, "The device is not in the driver's image."));
    return report_;
  }
  channel_record_ = *ch;
  device_record_ = *dev;
  report_.name = std::string(dev->name, strnlen(dev->name, sizeof dev->name));
  report_.tcp = ch->ip_protocol != 0;
  report_.address = dotted(ch->ip_address);
  report_.port = static_cast<int>(ch->ip_port);
  report_.frame = frame_name(*dev);
  report_.pc_number = dev->pc_number;
  report_.network = dev->network_number;
  report_.cpu_number = dev->module_number;
  for (int k = dev->first_poll_record; k < dev->first_poll_record + dev->poll_record_count; ++k) {
    const image::PollRecordHead* head = niolib_.nio_map_dit(k);
    if (head == nullptr || head->device_index != device_) continue;
    records_.push_back(k);
    report_.good += head->status == image::kStatusGood;
    report_.failed += head->status == image::kStatusCommFailure;
  }
  backups();
  if (records_.empty() || !(base_ = read_of(records_.front()))) {
    report_.findings.push_back(finding("no_records", Severity::kWarning,
                                       "The PLC has no poll records, so nothing of it is read.",
                                       "Add poll records to the PLC, or remove it."));
    return report_;
  }
  const std::uint32_t timeout = poller::active_settings(channel_record_).reply_timeout;
  wait_ms_ = static_cast<int>(std::clamp<std::uint64_t>(std::uint64_t{timeout} * 10, 100, 600000));
  if (reach()) {
    records();
    timing();
  }
  if (!report_.has(Severity::kWarning) && !report_.has(Severity::kError)) {
    char text[200];
    std::vector<double> sorted = reply_ms_;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted.empty() ? 0 : sorted[sorted.size() / 2];
    std::snprintf(text, sizeof text, "The PLC answers %s frames in %s (slowest %s of %zu reads); %zu poll record%s read without error.",
                  report_.frame.c_str(), ms_text(median).c_str(), ms_text(sorted.empty() ? 0 : sorted.back()).c_str(),
                  sorted.size(), records_.size(), records_.size() == 1 ? "" : "s");
    Finding ok = finding("ok", Severity::kOk, text);
    ok.numbers = {{"reply_us_median", static_cast<std::int64_t>(1000 * median)}};
    report_.findings.insert(report_.findings.begin(), std::move(ok));
  }
  return report_;
}

// Does the PLC answer the configured frame at all? False when nothing more can be learnt.
bool DeviceDoctor::reach() {
  const std::string where = (report_.tcp ? "TCP port " : "UDP port ") + std::to_string(report_.port) + " of " + report_.address;
  Exchange first = ask(*base_, wait_ms_);
  if (first.result == ProbeResult::kNoAnswer) {
    // A PLC that answers, only later than the reply timeout, is slow rather than deaf.
    auto again = std::make_unique<ChannelBlock>(*base_);
    const Exchange late = ask(*again, std::min(3 * wait_ms_, wait_ms_ + 10000));
    if (late.result == ProbeResult::kReply && judge(*again, late.bytes).kind == Judgement::kGood) return true;
  }
  if (first.result == ProbeResult::kRefused || first.result == ProbeResult::kError) {
    const bool poller_gets_replies = niolib_.nio_map_chan(channel_) != nullptr &&
                                     niolib_.nio_map_chan(channel_)->stats.replies_received != before_.replies_received;
    if (first.result == ProbeResult::kRefused && report_.tcp && poller_gets_replies) {
      report_.findings.push_back(finding(
          "connection_busy", Severity::kInfo,
          "The PLC refuses the doctor's TCP connection to " + where + " while the poller's own connection gets replies: the port takes one connection at a time.",
          "Nothing to change for the poller; to let the doctor probe, stop the poller (hbtio stop) and run it again."));
      return false;
    }
    Finding f = finding("no_listener", Severity::kError,
                        first.result == ProbeResult::kRefused
                            ? (report_.tcp ? "Nothing listens on " + where + ": the connection is refused."
                                           : "Nothing listens on " + where + ": the host reports the port closed.")
                            : "The doctor could not reach " + where + " (" + std::string(std::strerror(first.error)) + ").",
                        "Check that the PLC is on and that its Ethernet module's open settings have " +
                            std::string(report_.tcp ? "TCP" : "UDP") + " port " + std::to_string(report_.port) +
                            " open for the MC protocol; or correct the channel's IP address, port and protocol.");
    f.numbers = {{"errno", first.error}};
    report_.findings.push_back(std::move(f));
    return false;
  }
  if (first.result == ProbeResult::kReply) {
    const Judgement j = judge(*base_, first.bytes);
    if (j.kind == Judgement::kGood || is_range_refusal(*base_, j)) return true;
    if (is_station_refusal(*base_, j)) {
      other_station(j);
      return false;
    }
    if (j.kind == Judgement::kCode) return true;  // understood; the record checks report it
  }
  return other_frames(first);
}

// The configured frame got no answer or none that fits: which frame does the PLC speak?
bool DeviceDoctor::other_frames(const Exchange& first) {
  const ChannelBlock& base = *base_;
  struct Variant {
    image::CpuType cpu;
    image::Coding coding;
  };
  const image::CpuType a_series =
      poller::is_q_series(base) ? image::CpuType::AnA : static_cast<image::CpuType>(base.cpu_type);
  const Variant variants[] = {{image::CpuType::QSeries, image::Coding::Binary},
                              {a_series, image::Coding::Binary},
                              {a_series, image::Coding::Ascii}};
  bool anything_back = first.result == ProbeResult::kReply || first.result == ProbeResult::kUnframed;
  bool closed = first.result == ProbeResult::kClosed;
  for (const Variant& v : variants) {
    auto b = std::make_unique<ChannelBlock>(base);
    b->cpu_type = static_cast<std::uint16_t>(v.cpu);
    b->coding = static_cast<std::uint16_t>(v.coding);
    if (frame_of(*b) == frame_of(base)) continue;
    poller::build_read_request(*b);
    const Exchange ex = link_.exchange(*b, wait_ms_);
    anything_back |= ex.result == ProbeResult::kReply || ex.result == ProbeResult::kUnframed;
    closed |= ex.result == ProbeResult::kClosed;
    if (ex.result != ProbeResult::kReply) continue;
    const Judgement j = judge(*b, ex.bytes);
    if (j.kind != Judgement::kGood && j.kind != Judgement::kCode) continue;
    const bool same_family = poller::is_q_series(*b) == poller::is_q_series(base);
    const std::string coding = poller::is_ascii(*b) ? "ASCII" : "binary";
    Finding f;
    if (same_family) {
      f = finding("coding", Severity::kError,
                  "The PLC answers 1E frames in " + coding + " coding, not in " + std::string(poller::is_ascii(base) ? "ASCII" : "binary") + ".",
                  "Set the PLC's Protocol Type to " + coding + ", or the Ethernet module's communication data code to " +
                      (poller::is_ascii(base) ? "ASCII" : "binary") + ".");
    } else if (poller::is_q_series(*b)) {
      f = finding("frame_type", Severity::kError,
                  "The PLC answers 3E frames (Q-series), not the 1E frames of an A-series CPU Type.",
                  "Set the PLC's CPU Type to Q Series.");
    } else {
      f = finding("frame_type", Severity::kError,
                  "The PLC answers 1E frames (A-series) in " + coding + " coding, not the 3E frames of the Q Series CPU Type.",
                  "Set the PLC's CPU Type to its A-series type (AnN/AnS, AnA/AnAS or AnU) and Protocol Type to " + coding +
                      "; or set the Ethernet module to 3E (QnA-compatible) frames in binary code.");
    }
    f.texts = {{"configured_frame", frame_of(base)}, {"answered_frame", frame_of(*b)}};
    report_.findings.push_back(std::move(f));
    return false;
  }
  const std::string where = (report_.tcp ? "TCP port " : "UDP port ") + std::to_string(report_.port) + " of " + report_.address;
  const image::ChannelRecord* now = niolib_.nio_map_chan(channel_);
  const unsigned poller_replies = now ? static_cast<std::uint16_t>(now->stats.replies_received - before_.replies_received) : 0;
  if (poller_replies > 0 && !anything_back) {
    // The poller is answered and the doctor is not: the difference is the socket asking.
    Finding f = finding("answers_poller_only", Severity::kWarning,
                        "The PLC at " + where + " answers the poller (" + std::to_string(poller_replies) +
                            " replies while the doctor watched) but not the doctor's own socket.",
                        report_.tcp ? "The module's port may take one connection at a time; to let the doctor probe, "
                                      "stop the poller (hbtio stop) and run it again."
                                    : "The module may answer only a fixed port (the poller listens on the PLC's own "
                                      "port number, " + std::to_string(report_.port) +
                                      "); to let the doctor probe, stop the poller (hbtio stop) and run it again.");
    f.numbers = {{"poller_replies", poller_replies}};
    report_.findings.push_back(std::move(f));
    return false;
  }
  std::string problem = "Nothing answers on " + where + " within the reply timeout of " + ms_text(wait_ms_) +
                        ", in 3E binary, 1E binary or 1E ASCII frames.";
  if (closed) problem = "The PLC at " + where + " closes the connection instead of answering, in 3E binary, 1E binary or 1E ASCII frames.";
  else if (anything_back) problem = "Something answers on " + where + ", but in none of the frames this driver speaks (3E binary, 1E binary, 1E ASCII).";
  Finding f = finding("no_answer", Severity::kError, problem,
                      "Check the channel's IP address and port, that the PLC is on and reachable (a firewall may drop " +
                          std::string(report_.tcp ? "TCP" : "UDP") +
                          "), and that the Ethernet module's port is open for the MC protocol. A module set to 3E frames "
                          "in ASCII code does not understand this driver, which sends 3E frames in binary: set its "
                          "communication data code to binary.");
  f.numbers = {{"timeout_ms", wait_ms_}};
  report_.findings.push_back(std::move(f));
  return false;
}

// The module refused the station the device names: which nearby setting does it answer?
void DeviceDoctor::other_station(const Judgement& refused) {
  const ChannelBlock& base = *base_;
  const bool q = poller::is_q_series(base);
  struct Candidate {
    const char* diagnosis;
    int network, pc, module;
  };
  std::vector<Candidate> candidates;
  if (q && base.network_number != 0) candidates.push_back({"wrong_network", 0, base.pc_number, base.module_number});
  if (base.pc_number != 255) candidates.push_back({"wrong_pc_number", base.network_number, 255, base.module_number});
  if (q && base.module_number != 0) candidates.push_back({"wrong_cpu_number", base.network_number, base.pc_number, 0});
  if (candidates.size() > 1) candidates.push_back({"wrong_station", 0, 255, 0});
  const std::string refusal = code_text(base, refused);
  for (const Candidate& c : candidates) {
    auto b = std::make_unique<ChannelBlock>(base);
    b->network_number = static_cast<std::uint16_t>(c.network);
    b->pc_number = static_cast<std::uint16_t>(c.pc);
    b->module_number = static_cast<std::uint16_t>(c.module);
    poller::build_read_request(*b);
    const Exchange ex = link_.exchange(*b, wait_ms_);
    if (ex.result != ProbeResult::kReply) continue;
    const Judgement j = judge(*b, ex.bytes);
    if (j.kind != Judgement::kGood && !(j.kind == Judgement::kCode && !is_station_refusal(*b, j))) continue;
    const std::string diagnosis = c.diagnosis;
    Finding f;
    if (diagnosis == "wrong_network") {
      f = finding(c.diagnosis, Severity::kError,
                  "The module refuses network number " + std::to_string(base.network_number) + " with " + refusal +
                      " but answers network 0, its own network.",
                  "Set the PLC's Melsec Net network number to 0, or to a network the module reaches.");
    } else if (diagnosis == "wrong_pc_number") {
      f = finding(c.diagnosis, Severity::kError,
                  "The module refuses PC number " + std::to_string(base.pc_number) + " with " + refusal +
                      " but answers PC number 255, the CPU that carries the module.",
                  "Set the PLC's PC Number to 255, or to the station number the PLC has on its network.");
    } else if (diagnosis == "wrong_cpu_number") {
      f = finding(c.diagnosis, Severity::kError,
                  "The module refuses CPU/module number " + std::to_string(base.module_number) + " with " + refusal +
                      " but answers CPU/module number 0, the CPU it is in.",
                  "Set the PLC CPU/Module Number to 0 (one CPU in the rack) or to a CPU the rack holds.");
    } else {
      f = finding(c.diagnosis, Severity::kError,
                  "The module refuses network " + std::to_string(base.network_number) + ", PC number " +
                      std::to_string(base.pc_number) + ", CPU/module number " + std::to_string(base.module_number) + " with " +
                      refusal + " but answers network 0, PC number 255, CPU/module number 0: its own CPU.",
                  "Set the network number, PC Number and CPU/Module Number of the PLC to the station it really is "
                  "(0, 255 and 0 for the CPU carrying the module).");
    }
    f.numbers = {{"network", base.network_number}, {"pc_number", base.pc_number}, {"cpu_number", base.module_number},
                 {"code", refused.code}};
    report_.findings.push_back(std::move(f));
    return;
  }
  Finding f = finding("unreachable_station", Severity::kError,
                      "The module refuses network " + std::to_string(base.network_number) + ", PC number " +
                          std::to_string(base.pc_number) + ", CPU/module number " + std::to_string(base.module_number) +
                          " with " + refusal + ", and no nearby setting answers either.",
                      "Check the station numbers in the PLC's network parameters and set the PLC's network number, PC "
                      "Number and CPU/Module Number to match.");
  f.numbers = {{"network", base.network_number}, {"pc_number", base.pc_number}, {"cpu_number", base.module_number},
               {"code", refused.code}};
  report_.findings.push_back(std::move(f));
}

std::string DeviceDoctor::record_label(int k, const ChannelBlock& b) const {
  const RegisterType type = poller::block_register_type(b);
  const std::string at = editor::format_address(type, poller::block_start(b), static_cast<std::uint8_t>(b.extension));
  const bool words = image::is_word_device(type);
  return "Poll record " + std::to_string(k - device_record_.first_poll_record + 1) + " (" + at + ", " +
         std::to_string(b.length) + (words ? " register" : " point") + (b.length == 1 ? "" : "s") + ")";
}

void DeviceDoctor::records() {
  for (int k : records_) {
    auto b = read_of(k);
    if (!b) continue;
    const Exchange ex = ask(*b, wait_ms_);
    if (ex.result != ProbeResult::kReply) {
      records_clean_ = false;
      Finding f = finding("record_no_answer", Severity::kWarning,
                          record_label(k, *b) + " got no answer within " + ms_text(wait_ms_) + ", though the PLC answers.",
                          "See the reply times below; a record this long may take the PLC longer than the others.");
      f.numbers = {{"record", k - device_record_.first_poll_record + 1}};
      report_.findings.push_back(std::move(f));
      continue;
    }
    const Judgement j = judge(*b, ex.bytes);
    if (j.kind == Judgement::kGood) continue;
    records_clean_ = false;
    if (is_range_refusal(*b, j)) {
      range_of(k, *b, j);
      continue;
    }
    Finding f = finding("abnormal_code", Severity::kError, record_label(k, *b) + " is refused with " + code_text(*b, j) + ".",
                        "Check the record's register type and address against the CPU's device list.");
    f.numbers = {{"record", k - device_record_.first_poll_record + 1}, {"code", j.code}};
    report_.findings.push_back(std::move(f));
  }
}

std::optional<bool> DeviceDoctor::accepts(const ChannelBlock& base, RegisterType type, std::uint32_t head) {
  auto b = std::make_unique<ChannelBlock>(base);
  // A word of a word device; 16 points of a bit device, which 3E and 1E read as one word.
  const std::uint16_t length = image::is_word_device(type) ? 1 : 16;
  b->address_word = image::make_address_word(type, head);
  b->length = length;
  b->area1_size = image::area_sizes(type, length, image::ExceptionType::Disabled).size[0];
  poller::build_read_request(*b);
  const Exchange ex = link_.exchange(*b, wait_ms_);
  if (ex.result != ProbeResult::kReply) return std::nullopt;
  const Judgement j = judge(*b, ex.bytes);
  if (j.kind == Judgement::kGood) return true;
  if (j.kind == Judgement::kCode) return false;
  return std::nullopt;
}

// A record the CPU refuses for its range: which range of its register type would it take?
void DeviceDoctor::range_of(int k, const ChannelBlock& refused, const Judgement& j) {
  const RegisterType type = poller::block_register_type(refused);
  const std::uint32_t step = image::is_word_device(type) ? 1 : 16;
  const std::uint32_t start = poller::block_start(refused);
  const std::uint32_t last_asked = start + std::max<std::uint32_t>(covered_points(refused), 1) - 1;
  const std::uint8_t ex_number = static_cast<std::uint8_t>(refused.extension);
  auto at = [&](std::uint32_t n) { return editor::format_address(type, n, ex_number); };
  Finding f;
  f.diagnosis = "address_range";
  f.severity = Severity::kError;
  f.numbers = {{"record", k - device_record_.first_poll_record + 1}, {"code", j.code}, {"start", start}, {"length", refused.length}};
  f.texts = {{"register", poller::register_type_name(type)}};
  const std::optional<bool> first = accepts(refused, type, 0);
  if (first && !*first) {
    f.problem = record_label(k, refused) + " is refused with " + code_text(refused, j) + ", and so is " + at(0) +
                ": this CPU has no " + poller::register_type_name(type) + " devices" +
                (type == RegisterType::EX ? " in that extension block." : ".");
    f.fix = "Remove the record or choose a register type the CPU has (check the PLC's CPU Type).";
    report_.findings.push_back(std::move(f));
    return;
  }
  std::uint32_t lo = 0, hi = last_asked / step;
  const std::optional<bool> top = first ? accepts(refused, type, hi * step) : std::nullopt;
  if (!first || !top || *top) {
    // The devices are there: the refusal is about something else (the number of points).
    f.diagnosis = "abnormal_code";
    f.problem = record_label(k, refused) + " is refused with " + code_text(refused, j) + ".";
    f.fix = "Split the record into shorter ones.";
    report_.findings.push_back(std::move(f));
    return;
  }
  while (hi - lo > 1) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    const std::optional<bool> ok = accepts(refused, type, mid * step);
    if (!ok) break;
    (*ok ? lo : hi) = mid;
  }
  const std::uint32_t last = lo * step + step - 1;
  f.problem = record_label(k, refused) + " is refused with " + code_text(refused, j) + ". The CPU accepts " + at(0) +
              " to " + at(last) + ".";
  f.fix = "Move or shorten the record to lie within " + at(0) + " to " + at(last) + ", or check the PLC's CPU Type.";
  f.numbers.push_back({"accepted_first", 0});
  f.numbers.push_back({"accepted_last", last});
  report_.findings.push_back(std::move(f));
}

// Reply times against the reply timeout, and what the poller counted meanwhile.
void DeviceDoctor::timing() {
  const int long_wait = std::min(3 * wait_ms_, wait_ms_ + 10000);
  for (int i = 0; i < options_.timing_probes; ++i) {
    auto b = std::make_unique<ChannelBlock>(*base_);
    (void)ask(*b, long_wait);
  }
  if (reply_ms_.empty()) return;
  std::vector<double> sorted = reply_ms_;
  std::sort(sorted.begin(), sorted.end());
  const double slowest = sorted.back(), median = sorted[sorted.size() / 2];
  const std::size_t late = static_cast<std::size_t>(std::count_if(sorted.begin(), sorted.end(), [&](double ms) { return ms > wait_ms_; }));
  image::StatisticsBlock now = before_;
  if (const image::ChannelRecord* ch = niolib_.nio_map_chan(channel_)) now = ch->stats;
  const unsigned timeouts = now.reply_timeouts, requests = now.requests_sent;
  const unsigned watched_timeouts = static_cast<std::uint16_t>(now.reply_timeouts - before_.reply_timeouts);
  const unsigned watched_requests = static_cast<std::uint16_t>(now.requests_sent - before_.requests_sent);
  const std::string counted = "the poller counted " + std::to_string(timeouts) + " reply timeouts in " +
                              std::to_string(requests) + " requests, " + std::to_string(watched_timeouts) +
                              " of them in the " + std::to_string(watched_requests) + " it sent while the doctor watched";
  const std::string times = "slowest " + ms_text(slowest) + ", median " + ms_text(median) + " of " +
                            std::to_string(sorted.size()) + " replies";
  const std::string raise = "Raise the channel's Reply Timeout to at least " + seconds_text(std::max(2 * slowest, 100.0)) +
                            ", or ask less of the PLC: longer poll times, fewer poll records on its channel.";
  Finding f;
  if (late > 0) {
    f = finding("slow_replies", Severity::kError,
                "The PLC answers, but " + std::to_string(late) + " replies came later than the reply timeout of " +
                    ms_text(wait_ms_) + " (" + times + "); " + counted + ".",
                raise);
  } else if (timeouts > 0 && slowest >= 0.5 * wait_ms_) {
    f = finding("slow_replies", Severity::kWarning,
                "The PLC falls behind under load: replies take up to " + ms_text(slowest) + " against a reply timeout of " +
                    ms_text(wait_ms_) + " (" + times + "), and " + counted + ".",
                raise);
  } else if (slowest >= 0.8 * wait_ms_) {
    f = finding("slow_replies", Severity::kWarning,
                "Replies come close to the reply timeout of " + ms_text(wait_ms_) + " (" + times + ").", raise);
  } else if (watched_timeouts > 0) {
    f = finding("timeouts", Severity::kWarning,
                "The PLC answers the doctor quickly (" + times + "), yet " + counted + ".",
                "Look for another PLC on the same channel that does not answer, a second program asking the same "
                "PLC port, or a firewall dropping replies to the poller.");
  } else if (timeouts > 0) {
    f = finding("earlier_timeouts", Severity::kInfo,
                "The PLC answers quickly now (" + times + "); " + counted + ": the link was interrupted earlier.",
                "If it happens again, check the cabling and switches; 'hbtio stats --reset' starts the count afresh.");
  } else {
    return;
  }
  f.numbers = {{"reply_us_slowest", static_cast<std::int64_t>(1000 * slowest)},
               {"reply_us_median", static_cast<std::int64_t>(1000 * median)},
               {"timeout_ms", wait_ms_},
               {"late_replies", static_cast<std::int64_t>(late)},
               {"reply_timeouts", timeouts},
               {"requests", requests},
               {"reply_timeouts_watched", watched_timeouts}};
  report_.findings.push_back(std::move(f));
}

void DeviceDoctor::backups() {
  const image::ChannelRecord& ch = channel_record_;
  if (ch.stats.active_selector != ch.primary.port_low && ch.stats.active_selector != image::kChannelNotInService) {
    const image::ChannelSettings& b = ch.backup;
    const image::ChannelSettings& p = ch.primary;
    Finding f = finding("backup_settings", Severity::kWarning,
                        "The channel runs on its backup settings (reply timeout " + seconds_text(b.reply_timeout * 10.0) +
                            ", retries " + std::to_string(b.retries) + ", delay " + seconds_text(b.delay * 10.0) +
                            ") instead of its primary ones (reply timeout " + seconds_text(p.reply_timeout * 10.0) +
                            ", retries " + std::to_string(p.retries) + ", delay " + seconds_text(p.delay * 10.0) + ").",
                        "Restart polling (hbtio stop, then hbtio start): the poller selects the primary settings when it starts.");
    report_.findings.push_back(std::move(f));
  }
  const std::uint16_t backup_plc = device_record_.backup_plc;
  if (backup_plc != 0xFFFF) {
    Finding f = finding("backup_plc", Severity::kWarning,
                        "The PLC names backup PLC address " + std::to_string(backup_plc) +
                            ", but this driver never switches to a backup PLC: every request goes to PC number " +
                            std::to_string(device_record_.pc_number) + ".",
                        "Clear the Backup PLC Address (\"-\"); to poll a second PLC, add it as a PLC of its own.");
    f.numbers = {{"backup_plc", backup_plc}, {"pc_number", std::int64_t{device_record_.pc_number}}};
    report_.findings.push_back(std::move(f));
  }
}

}  // namespace

const char* severity_name(Severity severity) {
  switch (severity) {
    case Severity::kOk: return "ok";
    case Severity::kInfo: return "info";
    case Severity::kWarning: return "warning";
    case Severity::kError: return "error";
  }
  return "unknown";
}

bool DeviceDiagnosis::has(Severity severity) const {
  return std::any_of(findings.begin(), findings.end(), [&](const Finding& f) { return f.severity == severity; });
}

std::string frame_name(const image::DeviceRecord& device) {
  if (device.cpu_type == static_cast<std::uint16_t>(image::CpuType::QSeries)) return "3E binary";
  return device.coding == static_cast<std::uint16_t>(image::Coding::Ascii) ? "1E ASCII" : "1E binary";
}

DeviceDiagnosis diagnose_device(image::Niolib& niolib, int channel, int device, Link& link,
                                const image::StatisticsBlock& stats_before, const DoctorOptions& options) {
  return DeviceDoctor(niolib, channel, device, link, stats_before, options).run();
}

}  // namespace hbt::hbtio
