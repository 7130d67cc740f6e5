// Poll records: field rules, address rules, record packing and CSV lines.
#include "editor/iorec.h"

#include <cmath>
#include <cstring>

#include "editor/device.h"
#include "editor/document.h"
#include "editor/number_text.h"

namespace hbt::editor {

namespace {

constexpr std::uint32_t kWordLimitQ = 512, kWordLimit = 256;
constexpr std::uint32_t kBitLimitQ = 4096, kBitLimit = 2048, kExtendedMLimit = 256;

image::DataType data_type_code(std::uint16_t position) {
  return static_cast<image::DataType>(kDataTypeDct.code_at(position));
}

bool is_disabled_text(std::string_view text) {
  return equals_ignoring_case(trim_blanks(text), "Disabled");
}

}  // namespace

CIORec::CIORec() = default;
CIORec::~CIORec() = default;

Message CIORec::set_poll_time(std::string_view text) {
  if (is_disabled_text(text)) {
    poll_time_ = kPollTimeDisabled;
    return accepted();
  }
  auto value = parse_real(text);
  if (!value || *value < 0 || *value > kPollTimeMax) {
    return message(kMsgInvalidPollTime, format_bound(0), format_bound(kPollTimeMax));
  }
  poll_time_ = static_cast<float>(*value);
  return accepted();
}

std::string CIORec::get_poll_time() const {
  return poll_time_ == kPollTimeDisabled ? "Disabled" : format_time(poll_time_);
}

Message CIORec::set_access_time(std::string_view text) {
  if (is_disabled_text(text)) {
    access_time_ = kAccessTimeDisabled;
    return accepted();
  }
  if (exception_ != kExceptionDisabled) return message(kMsgExceptionBasedAccess);
  auto value = parse_real(text);
  if (!value || *value < 0 || *value > kAccessTimeMax) {
    return message(kMsgInvalidAccessTime, format_bound(0), format_bound(kAccessTimeMax));
  }
  access_time_ = static_cast<float>(*value);
  return accepted();
}

std::string CIORec::get_access_time() const {
  return access_time_ == kAccessTimeDisabled ? "Disabled" : format_time(access_time_);
}

Message CIORec::set_data_type(std::string_view text) {
  auto position = kDataTypeDct.find(text);
  if (!position) return message(kMsgDataTypeInvalid);
  data_type_ = static_cast<std::uint16_t>(*position);
  return accepted();
}
std::string CIORec::get_data_type() const { return kDataTypeDct.text_at(data_type_); }

Message CIORec::set_exception_type(std::string_view text) {
  auto position = kExceptionDct.find(text);
  if (!position) return message(kMsgExceptionInvalid);
  exception_ = static_cast<std::uint16_t>(*position);
  return accepted();
}
std::string CIORec::get_exception_type() const { return kExceptionDct.text_at(exception_); }

Message CIORec::set_deadband(std::string_view text, bool dialog) {
  auto value = parse_float(text);
  if (!value) return message(kMsgDeadbandInvalid);
  if (*value < 0) return message(dialog ? kMsgDeadbandNegative : kMsgDeadbandInvalid);
  deadband_ = static_cast<float>(*value);
  return accepted();
}
std::string CIORec::get_deadband() const { return format_time(deadband_); }

Message CIORec::set_record_number(std::string_view text) {
  record_number_ = static_cast<std::int16_t>(plain_decimal(text));
  return accepted();
}
std::string CIORec::get_record_number() const { return std::to_string(record_number_); }

// ---------------------------------------------------------------------------------------

const CDrvSpecificDevice* CDrvSpecificIORec::drv_device() const {
  return static_cast<const CDrvSpecificDevice*>(device_);
}
// A poll record not yet given to a device is judged as for the default CPU (Q Series).
bool CDrvSpecificIORec::ann_cpu() const { return device_ && drv_device()->ann_cpu(); }
bool CDrvSpecificIORec::q_series() const { return !device_ || drv_device()->q_series(); }

std::string CDrvSpecificIORec::get_start_address() const {
  if (length_ == 0) return "--Undefined--";
  return format_address(register_type(), start_address(), ex_number_);
}

std::string CDrvSpecificIORec::get_end_address() const {
  if (length_ == 0) return "--Undefined--";
  return format_address(image::address_register_type(end_), end_address(), ex_number_);
}

Message CDrvSpecificIORec::apply_length_rule(bool check_order) {
  RegisterType type = register_type();
  std::uint32_t start = start_address();
  if (check_order && end_address() < start) return message(kMsgStartBeforeEnd);
  bool word = register_info(type).word_device;
  bool extended_m = is_extended_m(type, start);
  std::uint32_t limit = word ? (q_series() ? kWordLimitQ : kWordLimit)
                             : (extended_m ? kExtendedMLimit : (q_series() ? kBitLimitQ : kBitLimit));
  std::uint32_t length = length_;
  if (length == 0 || length > limit) return message(kMsgInvalidLength, std::to_string(limit));
  if (!word && !extended_m) length = (length + 15) & ~std::uint32_t{15};
  if (image::is_32_bit(data_type_code(data_type_))) {
    length &= ~std::uint32_t{1};
    if (length == 0) length = 2;
  }
  length_ = static_cast<std::uint16_t>(length);
  std::uint32_t end = start + length - 1;
  Message range = check_range(type, end, ann_cpu());
  if (!range.ok()) return range;
  end_ = image::make_address_word(type, end);
  return accepted();
}

Message CDrvSpecificIORec::check_overlap(const CIORec* self) const {
  if (!device_) return accepted();
  std::uint32_t start = start_address(), end = end_address();
  if (const OverlapIndex* index = device_->overlap_index()) {
    int position = index->first_overlap(overlap_kind(), start, end);
    if (position == 0) return accepted();
    return message(kMsgAddressAlreadyDefined, std::to_string(position));
  }
  RegisterType type = register_type();
  int position = 0;
  for (const auto& other_ptr : device_->iorecs()) {
    ++position;
    if (other_ptr.get() == self) continue;
    const auto* other = static_cast<const CDrvSpecificIORec*>(other_ptr.get());
    if (other->length_ == 0 || other->register_type() != type || other->ex_number_ != ex_number_) {
      continue;
    }
    if (other->start_address() <= end && start <= other->end_address()) {
      return message(kMsgAddressAlreadyDefined, std::to_string(position));
    }
  }
  return accepted();
}

Message CDrvSpecificIORec::set_address(AddressField field, std::string_view text) {
  if (field != AddressField::Start && length_ == 0) return message(kMsgStartAddressFirst);
  // Every step works on a copy, so a refused change leaves the record as it was.
  CDrvSpecificIORec copy = *this;
  Message result;
  switch (field) {
    case AddressField::Start: {
      ParsedAddress parsed;
      if (Message m = parse_address(text, &parsed); !m.ok()) return m;
      std::uint32_t start = round_start(parsed.type, parsed.address);
      if (Message m = check_range(parsed.type, start, ann_cpu()); !m.ok()) return m;
      copy.start_ = image::make_address_word(parsed.type, start);
      copy.ex_number_ = parsed.ex_number;
      copy.data_type_ = register_info(parsed.type).word_device ? kDataUnsigned : kDataDigital;
      if (length_ == 0) {
        copy.length_ = 1;
        copy.end_ = copy.start_;
      } else {
        // Also for another register type: the old end decides, and the length rule refuses
        // what does not fit rather than keeping a length the new type may not hold.
        auto length = static_cast<std::uint16_t>(end_address() - start + 1);
        copy.length_ = length == 0 ? 0xFFFF : length;
      }
      result = copy.apply_length_rule(true);
      break;
    }
    case AddressField::End: {
      ParsedAddress parsed;
      if (Message m = parse_address(text, &parsed); !m.ok()) return m;
      if (parsed.type != register_type() || parsed.ex_number != ex_number_) {
        return message(kMsgInvalidRegisterType);
      }
      std::uint32_t end = round_start(parsed.type, parsed.address);
      if (Message m = check_range(parsed.type, end, ann_cpu()); !m.ok()) return m;
      copy.end_ = image::make_address_word(parsed.type, end);
      auto length = static_cast<std::uint16_t>(end - start_address() + 1);
      copy.length_ = length == 0 ? 0xFFFF : length;
      result = copy.apply_length_rule(true);
      break;
    }
    case AddressField::Length: {
      auto value = parse_digits(text);
      copy.length_ = static_cast<std::uint16_t>(value && *value <= 0xFFFF ? *value : 0);
      result = copy.apply_length_rule(false);
      break;
    }
  }
  if (!result.ok()) return result;
  if (Message m = copy.check_overlap(this); !m.ok()) return m;
  *this = copy;
  return accepted();
}

Message CDrvSpecificIORec::set_data_type(std::string_view text) {
  auto position = kDataTypeDct.find(text);
  if (!position) return message(kMsgDataTypeInvalid);
  if (length_ == 0) {
    data_type_ = static_cast<std::uint16_t>(*position);
    return accepted();
  }
  CDrvSpecificIORec copy = *this;
  copy.data_type_ = static_cast<std::uint16_t>(*position);
  bool word = register_info(register_type()).word_device;
  Message note;
  if (!word && copy.data_type_ != kDataDigital) {
    copy.data_type_ = kDataDigital;
    note = message(kMsgMustBeDigital);
  } else if (word && copy.data_type_ == kDataDigital) {
    copy.data_type_ = kDataUnsigned;
    note = message(kMsgInvalidDataTypeForAddress);
  } else if (word && image::is_32_bit(data_type_code(copy.data_type_))) {
    if (Message m = copy.apply_length_rule(false); !m.ok()) return m;
    if (Message m = copy.check_overlap(this); !m.ok()) return m;
  }
  *this = copy;
  return note;
}

image::AreaSizes CDrvSpecificIORec::area_sizes() const {
  return image::area_sizes(register_type(), length_,
                           static_cast<image::ExceptionType>(kExceptionDct.code_at(exception_)));
}

void CDrvSpecificIORec::pack(image::PollRecordHead* record) const {
  std::memset(record, 0, sizeof *record);
  bool polled = poll_time_ != kPollTimeDisabled;
  record->status = image::kStatusNotPolled;
  record->polled = polled ? 1 : 0;
  record->lock = image::kUnlocked;
  record->unused4 = image::kUnlocked;
  record->exception_type = static_cast<std::uint8_t>(kExceptionDct.code_at(exception_));
  record->poll_time = hundredths_truncated(poll_time_);
  record->access_time = hundredths_truncated(access_time_);
  record->dead_band = deadband_;
  // The integer dead band serves 16-bit values: anything wider never lets a change through.
  double whole = std::isnan(deadband_) ? 0.0 : std::trunc(static_cast<double>(deadband_));
  record->dead_band_int = static_cast<std::uint16_t>(whole < 0 ? 0 : whole > 65535 ? 65535 : whole);
  image::AreaSizes sizes = area_sizes();
  std::uint32_t offset = image::kPollRecordHeadSize;
  for (int k = 0; k < 5; ++k) {
    record->areas[k].offset = offset;
    record->areas[k].size = sizes.size[k];
    offset += sizes.size[k];
  }
  record->data_type = static_cast<std::uint16_t>(kDataTypeDct.code_at(data_type_));
  record->length = length_;
  record->address_word = start_;
  record->extension = register_type() == RegisterType::EX ? ex_number_ : 0;
}

void CDrvSpecificIORec::unpack(const image::PollRecordHead& record) {
  length_ = record.length;
  poll_time_ = seconds_from_hundredths(record.poll_time);
  access_time_ = seconds_from_hundredths(record.access_time);
  // Codes are checked by the file reader before unpacking.
  exception_ = static_cast<std::uint16_t>(
      kExceptionDct.position_of_code(record.exception_type).value_or(kExceptionDisabled));
  data_type_ = static_cast<std::uint16_t>(
      kDataTypeDct.position_of_code(record.data_type).value_or(kDataUnsigned));
  deadband_ = record.dead_band;
  start_ = record.address_word;
  ex_number_ = static_cast<std::uint8_t>(record.extension & 0xFF);
  end_ = (start_ & 0xF0000000u) | ((start_ + length_ - 1u) & 0xFFFFFFu);
}

bool CDrvSpecificIORec::read_csv_line(CsvFieldReader& fields, ImportReporter& reporter,
                                      const CDidDoc& doc, CDevice** device) {
  if (!fields.next()) {
    reporter.report(message(kMsgCsvIorecNotFound));
    return false;
  }
  auto name = fields.next();
  CDevice* owner = name ? doc.find_device(*name) : nullptr;
  if (!owner) {
    reporter.report(message(kMsgCsvDeviceNotFound));
    return false;
  }
  static constexpr const char* kColumns[] = {"DATA TYPE",  "POLL TIME",     "ACCESS TIME", "EXCEPTION",
                                             "DEAD BAND",  "START ADDRESS", "LENGTH"};
  std::string column[7];
  for (int i = 0; i < 7; ++i) {
    auto field = fields.next();
    if (!field) {
      reporter.report(message(kMsgCsvFieldNotFound, kColumns[i]));
      return false;
    }
    column[i] = std::move(*field);
  }
  // The rules judge the record by its device's CPU and against its poll records.
  device_ = owner;
  auto note = [&reporter](const Message& m) {
    if (!m.ok()) reporter.report(m);
  };
  note(set_poll_time(column[1]));
  note(set_access_time(column[2]));
  note(set_exception_type(column[3]));
  note(set_deadband(column[4]));
  if (Message m = set_start_address(column[5]); !m.ok()) {
    reporter.report(m);
    return false;
  }
  // An empty length would leave a record without registers; it is refused like a bad one.
  if (Message m = set_length(column[6]); !m.ok()) {
    reporter.report(m);
    return false;
  }
  note(set_data_type(column[0]));
  *device = owner;
  return true;
}

std::string CDrvSpecificIORec::write_csv_line(char separator) const {
  std::vector<std::string> f(9);
  f[0] = std::to_string(record_number_);
  f[1] = device_ ? device_->name() : "";
  f[2] = get_data_type();
  f[3] = get_poll_time();
  f[4] = get_access_time();
  f[5] = get_exception_type();
  f[6] = get_deadband();
  f[7] = get_start_address();
  f[8] = get_length();
  return join_fields(f, separator);
}

std::string CDrvSpecificIORec::write_csv_header(char separator) const {
  return "!" + join_fields({"IOREC", "DEVICE NAME", "DATA TYPE", "POLL TIME", "ACCESS TIME", "EXCEPTION",
                      "DEAD BAND", "START ADDRESS", "LENGTH"},
                     separator);
}

bool CDrvSpecificIORec::same_fields(const CDrvSpecificIORec& o) const {
  return start_ == o.start_ && end_ == o.end_ && length_ == o.length_ && data_type_ == o.data_type_ &&
         poll_time_ == o.poll_time_ && access_time_ == o.access_time_ && exception_ == o.exception_ &&
         deadband_ == o.deadband_ && ex_number_ == o.ex_number_;
}

}  // namespace hbt::editor
