// Devices: field rules, record packing and CSV lines.
#include "editor/device.h"

#include <algorithm>
#include <cstring>

#include "editor/channel.h"
#include "editor/dictionary.h"
#include "editor/document.h"
#include "editor/iorec.h"
#include "editor/number_text.h"

namespace hbt::editor {

namespace {

constexpr std::string_view kNameCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";
constexpr std::string_view kForbiddenNameCharacters = ":,|&";

Message set_plc_address(std::string_view text, std::uint16_t* field) {
  if (text.empty() || text == "-" || text == " ") {
    *field = kNoPlcAddress;
    return accepted();
  }
  for (char c : text) {
    if (c < '0' || c > '9') return message(kMsgEnterNumber);
  }
  auto value = parse_digits(text);
  if (text.size() >= 4 || !value || (*value > kMaxPcNumber && *value != kLocalPcNumber)) {
    return message(kMsgInvalidPlcAddress, "0", std::to_string(kMaxPcNumber));
  }
  *field = static_cast<std::uint16_t>(*value);
  return accepted();
}

std::string plc_address_text(std::uint16_t value) {
  return value == kNoPlcAddress ? "-" : std::to_string(value);
}

// NUL-terminated text of at most `max` characters from a fixed field.
std::string fixed_text(const char* field, std::size_t size, std::size_t max) {
  std::size_t length = 0;
  while (length < size && length < max && field[length] != '\0') ++length;
  return std::string(field, length);
}

}  // namespace

int OverlapIndex::first_overlap(std::uint32_t kind, std::uint32_t start, std::uint32_t end) const {
  auto k = kinds_.find(kind);
  if (k == kinds_.end()) return 0;
  const auto& ranges = k->second;
  // Disjoint ranges sorted by start are sorted by end too: the ones meeting [start, end]
  // are the run that ends just before the first range starting after `end`.
  int first = 0;
  for (auto it = ranges.upper_bound(end); it != ranges.begin();) {
    --it;
    if (it->second.end < start) break;
    if (first == 0 || it->second.position < first) first = it->second.position;
  }
  return first;
}

void OverlapIndex::add(std::uint32_t kind, std::uint32_t start, std::uint32_t end, int position) {
  kinds_[kind][start] = Range{end, position};
}

CDevice::CDevice() = default;
CDevice::~CDevice() = default;

Message CDevice::set_name(std::string_view text) {
  for (char c : text) {
    if (kNameCharacters.find(c) == std::string_view::npos) return message(kMsgDeviceNameCharacters);
  }
  if (text.size() > kMaxDeviceName) return message(kMsgDeviceNameTooLong);
  if (text.find_first_of(kForbiddenNameCharacters) != std::string_view::npos) {
    return message(kMsgDeviceNameForbidden);
  }
  name_ = std::string(text);
  return accepted();
}

Message CDevice::set_description(std::string_view text) {
  if (text.size() > kMaxDescription) return message(kMsgDescriptionTooLong);
  // The file keeps NUL-terminated text: a NUL would silently cut it.
  description_ = std::string(text.substr(0, text.find('\0')));
  return accepted();
}

void CDevice::pack(image::DeviceRecord* record) const {
  std::memset(record, 0, sizeof *record);
  std::memcpy(record->name, name_.data(), std::min(name_.size(), kMaxDeviceName));
  std::memcpy(record->description, description_.data(),
              std::min(description_.size(), kMaxDescription));
  record->u52 = image::kUnlocked;
  record->u53 = image::kUnlocked;
}

CIORec* CDevice::add_iorec(std::unique_ptr<CIORec> iorec) {
  iorec->set_device(this);
  iorecs_.push_back(std::move(iorec));
  return iorecs_.back().get();
}

void CDevice::delete_iorec(const CIORec* iorec) {
  std::erase_if(iorecs_, [iorec](const std::unique_ptr<CIORec>& r) { return r.get() == iorec; });
}

// ---------------------------------------------------------------------------------------

CDrvSpecificDevice::CDrvSpecificDevice() : cpu_type_(kCpuQSeries), protocol_type_(kProtocolBinary) {}

bool CDrvSpecificDevice::ann_cpu() const { return cpu_type_ == kCpuAnN; }
bool CDrvSpecificDevice::q_series() const { return cpu_type_ == kCpuQSeries; }

Message CDrvSpecificDevice::set_pc_number(std::string_view text) {
  return set_plc_address(text, &pc_number_);
}
std::string CDrvSpecificDevice::get_pc_number() const { return plc_address_text(pc_number_); }
Message CDrvSpecificDevice::set_backup_plc(std::string_view text) {
  return set_plc_address(text, &backup_plc_);
}
std::string CDrvSpecificDevice::get_backup_plc() const { return plc_address_text(backup_plc_); }

Message CDrvSpecificDevice::set_cpu_type(std::string_view text) {
  auto position = kCpuTypeDct.find(text);
  if (!position) return message(kMsgInvalidCpuType);
  cpu_type_ = static_cast<std::uint16_t>(*position);
  return accepted();
}
std::string CDrvSpecificDevice::get_cpu_type() const { return kCpuTypeDct.text_at(cpu_type_); }

Message CDrvSpecificDevice::set_protocol_type(std::string_view text) {
  auto position = kProtocolTypeDct.find(text);
  if (!position) return message(kMsgInvalidProtocol);
  protocol_type_ = static_cast<std::uint16_t>(*position);
  return accepted();
}
std::string CDrvSpecificDevice::get_protocol_type() const {
  return kProtocolTypeDct.text_at(protocol_type_);
}

Message CDrvSpecificDevice::set_network_number(std::string_view text) {
  network_number_ = static_cast<std::uint16_t>(plain_decimal(text));
  return accepted();
}
std::string CDrvSpecificDevice::get_network_number() const { return std::to_string(network_number_); }
Message CDrvSpecificDevice::set_module_number(std::string_view text) {
  module_number_ = static_cast<std::uint16_t>(plain_decimal(text));
  return accepted();
}
std::string CDrvSpecificDevice::get_module_number() const { return std::to_string(module_number_); }

void CDrvSpecificDevice::unpack(const image::DeviceRecord& record, bool older_layout) {
  name_ = fixed_text(record.name, sizeof record.name, kMaxDeviceName);
  const char* bytes = reinterpret_cast<const char*>(&record);
  std::size_t at = older_layout ? image::kOlderDescriptionOffset : offsetof(image::DeviceRecord, description);
  description_ = fixed_text(bytes + at, image::kDeviceRecordSize - at, kMaxDescription);
  pc_number_ = record.pc_number_again;
  backup_plc_ = record.backup_plc;
  // Codes are checked by the file reader before unpacking.
  cpu_type_ = static_cast<std::uint16_t>(kCpuTypeDct.position_of_code(record.cpu_type).value_or(kCpuQSeries));
  protocol_type_ = static_cast<std::uint16_t>(
      kProtocolTypeDct.position_of_code(record.coding).value_or(kProtocolBinary));
  network_number_ = record.network_number;
  module_number_ = record.module_number;
}

void CDrvSpecificDevice::pack(image::DeviceRecord* record) const {
  CDevice::pack(record);
  record->cpu_type = static_cast<std::uint16_t>(kCpuTypeDct.code_at(cpu_type_));
  record->pc_number = pc_number_;
  record->pc_number_again = pc_number_;
  record->backup_plc = kNoPlcAddress;
  record->coding = static_cast<std::uint16_t>(kProtocolTypeDct.code_at(protocol_type_));
  record->network_number = network_number_;
  record->module_number = module_number_;
}

bool CDrvSpecificDevice::read_csv_line(CsvFieldReader& fields, ImportReporter& reporter,
                                       const CDidDoc& doc, CChannel** channel) {
  auto name = fields.next();
  if (!name || name->empty()) {
    reporter.report(message(kMsgCsvDeviceNotFound));
    return false;
  }
  Message refusal = set_name(*name);
  if (!refusal.ok()) {
    // A device without a name could not be addressed by the host; the message says why.
    reporter.report(refusal);
    return false;
  }
  auto number = fields.next();
  CChannel* owner = number ? doc.find_channel_by_number(static_cast<int>(plain_decimal(*number)))
                           : nullptr;
  if (!owner) {
    reporter.report(message(kMsgCsvChannelNotFound));
    return false;
  }
  if (doc.device_name_exists(name_, this)) {
    reporter.report(message(kMsgDeviceNameExists));
    return false;
  }
  *channel = owner;
  channel_number_ = owner->channel_number();
  auto note = [&reporter](const Message& m) {
    if (!m.ok()) reporter.report(m);
  };
  auto description = fields.next();
  if (!description) return true;
  note(set_description(*description));
  auto cpu = fields.next();
  if (!cpu) return true;
  note(set_cpu_type(*cpu));
  auto protocol = fields.next();
  if (!protocol) return true;
  note(set_protocol_type(*protocol));
  if (!fields.skip(4)) return true;
  // The import takes PC, network and module numbers as plain numbers.
  auto pc = fields.next();
  if (!pc) return true;
  pc_number_ = static_cast<std::uint16_t>(plain_decimal(*pc));
  auto network = fields.next();
  if (!network) return true;
  network_number_ = static_cast<std::uint16_t>(plain_decimal(*network));
  auto module = fields.next();
  if (!module) return true;
  module_number_ = static_cast<std::uint16_t>(plain_decimal(*module));
  return true;
}

std::string CDrvSpecificDevice::write_csv_line(char separator) const {
  std::vector<std::string> f(12);
  f[0] = name_;
  f[1] = std::to_string(channel_number_);
  f[2] = description_;
  f[3] = get_cpu_type();
  f[4] = get_protocol_type();
  f[9] = std::to_string(static_cast<std::int16_t>(pc_number_));
  f[10] = std::to_string(network_number_);
  f[11] = std::to_string(module_number_);
  return join_fields(f, separator);
}

std::string CDrvSpecificDevice::write_csv_header(char separator) const {
  std::vector<std::string> f(12);
  f[0] = "DEVICE NAME";
  f[1] = "CHANNEL";
  f[2] = "DESCRIPTION";
  f[3] = "CPU";
  f[4] = "PROTOCOL";
  f[9] = "PRIMARY PLC ADDRESS";
  f[10] = "Network";
  f[11] = "Module";
  // The "!" stays outside any quotes, or the line would not read as a header.
  return "!" + join_fields(f, separator);
}

}  // namespace hbt::editor
