// Channels: field rules, record packing and CSV lines.
#include "editor/channel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "editor/device.h"
#include "editor/number_text.h"

namespace hbt::editor {

namespace {

Message set_from_dictionary(const Dictionary& dct, std::string_view text, std::uint16_t* field,
                            MessageId refusal) {
  auto position = dct.find(text);
  if (!position) return message(refusal);
  *field = static_cast<std::uint16_t>(*position);
  return accepted();
}

std::uint16_t position_or(const Dictionary& dct, int code, int fallback) {
  auto position = dct.position_of_code(code);
  return static_cast<std::uint16_t>(position ? *position : fallback);
}

void pack_settings(const PortSettings& s, image::ChannelSettings* out) {
  // The port is stored as (number - 1) in 12 bits: low byte here, bits 8..11 in the
  // high nibble of the data-bits byte; no port gives 0xFFF.
  unsigned port = (static_cast<unsigned>(s.port_number) - 1u) & 0xFFFu;
  out->port_low = static_cast<std::uint8_t>(port & 0xFF);
  out->serial_codes[0] = static_cast<std::uint8_t>(kBaudDct.code_at(s.baud_rate));
  out->serial_codes[1] = static_cast<std::uint8_t>((kDataBitsDct.code_at(s.data_bits) & 0x0F) |
                                                   ((port >> 8) << 4));
  out->serial_codes[2] = static_cast<std::uint8_t>(kStopBitsDct.code_at(s.stop_bits));
  out->serial_codes[3] = static_cast<std::uint8_t>(kParityDct.code_at(s.parity));
  out->serial_codes[4] = 0;
  out->serial_codes[5] = static_cast<std::uint8_t>(kHandshakeDct.code_at(s.flow_control));
  out->retries = static_cast<std::uint8_t>(s.retries);
  out->reply_timeout = hundredths_rounded(s.reply_timeout);
  out->delay = hundredths_rounded(s.delay);
}

void unpack_settings(const image::ChannelSettings& in, PortSettings* s) {
  unsigned port = in.port_low | (static_cast<unsigned>(in.serial_codes[1] >> 4) << 8);
  s->port_number = static_cast<std::uint16_t>(port == 0xFFF ? 0 : port + 1);
  s->baud_rate = position_or(kBaudDct, in.serial_codes[0], kBaud9600);
  s->data_bits = position_or(kDataBitsDct, in.serial_codes[1] & 0x0F, kDataBits8);
  s->stop_bits = position_or(kStopBitsDct, in.serial_codes[2], kStopBits1);
  s->parity = position_or(kParityDct, in.serial_codes[3], kParityNone);
  s->flow_control = position_or(kHandshakeDct, in.serial_codes[5], kHandshakeNone);
  s->retries = in.retries;
  s->reply_timeout = static_cast<float>(in.reply_timeout / 100.0);
  s->delay = static_cast<float>(in.delay / 100.0);
}

}  // namespace

CChannel::CChannel() = default;
CChannel::~CChannel() = default;

Message CChannel::set_port(std::string_view text, bool backup) {
  // "None" and texts that name no port both mean no port.
  auto position = kPortDct.find(text);
  settings(backup).port_number =
      static_cast<std::uint16_t>(position ? kPortDct.code_at(*position) + 1 : 0);
  return accepted();
}

std::string CChannel::get_port(bool backup) const {
  auto position = kPortDct.position_of_code(static_cast<int>(settings(backup).port_number) - 1);
  return position ? std::string(kPortDct.at(*position).text) : "NONE";
}

Message CChannel::set_baud_rate(std::string_view text, bool backup) {
  return set_from_dictionary(kBaudDct, text, &settings(backup).baud_rate, kMsgInvalidBaud);
}
std::string CChannel::get_baud_rate(bool backup) const {
  return kBaudDct.text_at(settings(backup).baud_rate);
}
Message CChannel::set_data_bits(std::string_view text, bool backup) {
  return set_from_dictionary(kDataBitsDct, text, &settings(backup).data_bits, kMsgInvalidDataBits);
}
std::string CChannel::get_data_bits(bool backup) const {
  return kDataBitsDct.text_at(settings(backup).data_bits);
}
Message CChannel::set_parity(std::string_view text, bool backup) {
  return set_from_dictionary(kParityDct, text, &settings(backup).parity, kMsgInvalidParity);
}
std::string CChannel::get_parity(bool backup) const {
  return kParityDct.text_at(settings(backup).parity);
}
Message CChannel::set_flow_control(std::string_view text, bool backup) {
  return set_from_dictionary(kHandshakeDct, text, &settings(backup).flow_control,
                             kMsgInvalidFlowControl);
}
std::string CChannel::get_flow_control(bool backup) const {
  return kHandshakeDct.text_at(settings(backup).flow_control);
}
Message CChannel::set_stop_bits(std::string_view text, bool backup) {
  return set_from_dictionary(kStopBitsDct, text, &settings(backup).stop_bits, kMsgInvalidStopBits);
}
std::string CChannel::get_stop_bits(bool backup) const {
  return kStopBitsDct.text_at(settings(backup).stop_bits);
}

Message CChannel::set_reply_timeout(std::string_view text, bool backup) {
  auto value = parse_real(text);
  if (!value || *value < kReplyTimeoutMin || *value > kReplyTimeoutMax) {
    return message(kMsgInvalidReplyTimeout, format_bound(kReplyTimeoutMin),
                   format_bound(kReplyTimeoutMax));
  }
  settings(backup).reply_timeout = static_cast<float>(*value);
  return accepted();
}
std::string CChannel::get_reply_timeout(bool backup) const {
  return format_time(settings(backup).reply_timeout);
}

Message CChannel::set_retries(std::string_view text, bool backup) {
  auto value = parse_digits(text);
  if (!value || *value > static_cast<unsigned>(kRetriesMax)) {
    return message(kMsgInvalidRetry, std::to_string(kRetriesMin), std::to_string(kRetriesMax));
  }
  settings(backup).retries = static_cast<std::uint16_t>(*value);
  return accepted();
}
std::string CChannel::get_retries(bool backup) const {
  return std::to_string(settings(backup).retries);
}

Message CChannel::set_delay(std::string_view text, bool backup) {
  auto value = parse_real(text);
  if (!value || *value < kDelayMin || *value > kDelayMax) {
    return message(kMsgInvalidDelay, format_bound(kDelayMin), format_bound(kDelayMax));
  }
  settings(backup).delay = static_cast<float>(*value);
  return accepted();
}
std::string CChannel::get_delay(bool backup) const { return format_time(settings(backup).delay); }

Message CChannel::set_display_alarms(std::string_view text) {
  auto position = kYesNoDct.find(text);
  if (!position) return message(kMsgInvalidDisplayAlarm);
  display_alarms_ = static_cast<std::uint8_t>(kYesNoDct.code_at(*position));
  return accepted();
}
std::string CChannel::get_display_alarms() const { return kYesNoDct.text_of_code(display_alarms_); }

Message CChannel::set_disable_comms_alarms(std::string_view text) {
  auto position = kYesNoDct.find(text);
  if (!position) return message(kMsgInvalidDisplayAlarm);
  disable_comms_alarms_ = static_cast<std::uint8_t>(kYesNoDct.code_at(*position));
  return accepted();
}
std::string CChannel::get_disable_comms_alarms() const {
  return kYesNoDct.text_of_code(disable_comms_alarms_);
}

Message CChannel::set_channel_number(std::string_view text) {
  channel_number_ = static_cast<std::int16_t>(plain_decimal(text));
  return accepted();
}
std::string CChannel::get_channel_number() const { return std::to_string(channel_number_); }

void CChannel::unpack(const image::ChannelRecord& record) {
  display_alarms_ = record.display_alarms;
  disable_comms_alarms_ = record.disable_comms_alarms;
  unpack_settings(record.primary, &primary_);
  unpack_settings(record.backup, &backup_);
}

void CChannel::pack(image::ChannelRecord* record) const {
  std::memset(record, 0, sizeof *record);
  record->display_alarms = display_alarms_;
  record->disable_comms_alarms = disable_comms_alarms_;
  pack_settings(primary_, &record->primary);
  pack_settings(backup_, &record->backup);
  record->stats.active_selector = record->primary.port_low;
  record->u82 = image::kUnlocked;
  record->u83 = image::kUnlocked;
}

CDevice* CChannel::add_device(std::unique_ptr<CDevice> device) {
  device->set_channel(this);
  devices_.push_back(std::move(device));
  return devices_.back().get();
}

void CChannel::delete_device(const CDevice* device) {
  std::erase_if(devices_, [device](const std::unique_ptr<CDevice>& d) { return d.get() == device; });
}

std::size_t CChannel::poll_record_count() const {
  std::size_t count = 0;
  for (const auto& device : devices_) count += device->iorecs().size();
  return count;
}

// ---------------------------------------------------------------------------------------

std::optional<std::uint32_t> parse_ip_address(std::string_view text) {
  text = trim_blanks(text);
  std::uint32_t groups[4] = {0, 0, 0, 0};
  int count = 0;
  std::size_t start = 0;
  for (;;) {
    std::size_t dot = text.find('.', start);
    std::string_view group = text.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (count == 4 || group.size() > 3) return std::nullopt;
    if (!group.empty()) {
      auto value = parse_digits(group);
      if (!value || *value > 255) return std::nullopt;
      groups[count] = static_cast<std::uint32_t>(*value);
    }
    ++count;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return ((groups[0] * 256 + groups[1]) * 256 + groups[2]) * 256 + groups[3];
}

std::string format_ip_address(std::uint32_t a) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%d.%d.%d.%d", static_cast<int>(a >> 24),
                static_cast<int>((a >> 16) & 0xFF), static_cast<int>((a >> 8) & 0xFF),
                static_cast<int>(a & 0xFF));
  return buffer;
}

Message CDrvSpecificChannel::set_ip_address(std::string_view text) {
  auto address = parse_ip_address(text);
  if (!address) return message(kMsgInvalidIpAddress);
  ip_address_ = *address;
  return accepted();
}
std::string CDrvSpecificChannel::get_ip_address() const { return format_ip_address(ip_address_); }

Message CDrvSpecificChannel::set_ip_port(std::string_view text) {
  auto port = parse_digits(text);
  if (!port || *port == 0 || *port > 65535) return message(kMsgInvalidIpPort);
  ip_port_ = static_cast<std::uint32_t>(*port);
  return accepted();
}
std::string CDrvSpecificChannel::get_ip_port() const { return std::to_string(ip_port_); }

Message CDrvSpecificChannel::set_ip_protocol(std::string_view text) {
  ip_protocol_ = text.find("TCP") != std::string_view::npos ? 1 : 0;
  return accepted();
}
std::string CDrvSpecificChannel::get_ip_protocol() const { return ip_protocol_ ? "TCP" : "UDP"; }

void CDrvSpecificChannel::unpack(const image::ChannelRecord& record) {
  CChannel::unpack(record);
  ip_port_ = record.ip_port;
  ip_address_ = record.ip_address;
  ip_protocol_ = record.ip_protocol ? 1 : 0;
}

void CDrvSpecificChannel::pack(image::ChannelRecord* record) const {
  CChannel::pack(record);
  record->ip_port = ip_port_;
  record->ip_address = ip_address_;
  record->ip_protocol = ip_protocol_;
}

void CDrvSpecificChannel::read_csv_line(CsvFieldReader& fields, ImportReporter& reporter) {
  // A channel line is never refused: a short line leaves the remaining fields at their
  // defaults, a refused value is reported and keeps its default.
  auto note = [&reporter](const Message& m) {
    if (!m.ok()) reporter.report(m);
  };
  auto number = fields.next();
  if (!number) return;
  set_channel_number(*number);
  auto alarms = fields.next();
  if (!alarms) return;
  note(set_display_alarms(*alarms));
  if (!fields.skip(5)) return;
  auto timeout = fields.next();
  if (!timeout) return;
  if (plain_decimal(*timeout) <= kCsvReplyTimeoutCeiling) {
    note(set_reply_timeout(*timeout));
    auto delay = fields.next();
    if (!delay) return;
    note(set_delay(*delay));
    auto retries = fields.next();
    if (!retries) return;
    note(set_retries(*retries));
  } else {
    primary_.reply_timeout = 1.0f;
    primary_.delay = 10.0f;
    primary_.retries = 2;
    if (!fields.skip(2)) return;
  }
  if (!fields.skip(9)) return;
  auto address = fields.next();
  if (!address) return;
  note(set_ip_address(*address));
  auto port = fields.next();
  if (!port) return;
  note(set_ip_port(*port));
  auto protocol = fields.next();
  if (!protocol) return;
  note(set_ip_protocol(*protocol));
}

std::string CDrvSpecificChannel::write_csv_line(char separator) const {
  std::vector<std::string> f(22);
  f[0] = get_channel_number();
  f[1] = get_display_alarms();
  f[7] = get_reply_timeout();
  f[8] = get_delay();
  f[9] = get_retries();
  f[19] = get_ip_address();
  f[20] = get_ip_port();
  f[21] = get_ip_protocol();
  return join_fields(f, separator);
}

std::string CDrvSpecificChannel::write_csv_header(char separator) const {
  std::vector<std::string> f(22);
  f[0] = "CHANNEL";
  f[1] = "DISPLAY ALARMS";
  f[7] = "REPLY TIMEOUT";
  f[8] = "DELAY";
  f[9] = "RETRIES";
  f[19] = "IP Address";
  f[20] = "IP Port";
  f[21] = "IP Protocol";
  // The "!" stays outside any quotes, or the line would not read as a header.
  return "!" + join_fields(f, separator);
}

bool CDrvSpecificChannel::same_settings(const CDrvSpecificChannel& o) const {
  return primary_ == o.primary_ && backup_ == o.backup_ && display_alarms_ == o.display_alarms_ &&
         disable_comms_alarms_ == o.disable_comms_alarms_ && ip_address_ == o.ip_address_ &&
         ip_port_ == o.ip_port_ && ip_protocol_ == o.ip_protocol_;
}

void CDrvSpecificChannel::copy_settings_from(const CDrvSpecificChannel& o) {
  primary_ = o.primary_;
  backup_ = o.backup_;
  display_alarms_ = o.display_alarms_;
  disable_comms_alarms_ = o.disable_comms_alarms_;
  ip_address_ = o.ip_address_;
  ip_port_ = o.ip_port_;
  ip_protocol_ = o.ip_protocol_;
}

}  // namespace hbt::editor
