// Poll records ("I/O Blocks"): a run of PLC registers read on a poll time, with its data
// type, exception type and dead band, and the address rules that keep it valid.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "editor/address.h"
#include "editor/csv_fields.h"
#include "editor/dictionary.h"
#include "editor/messages.h"
#include "image/layout.h"

namespace hbt::editor {

class CDevice;
class CDrvSpecificDevice;
class CDidDoc;

inline constexpr float kPollTimeDisabled = -1.0f;
inline constexpr float kAccessTimeDisabled = 172801.0f;
inline constexpr double kPollTimeMax = 86400.0;
inline constexpr double kAccessTimeMax = 172800.0;
inline constexpr std::int16_t kNoRecordNumber = -1;

class CIORec {
 public:
  CIORec();
  virtual ~CIORec();
  CIORec(const CIORec&) = default;
  CIORec& operator=(const CIORec&) = default;

  virtual const char* type_name() const { return "CIORec"; }

  Message set_poll_time(std::string_view text);
  std::string get_poll_time() const;
  Message set_access_time(std::string_view text);
  std::string get_access_time() const;
  virtual Message set_data_type(std::string_view text);
  std::string get_data_type() const;
  Message set_exception_type(std::string_view text);
  std::string get_exception_type() const;
  // `dialog` selects the dialog's wording for a negative value.
  Message set_deadband(std::string_view text, bool dialog = false);
  std::string get_deadband() const;
  Message set_record_number(std::string_view text);
  std::string get_record_number() const;

  virtual void unpack(const image::PollRecordHead& record) = 0;
  // Packs the head, data-area sizes and offsets included; the caller fills the device index.
  virtual void pack(image::PollRecordHead* record) const = 0;
  // The address operation of the driver: start, end or length from text.
  enum class AddressField { Start, End, Length };
  virtual Message set_address(AddressField field, std::string_view text) = 0;
  virtual bool read_csv_line(CsvFieldReader& fields, ImportReporter& reporter, const CDidDoc& doc,
                             CDevice** device) = 0;
  virtual std::string write_csv_line(char separator) const = 0;
  virtual std::string write_csv_header(char separator) const = 0;

  CDevice* device() const { return device_; }
  void set_device(CDevice* device) { device_ = device; }
  float poll_time() const { return poll_time_; }
  float access_time() const { return access_time_; }
  float deadband() const { return deadband_; }
  std::uint16_t data_type() const { return data_type_; }        // dictionary position
  std::uint16_t exception_type() const { return exception_; }   // dictionary position
  std::int16_t record_number() const { return record_number_; }
  void set_record_number(int number) { record_number_ = static_cast<std::int16_t>(number); }

 protected:
  std::uint32_t start_ = 0;  // register type in bits 28..31
  std::uint32_t end_ = 0;
  std::uint16_t length_ = 0;  // 0 = no start address yet
  std::uint16_t data_type_ = kDataUnsigned;
  float poll_time_ = 1.0f;
  float access_time_ = 300.0f;
  std::uint16_t exception_ = kExceptionDisabled;
  float deadband_ = 0.0f;
  CDevice* device_ = nullptr;
  std::int16_t record_number_ = kNoRecordNumber;
  std::uint8_t ex_number_ = 0;
};

class CDrvSpecificIORec final : public CIORec {
 public:
  const char* type_name() const override { return "CDrvSpecificIORec"; }

  Message set_data_type(std::string_view text) override;
  Message set_address(AddressField field, std::string_view text) override;
  Message set_start_address(std::string_view text) { return set_address(AddressField::Start, text); }
  Message set_end_address(std::string_view text) { return set_address(AddressField::End, text); }
  Message set_length(std::string_view text) { return set_address(AddressField::Length, text); }
  std::string get_start_address() const;
  std::string get_end_address() const;
  std::string get_length() const { return std::to_string(length_); }

  void unpack(const image::PollRecordHead& record) override;
  void pack(image::PollRecordHead* record) const override;
  bool read_csv_line(CsvFieldReader& fields, ImportReporter& reporter, const CDidDoc& doc,
                     CDevice** device) override;
  std::string write_csv_line(char separator) const override;
  std::string write_csv_header(char separator) const override;

  RegisterType register_type() const { return image::address_register_type(start_); }
  std::uint32_t start_address() const { return image::address_start(start_); }
  std::uint32_t end_address() const { return image::address_start(end_); }
  std::uint32_t start_word() const { return start_; }
  std::uint16_t length() const { return length_; }
  std::uint8_t ex_number() const { return ex_number_; }
  image::AreaSizes area_sizes() const;
  // Register type and EX number in one key, as the overlap rule groups records.
  std::uint32_t overlap_kind() const {
    return (static_cast<std::uint32_t>(register_type()) << 8) | ex_number_;
  }
  // Field-for-field equality (the dialog copies a working copy back only when it differs).
  bool same_fields(const CDrvSpecificIORec& other) const;

 private:
  const CDrvSpecificDevice* drv_device() const;
  bool ann_cpu() const;
  bool q_series() const;
  // Length rules after a change of start, end or length (works on this object).
  Message apply_length_rule(bool check_order);
  // The record's register range must not meet another record of the same device.
  Message check_overlap(const CIORec* self) const;
};

}  // namespace hbt::editor
