// Configuration file layout: writing the document out and reading it back.
#include "editor/config_file.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "editor/dictionary.h"

namespace hbt::editor {

namespace {

using image::kFilePrefixSize;
using image::kSegmentSize;

class FileBuilder {
 public:
  explicit FileBuilder(std::vector<std::uint8_t>* bytes) : bytes_(*bytes) { bytes_.clear(); }

  std::size_t position() const { return bytes_.size(); }
  // No table or record may cross a 64 KiB boundary: fill up to the boundary first.
  void keep_in_segment(std::size_t size) {
    std::size_t in_segment = bytes_.size() % kSegmentSize;
    if (in_segment != 0 && in_segment + size > kSegmentSize) {
      bytes_.resize(bytes_.size() + (kSegmentSize - in_segment), image::kSegmentFill);
    }
  }
  std::size_t reserve(std::size_t size) {
    std::size_t at = bytes_.size();
    bytes_.resize(at + size, 0);
    return at;
  }
  void put(std::size_t at, const void* data, std::size_t size) {
    std::memcpy(bytes_.data() + at, data, size);
  }
  void put_u32(std::size_t at, std::uint32_t value) { put(at, &value, sizeof value); }
  template <typename T>
  std::size_t append(const T& record) {
    std::size_t at = reserve(sizeof record);
    put(at, &record, sizeof record);
    return at;
  }

 private:
  std::vector<std::uint8_t>& bytes_;
};

std::uint32_t image_offset(std::size_t file_position) {
  return static_cast<std::uint32_t>(file_position - kFilePrefixSize);
}

}  // namespace

Message pack_configuration(CDidDoc& doc, std::uint32_t save_time, std::vector<std::uint8_t>* bytes) {
  std::size_t channels = doc.channels().size();
  std::size_t devices = 0, records = 0;
  for (const auto& channel : doc.channels()) {
    for (const auto& device : channel->devices()) {
      devices += device->iorecs().empty() ? 0 : 1;
      records += device->iorecs().size();
    }
  }
  if (channels > static_cast<std::size_t>(image::kMaxChannels)) {
    return message(kMsgTooManyChannels, std::to_string(channels), std::to_string(image::kMaxChannels));
  }
  if (devices > static_cast<std::size_t>(image::kMaxDevices)) {
    return message(kMsgTooManyDevices, std::to_string(devices), std::to_string(image::kMaxDevices));
  }
  if (records > static_cast<std::size_t>(image::kMaxPollRecords)) {
    return message(kMsgTooManyPollRecords, std::to_string(records),
                   std::to_string(image::kMaxPollRecords));
  }

  FileBuilder file(bytes);
  file.reserve(kFilePrefixSize + sizeof(image::ImageHeader));
  image::ImageHeader header{};
  header.lock = image::kUnlocked;
  header.load_check = image::kUnlocked;
  header.channel_count = static_cast<std::uint8_t>(channels);
  header.save_time = save_time;
  header.version = image::kFormatVersion;
  header.constant_108 = 108;
  header.device_record_size = image::kDeviceRecordSize;

  file.keep_in_segment(channels * 4);
  std::size_t channel_table = file.reserve(channels * 4);
  header.channel_table_offset = image_offset(channel_table);
  std::vector<CDevice*> device_order;
  device_order.reserve(devices);
  std::size_t running_records = 0;
  for (std::size_t i = 0; i < channels; ++i) {
    CDrvSpecificChannel& channel = *doc.channels()[i];
    file.keep_in_segment(sizeof(image::ChannelRecord));
    file.put_u32(channel_table + 4 * i, image_offset(file.position()));
    image::ChannelRecord record;
    channel.pack(&record);
    record.first_device = static_cast<std::uint16_t>(device_order.size());
    record.first_poll_record = static_cast<std::uint16_t>(running_records);
    // A device without poll records has no place in the file, nor in the document.
    auto& list = channel.devices();
    for (auto it = list.begin(); it != list.end();) {
      if ((*it)->iorecs().empty()) {
        if (doc.current_device() == it->get()) doc.set_current_device(nullptr);
        it = list.erase(it);
        continue;
      }
      device_order.push_back(it->get());
      record.poll_record_count = static_cast<std::uint16_t>(record.poll_record_count + (*it)->iorecs().size());
      running_records += (*it)->iorecs().size();
      ++it;
    }
    record.device_count = static_cast<std::uint16_t>(list.size());
    file.append(record);
  }

  file.keep_in_segment(device_order.size() * 4);
  std::size_t device_table = file.reserve(device_order.size() * 4);
  header.device_table_offset = image_offset(device_table);
  std::vector<CIORec*> record_order;
  record_order.reserve(records);
  for (std::size_t j = 0; j < device_order.size(); ++j) {
    CDevice& device = *device_order[j];
    file.keep_in_segment(sizeof(image::DeviceRecord));
    file.put_u32(device_table + 4 * j, image_offset(file.position()));
    image::DeviceRecord record;
    device.pack(&record);
    record.first_poll_record = static_cast<std::uint16_t>(record_order.size());
    record.poll_record_count = static_cast<std::uint16_t>(device.iorecs().size());
    file.append(record);
    ++header.device_count;
    for (const auto& iorec : device.iorecs()) record_order.push_back(iorec.get());
  }

  file.keep_in_segment(record_order.size() * sizeof(image::PollControlEntry));
  std::size_t control_table = file.reserve(record_order.size() * sizeof(image::PollControlEntry));
  header.poll_control_table_offset = image_offset(control_table);
  std::size_t device_index = 0, left_in_device = 0;
  for (std::size_t k = 0; k < record_order.size(); ++k) {
    while (left_in_device == 0) left_in_device = device_order[device_index++]->iorecs().size();
    --left_in_device;
    auto& iorec = *static_cast<CDrvSpecificIORec*>(record_order[k]);
    image::PollRecordHead head;
    iorec.pack(&head);
    iorec.set_record_number(static_cast<int>(k));
    std::uint32_t areas = iorec.area_sizes().total();
    file.keep_in_segment(sizeof head + areas);
    image::PollControlEntry entry{};
    entry.record_offset = image_offset(file.position());
    entry.access_countdown = head.access_time;
    entry.polled = head.polled;
    entry.lock = image::kUnlocked;
    entry.unused17 = image::kUnlocked;
    file.put(control_table + k * sizeof entry, &entry, sizeof entry);
    head.device_index = static_cast<std::uint16_t>(device_index - 1);
    file.append(head);
    file.reserve(areas);
    ++header.poll_record_count;
  }

  auto length = static_cast<std::uint32_t>(file.position());
  file.put_u32(0, length);
  file.put_u32(4, length);
  file.put(kFilePrefixSize, &header, sizeof header);
  return accepted();
}

namespace {

struct Reader {
  CDidDoc& doc;
  ByteSource& source;
  ReadReport report;
  bool older_layout = false;
  std::vector<std::uint32_t> channel_table, device_table;
  std::vector<image::PollControlEntry> control_table;
  std::vector<bool> device_used, record_used;

  bool fail(std::string reason) {
    report.corrupt = true;
    report.reason = std::move(reason);
    return false;
  }

  template <typename T>
  bool read_table(std::uint32_t offset, std::size_t count, std::vector<T>* table, const char* what) {
    table->resize(count);
    if (!source.read(std::uint64_t{offset} + kFilePrefixSize, count * sizeof(T), table->data())) {
      return fail(std::string(what) + " lies outside the file");
    }
    return true;
  }

  bool read_all() {
    image::ImageHeader header;
    if (!source.read_struct(kFilePrefixSize, &header)) return fail("file too short for its header");
    report.version = header.version;
    if (header.device_record_size != image::kDeviceRecordSize) {
      report.older_format = static_cast<std::uint16_t>(header.device_record_size);
    }
    older_layout = header.version != image::kFormatVersion;
    if (!read_table(header.channel_table_offset, header.channel_count, &channel_table, "channel table") ||
        !read_table(header.device_table_offset, header.device_count, &device_table, "device table") ||
        !read_table(header.poll_control_table_offset, header.poll_record_count, &control_table,
                    "poll control table")) {
      return false;
    }
    device_used.assign(device_table.size(), false);
    record_used.assign(control_table.size(), false);
    for (std::size_t i = 0; i < channel_table.size(); ++i) {
      if (!read_channel(i)) return false;
    }
    return true;
  }

  bool read_channel(std::size_t i) {
    image::ChannelRecord record;
    if (!source.read_struct(std::uint64_t{channel_table[i]} + kFilePrefixSize, &record)) {
      return fail("channel " + std::to_string(i + 1) + " lies outside the file");
    }
    CDrvSpecificChannel* channel = doc.append_channel();
    doc.set_current_channel(channel);
    channel->set_channel_number(static_cast<int>(i));
    channel->unpack(record);
    std::size_t first = record.first_device & 0xFF, count = record.device_count & 0xFF;
    if (first + count > device_table.size()) {
      return fail("channel " + std::to_string(i + 1) + " names devices the file does not hold");
    }
    for (std::size_t d = first; d < first + count; ++d) {
      if (!read_device(*channel, d)) return false;
    }
    return true;
  }

  bool read_device(CDrvSpecificChannel& channel, std::size_t d) {
    if (device_used[d]) return fail("device " + std::to_string(d) + " belongs to two channels");
    device_used[d] = true;
    image::DeviceRecord record;
    if (!source.read_struct(std::uint64_t{device_table[d]} + kFilePrefixSize, &record)) {
      return fail("device " + std::to_string(d) + " lies outside the file");
    }
    if (!kCpuTypeDct.position_of_code(record.cpu_type) || !kProtocolTypeDct.position_of_code(record.coding)) {
      return fail("device " + std::to_string(d) + " has an unknown CPU type or coding");
    }
    auto owned = std::make_unique<CDrvSpecificDevice>();
    owned->unpack(record, older_layout);
    auto* device = static_cast<CDrvSpecificDevice*>(channel.add_device(std::move(owned)));
    doc.set_current_device(device);
    std::size_t first = record.first_poll_record, count = record.poll_record_count;
    if (first + count > control_table.size()) {
      return fail("device " + device->name() + " names poll records the file does not hold");
    }
    for (std::size_t k = first; k < first + count; ++k) {
      if (record_used[k]) return fail("poll record " + std::to_string(k) + " belongs to two devices");
      record_used[k] = true;
      image::PollRecordHead head;
      if (!source.read_struct(std::uint64_t{control_table[k].record_offset} + kFilePrefixSize, &head)) {
        return fail("poll record " + std::to_string(k) + " lies outside the file");
      }
      if (!kDataTypeDct.position_of_code(head.data_type) ||
          !kExceptionDct.position_of_code(head.exception_type)) {
        return fail("poll record " + std::to_string(k) + " has an unknown data or exception type");
      }
      auto iorec = std::make_unique<CDrvSpecificIORec>();
      iorec->unpack(head);
      iorec->set_record_number(static_cast<int>(k));
      device->add_iorec(std::move(iorec));
    }
    return true;
  }
};

}  // namespace

ReadReport read_configuration(CDidDoc& doc, ByteSource& source) {
  Reader reader{doc, source, {}};
  bool ok;
  try {
    ok = reader.read_all();
  } catch (const std::bad_alloc&) {
    ok = reader.fail("out of memory");
  }
  if (!ok) {
    // Keep the older-format finding: the caller reports it before the corruption.
    std::optional<std::uint16_t> older = reader.report.older_format;
    doc.delete_contents();
    reader.report.older_format = older;
  }
  return reader.report;
}

}  // namespace hbt::editor
