// The document: ownership of the configuration tree and the selection rules.
#include "editor/document.h"

#include <algorithm>

namespace hbt::editor {

CDidDoc::CDidDoc() = default;
CDidDoc::~CDidDoc() { delete_contents(); }

CDrvSpecificChannel* CDidDoc::append_channel() {
  channels_.push_back(std::make_unique<CDrvSpecificChannel>());
  channels_.back()->set_channel_number(static_cast<int>(channels_.size()) - 1);
  return channels_.back().get();
}

CDrvSpecificChannel* CDidDoc::select_channel(int n) {
  if (n < 1) return nullptr;
  while (static_cast<int>(channels_.size()) < n) append_channel();
  CDrvSpecificChannel* channel = channels_[static_cast<std::size_t>(n - 1)].get();
  channel->set_channel_number(n - 1);
  current_channel_ = channel;
  current_device_ = nullptr;
  if (channel->devices().empty()) current_device_ = add_default_device();
  else current_device_ = static_cast<CDrvSpecificDevice*>(channel->devices().front().get());
  return channel;
}

void CDidDoc::ensure_channel() {
  if (channels_.empty()) current_channel_ = append_channel();
}

std::string CDidDoc::default_device_name() const {
  std::string name(kDeviceNamePrefix);
  int number = 1;
  std::size_t devices = 0;
  if (current_channel_) {
    auto it = std::find_if(channels_.begin(), channels_.end(),
                           [this](const auto& c) { return c.get() == current_channel_; });
    number = static_cast<int>(it - channels_.begin()) + 1;
    devices = current_channel_->devices().size();
  }
  return name + std::to_string(number) + std::to_string(devices);
}

std::string CDidDoc::proposed_device_name() const {
  std::string name = default_device_name();
  return device_name_exists(name, nullptr) ? std::string() : name;
}

CDrvSpecificDevice* CDidDoc::add_default_device() {
  if (!current_channel_) return nullptr;
  auto device = std::make_unique<CDrvSpecificDevice>();
  // The default name only holds permitted characters and is short; it cannot be refused.
  device->set_name(default_device_name());
  auto* added = static_cast<CDrvSpecificDevice*>(current_channel_->add_device(std::move(device)));
  return added;
}

Message CDidDoc::rename_device(CDevice& device, std::string_view name, bool dialog) const {
  // The host addresses data by the name, and the list shows it: a device needs one.
  if (name.empty()) return message(kMsgDeviceNameEmpty);
  static constexpr std::string_view kCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";
  for (char c : name) {
    if (kCharacters.find(c) == std::string_view::npos) return message(kMsgDeviceNameCharacters);
  }
  if (device_name_exists(name, &device)) {
    return message(dialog ? kMsgDeviceNameExistsDialog : kMsgDeviceNameExists);
  }
  return device.set_name(name);
}

void CDidDoc::delete_device(CDevice* device) {
  if (!device || !device->channel()) return;
  if (current_device_ == device) current_device_ = nullptr;
  device->channel()->delete_device(device);
}

CDevice* CDidDoc::find_device(std::string_view name) const {
  for (const auto& channel : channels_) {
    for (const auto& device : channel->devices()) {
      if (device->name() == name) return device.get();
    }
  }
  return nullptr;
}

bool CDidDoc::device_name_exists(std::string_view name, const CDevice* except) const {
  for (const auto& channel : channels_) {
    for (const auto& device : channel->devices()) {
      if (device.get() != except && device->name() == name) return true;
    }
  }
  return false;
}

CChannel* CDidDoc::find_channel_by_number(int number) const {
  for (const auto& channel : channels_) {
    if (channel->channel_number() == number) return channel.get();
  }
  return nullptr;
}

std::size_t CDidDoc::device_count() const {
  std::size_t count = 0;
  for (const auto& channel : channels_) count += channel->devices().size();
  return count;
}

std::size_t CDidDoc::poll_record_count() const {
  std::size_t count = 0;
  for (const auto& channel : channels_) count += channel->poll_record_count();
  return count;
}

void CDidDoc::delete_contents() {
  // Poll records first, then devices, then channels.
  for (auto& channel : channels_) {
    for (auto& device : channel->devices()) device->iorecs().clear();
    channel->devices().clear();
  }
  channels_.clear();
  current_channel_ = nullptr;
  current_device_ = nullptr;
  path_.clear();
  title_ = "Untitled";
  modified_ = false;
  ++contents_generation_;
}

void CDidDoc::set_path(std::string path) {
  path_ = std::move(path);
  std::size_t slash = path_.find_last_of("/\\");
  title_ = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  std::erase(recent_files_, path_);
  recent_files_.insert(recent_files_.begin(), path_);
  if (recent_files_.size() > kRecentFiles) recent_files_.resize(kRecentFiles);
}

bool delete_device_asking(CDidDoc& doc, CDevice* device, UiPort& ui) {
  if (!device) return false;
  if (ui.message_box(message_text(kMsgDeleteDevice), "", Buttons::YesNo, Icon::Warning) != Answer::Yes) {
    return false;
  }
  doc.delete_device(device);
  doc.set_modified(true);
  return true;
}

}  // namespace hbt::editor
