// Devices (PLCs) of a channel: name, description and the MELSEC addressing fields.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "editor/csv_fields.h"
#include "editor/messages.h"
#include "image/layout.h"

namespace hbt::editor {

class CChannel;
class CDidDoc;
class CIORec;

// Sorted ranges of a device's poll records by register type and EX number, so that the
// overlap rule need not walk every poll record of the device. Accepted records never
// overlap, so the ranges of one kind are disjoint.
class OverlapIndex {
 public:
  // 1-based list position of the first indexed record that meets [start, end], or 0.
  int first_overlap(std::uint32_t kind, std::uint32_t start, std::uint32_t end) const;
  void add(std::uint32_t kind, std::uint32_t start, std::uint32_t end, int position);

 private:
  struct Range {
    std::uint32_t end;
    int position;
  };
  std::map<std::uint32_t, std::map<std::uint32_t, Range>> kinds_;
};

inline constexpr std::size_t kMaxDeviceName = 11;
inline constexpr std::size_t kMaxDescription = 35;
inline constexpr std::uint16_t kNoPlcAddress = 0xFFFF;
inline constexpr std::uint16_t kLocalPcNumber = 255;
inline constexpr std::uint16_t kMaxPcNumber = 64;

class CDevice {
 public:
  CDevice();
  virtual ~CDevice();
  CDevice(const CDevice&) = delete;
  CDevice& operator=(const CDevice&) = delete;

  virtual const char* type_name() const { return "CDevice"; }

  // Name rules: permitted characters, then (when stored) length and forbidden characters.
  // Uniqueness is the document's business (CDidDoc::device_name_exists).
  Message set_name(std::string_view text);
  const std::string& name() const { return name_; }
  Message set_description(std::string_view text);
  const std::string& description() const { return description_; }

  virtual void unpack(const image::DeviceRecord& record, bool older_layout) = 0;
  virtual void pack(image::DeviceRecord* record) const;
  // Reads one data line of the device section; false means the line is refused. The
  // document gives the channel lookup and the name check; on acceptance *channel is set.
  virtual bool read_csv_line(CsvFieldReader& fields, ImportReporter& reporter, const CDidDoc& doc,
                             CChannel** channel) = 0;
  virtual std::string write_csv_line(char separator) const = 0;
  virtual std::string write_csv_header(char separator) const = 0;

  CChannel* channel() const { return channel_; }
  void set_channel(CChannel* channel) { channel_ = channel; }
  // The channel number last written with the device (export) or read for it (import).
  std::int16_t channel_number() const { return channel_number_; }
  void set_channel_number(int number) { channel_number_ = static_cast<std::int16_t>(number); }

  std::vector<std::unique_ptr<CIORec>>& iorecs() { return iorecs_; }
  const std::vector<std::unique_ptr<CIORec>>& iorecs() const { return iorecs_; }
  // Appends a poll record; the device becomes its owner.
  CIORec* add_iorec(std::unique_ptr<CIORec> iorec);
  void delete_iorec(const CIORec* iorec);

  // While set, the index must hold exactly the device's poll records, and no listed poll
  // record may change (the CSV import installs one while it appends).
  const OverlapIndex* overlap_index() const { return overlap_index_; }
  void set_overlap_index(const OverlapIndex* index) { overlap_index_ = index; }

 protected:
  std::string name_;
  std::string description_;
  CChannel* channel_ = nullptr;
  std::int16_t channel_number_ = 0;
  std::vector<std::unique_ptr<CIORec>> iorecs_;
  const OverlapIndex* overlap_index_ = nullptr;
};

class CDrvSpecificDevice final : public CDevice {
 public:
  const char* type_name() const override { return "CDrvSpecificDevice"; }

  // Device-panel rules: "-", " " or "" store 0xFFFF; otherwise 0..64 or 255.
  Message set_pc_number(std::string_view text);
  std::string get_pc_number() const;
  Message set_backup_plc(std::string_view text);
  std::string get_backup_plc() const;
  Message set_cpu_type(std::string_view text);
  std::string get_cpu_type() const;
  Message set_protocol_type(std::string_view text);
  std::string get_protocol_type() const;
  Message set_network_number(std::string_view text);
  std::string get_network_number() const;
  Message set_module_number(std::string_view text);
  std::string get_module_number() const;

  void unpack(const image::DeviceRecord& record, bool older_layout) override;
  void pack(image::DeviceRecord* record) const override;
  bool read_csv_line(CsvFieldReader& fields, ImportReporter& reporter, const CDidDoc& doc,
                     CChannel** channel) override;
  std::string write_csv_line(char separator) const override;
  std::string write_csv_header(char separator) const override;

  std::uint16_t pc_number() const { return pc_number_; }
  std::uint16_t backup_plc() const { return backup_plc_; }
  std::uint16_t cpu_type() const { return cpu_type_; }  // position in the CPU dictionary
  std::uint16_t protocol_type() const { return protocol_type_; }
  std::uint16_t network_number() const { return network_number_; }
  std::uint16_t module_number() const { return module_number_; }
  void set_cpu_position(int position) { cpu_type_ = static_cast<std::uint16_t>(position); }
  void set_protocol_position(int position) { protocol_type_ = static_cast<std::uint16_t>(position); }
  bool ann_cpu() const;      // ranges of the "AnN/AnS" column
  bool q_series() const;     // length limits of "Q Series"

 private:
  std::uint16_t pc_number_ = kLocalPcNumber;
  std::uint16_t backup_plc_ = kNoPlcAddress;
  std::uint16_t cpu_type_;       // position; default "Q Series"
  std::uint16_t protocol_type_;  // position; default "BINARY"
  std::uint16_t network_number_ = 0;
  std::uint16_t module_number_ = 0;

 public:
  CDrvSpecificDevice();
};

}  // namespace hbt::editor
