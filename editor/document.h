// The editor's document: the ordered channels of the configuration with their devices and
// poll records, the current selection, and the document state (path, modified flag).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "editor/channel.h"
#include "editor/device.h"
#include "editor/iorec.h"
#include "editor/ui_port.h"

namespace hbt::editor {

inline constexpr int kRecentFiles = 4;
inline constexpr std::string_view kDeviceNamePrefix = "M";  // string 414

class CDidDoc {
 public:
  CDidDoc();
  ~CDidDoc();
  CDidDoc(const CDidDoc&) = delete;
  CDidDoc& operator=(const CDidDoc&) = delete;

  std::vector<std::unique_ptr<CDrvSpecificChannel>>& channels() { return channels_; }
  const std::vector<std::unique_ptr<CDrvSpecificChannel>>& channels() const { return channels_; }

  // Selecting channel n (1-based) appends default channels up to n, numbers the selected
  // one n - 1, makes it current and gives it a default device when it has none.
  CDrvSpecificChannel* select_channel(int n);
  // When the form is first shown: one default channel if the document has none.
  void ensure_channel();
  CDrvSpecificChannel* append_channel();

  CDrvSpecificChannel* current_channel() const { return current_channel_; }
  void set_current_channel(CDrvSpecificChannel* channel) { current_channel_ = channel; }
  CDrvSpecificDevice* current_device() const { return current_device_; }
  void set_current_device(CDrvSpecificDevice* device) { current_device_ = device; }

  // "M" + channel number (1-based) + devices the current channel holds ("M30").
  std::string default_device_name() const;
  // The Add Device dialog's proposal: the default name, or "" when that name is taken.
  std::string proposed_device_name() const;
  // Appends a default device, named by default_device_name(), to the current channel.
  CDrvSpecificDevice* add_default_device();
  // Name rules plus uniqueness over all channels; `dialog` picks the Add Device wording.
  Message rename_device(CDevice& device, std::string_view name, bool dialog) const;
  void delete_device(CDevice* device);

  CDevice* find_device(std::string_view name) const;  // case-sensitive, any channel
  bool device_name_exists(std::string_view name, const CDevice* except) const;
  CChannel* find_channel_by_number(int number) const;  // channel number as recorded

  std::size_t device_count() const;
  std::size_t poll_record_count() const;

  // Deletes the whole tree and resets the document state.
  void delete_contents();
  // Counts delete_contents(): a window that remembers the count it drew knows whether the
  // tree it shows still exists (a failed Open empties the document too).
  std::uint64_t contents_generation() const { return contents_generation_; }

  const std::string& path() const { return path_; }
  void set_path(std::string path);  // also puts it on top of the recent files
  const std::string& title() const { return title_; }
  void set_title(std::string title) { title_ = std::move(title); }
  bool modified() const { return modified_; }
  void set_modified(bool modified) { modified_ = modified; }
  bool saved_since_start() const { return saved_since_start_; }
  void set_saved_since_start(bool saved) { saved_since_start_ = saved; }
  bool log_flag() const { return log_flag_; }
  void set_log_flag(bool on) { log_flag_ = on; }
  const std::vector<std::string>& recent_files() const { return recent_files_; }

 private:
  std::vector<std::unique_ptr<CDrvSpecificChannel>> channels_;
  CDrvSpecificChannel* current_channel_ = nullptr;
  CDrvSpecificDevice* current_device_ = nullptr;
  std::string path_;
  std::string title_ = "Untitled";
  bool modified_ = false;
  bool saved_since_start_ = false;
  bool log_flag_ = false;
  std::vector<std::string> recent_files_;
  std::uint64_t contents_generation_ = 0;
};

// Asks "This will delete the Device and all associated Poll Records..." and on Yes deletes
// the device with its poll records and marks the document modified.
bool delete_device_asking(CDidDoc& doc, CDevice* device, UiPort& ui);

}  // namespace hbt::editor
