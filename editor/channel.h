// Channels of the configuration: the generic part (serial settings of the driver family,
// error handling, alarms) and the Ethernet part (IP address, port, protocol).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "editor/csv_fields.h"
#include "editor/dictionary.h"
#include "editor/messages.h"
#include "image/layout.h"

namespace hbt::editor {

class CDevice;
class CDidDoc;

// One of the two settings blocks (primary, backup) of a channel.
struct PortSettings {
  std::uint16_t port_number = 0;  // 1-based; 0 = none
  std::uint16_t baud_rate = kBaud9600;
  std::uint16_t data_bits = kDataBits8;
  std::uint16_t parity = kParityNone;
  std::uint16_t flow_control = kHandshakeNone;
  std::uint16_t stop_bits = kStopBits1;
  float reply_timeout = 1.0f;  // seconds
  float delay = 10.0f;         // seconds
  std::uint16_t retries = 3;
  bool operator==(const PortSettings&) const = default;
};

class CChannel {
 public:
  CChannel();
  virtual ~CChannel();
  CChannel(const CChannel&) = delete;
  CChannel& operator=(const CChannel&) = delete;

  virtual const char* type_name() const { return "CChannel"; }

  // Setters return the refusal message, or accepted(); a refusal changes nothing.
  // `backup` selects the backup port's field.
  Message set_port(std::string_view text, bool backup = false);
  std::string get_port(bool backup = false) const;
  Message set_baud_rate(std::string_view text, bool backup = false);
  std::string get_baud_rate(bool backup = false) const;
  Message set_data_bits(std::string_view text, bool backup = false);
  std::string get_data_bits(bool backup = false) const;
  Message set_parity(std::string_view text, bool backup = false);
  std::string get_parity(bool backup = false) const;
  Message set_flow_control(std::string_view text, bool backup = false);
  std::string get_flow_control(bool backup = false) const;
  Message set_stop_bits(std::string_view text, bool backup = false);
  std::string get_stop_bits(bool backup = false) const;
  Message set_reply_timeout(std::string_view text, bool backup = false);
  std::string get_reply_timeout(bool backup = false) const;
  Message set_retries(std::string_view text, bool backup = false);
  std::string get_retries(bool backup = false) const;
  Message set_delay(std::string_view text, bool backup = false);
  std::string get_delay(bool backup = false) const;
  Message set_display_alarms(std::string_view text);
  std::string get_display_alarms() const;
  Message set_disable_comms_alarms(std::string_view text);
  std::string get_disable_comms_alarms() const;
  Message set_channel_number(std::string_view text);
  std::string get_channel_number() const;

  virtual void unpack(const image::ChannelRecord& record);
  virtual void pack(image::ChannelRecord* record) const;
  // Reads one data line of the channel section into this channel (never refused).
  virtual void read_csv_line(CsvFieldReader& fields, ImportReporter& reporter) = 0;
  virtual std::string write_csv_line(char separator) const = 0;
  virtual std::string write_csv_header(char separator) const = 0;

  PortSettings& settings(bool backup) { return backup ? backup_ : primary_; }
  const PortSettings& settings(bool backup) const { return backup ? backup_ : primary_; }
  std::uint8_t display_alarms() const { return display_alarms_; }
  std::uint8_t disable_comms_alarms() const { return disable_comms_alarms_; }
  void set_disable_comms_alarms(std::uint8_t on) { disable_comms_alarms_ = on ? 1 : 0; }
  std::int16_t channel_number() const { return channel_number_; }
  void set_channel_number(int number) { channel_number_ = static_cast<std::int16_t>(number); }

  std::vector<std::unique_ptr<CDevice>>& devices() { return devices_; }
  const std::vector<std::unique_ptr<CDevice>>& devices() const { return devices_; }
  // Appends a device; the channel becomes its owner.
  CDevice* add_device(std::unique_ptr<CDevice> device);
  // Removes and deletes a device with its poll records.
  void delete_device(const CDevice* device);
  std::size_t poll_record_count() const;

 protected:
  PortSettings primary_;
  PortSettings backup_;
  std::uint8_t display_alarms_ = 1;        // Yes_No_dct code
  std::uint8_t disable_comms_alarms_ = 0;
  std::int16_t channel_number_ = 0;
  std::vector<std::unique_ptr<CDevice>> devices_;
};

class CDrvSpecificChannel final : public CChannel {
 public:
  const char* type_name() const override { return "CDrvSpecificChannel"; }

  Message set_ip_address(std::string_view text);
  std::string get_ip_address() const;
  Message set_ip_port(std::string_view text);
  std::string get_ip_port() const;
  Message set_ip_protocol(std::string_view text);  // "TCP" anywhere in the text: TCP
  std::string get_ip_protocol() const;

  void unpack(const image::ChannelRecord& record) override;
  void pack(image::ChannelRecord* record) const override;
  void read_csv_line(CsvFieldReader& fields, ImportReporter& reporter) override;
  std::string write_csv_line(char separator) const override;
  std::string write_csv_header(char separator) const override;

  std::uint32_t ip_address() const { return ip_address_; }
  std::uint32_t ip_port() const { return ip_port_; }
  std::uint32_t ip_protocol() const { return ip_protocol_; }
  void set_ip(std::uint32_t address, std::uint32_t port, std::uint32_t protocol) {
    ip_address_ = address, ip_port_ = port, ip_protocol_ = protocol ? 1 : 0;
  }
  // Same settings, ignoring devices and channel number.
  bool same_settings(const CDrvSpecificChannel& other) const;
  void copy_settings_from(const CDrvSpecificChannel& other);

 private:
  std::uint32_t ip_address_ = 0;  // first octet in bits 24..31
  std::uint32_t ip_port_ = 5000;
  std::uint32_t ip_protocol_ = 0;  // 0 UDP, 1 TCP
};

inline constexpr double kReplyTimeoutMin = 0.1, kReplyTimeoutMax = 1800.0;
inline constexpr double kDelayMin = 0.0, kDelayMax = 3600.0;
inline constexpr int kRetriesMin = 0, kRetriesMax = 9;
// Column 8 of a channel line above this value resets the error-handling fields.
inline constexpr long kCsvReplyTimeoutCeiling = 900;

// Parses a dotted IP address ("192.168.3.39"); nothing for a text that is not one.
std::optional<std::uint32_t> parse_ip_address(std::string_view text);
std::string format_ip_address(std::uint32_t address);

}  // namespace hbt::editor
