#include "testsupport/image_builder.h"

#include <cstring>

namespace hbt::testsupport {

using namespace hbt::image;

namespace {

class Writer {
 public:
  std::size_t pos() const { return bytes_.size(); }
  // Offsets in the image count from the header, 102 bytes into the file.
  std::uint32_t image_offset() const { return static_cast<std::uint32_t>(pos() - kFilePrefixSize); }

  void keep_in_segment(std::size_t size) {
    if (pos() % kSegmentSize + size > kSegmentSize)
      bytes_.append(kSegmentSize - pos() % kSegmentSize, static_cast<char>(kSegmentFill));
  }
  template <typename T>
  void put(const T& value) {
    bytes_.append(reinterpret_cast<const char*>(&value), sizeof value);
  }
  void zeros(std::size_t n) { bytes_.append(n, '\0'); }
  template <typename T>
  void put_at(std::size_t at, const T& value) {
    std::memcpy(bytes_.data() + at, &value, sizeof value);
  }
  std::string take() { return std::move(bytes_); }

 private:
  std::string bytes_;
};

void copy_text(char* to, std::size_t size, const std::string& text) {
  std::memset(to, 0, size);
  std::memcpy(to, text.data(), std::min(text.size(), size - 1));
}

}  // namespace

std::string build_configuration(const ConfigSpec& plan) {
  Writer w;
  w.zeros(kFilePrefixSize);
  ImageHeader header{};
  header.lock = kUnlocked;
  header.load_check = kUnlocked;
  header.version = plan.version;
  header.constant_108 = 108;
  header.device_record_size = kDeviceRecordSize;
  const std::size_t header_at = w.pos();
  w.zeros(sizeof header);

  struct Flat {
    const DeviceSpec* device;
    int channel;
  };
  std::vector<Flat> devices;
  std::vector<const RecordSpec*> records;
  std::vector<int> record_device;

  const std::size_t channel_count = plan.channels.size();
  w.keep_in_segment(4 * channel_count);
  header.channel_table_offset = w.image_offset();
  const std::size_t channel_table_at = w.pos();
  w.zeros(4 * channel_count);
  for (std::size_t c = 0; c < channel_count; ++c) {
    const ChannelSpec& cs = plan.channels[c];
    w.keep_in_segment(sizeof(ChannelRecord));
    w.put_at(channel_table_at + 4 * c, w.image_offset());
    ChannelRecord ch{};
    ch.first_device = static_cast<std::uint16_t>(devices.size());
    ch.device_count = static_cast<std::uint16_t>(cs.devices.size());
    ch.first_poll_record = static_cast<std::uint16_t>(records.size());
    for (const auto& d : cs.devices) {
      devices.push_back({&d, static_cast<int>(c)});
      for (const auto& r : d.records) {
        records.push_back(&r);
        record_device.push_back(static_cast<int>(devices.size() - 1));
      }
    }
    ch.poll_record_count = static_cast<std::uint16_t>(records.size() - ch.first_poll_record);
    ch.display_alarms = cs.display_alarms;
    for (ChannelSettings* s : {&ch.primary, &ch.backup}) {
      s->port_low = 0xFF;
      s->serial_codes[1] = 0xF0;
      s->retries = cs.retries;
      s->reply_timeout = cs.reply_timeout;
      s->delay = cs.delay;
    }
    ch.stats.active_selector = ch.primary.port_low;
    ch.u82 = ch.u83 = kUnlocked;
    ch.ip_port = cs.ip_port;
    ch.ip_address = cs.ip_address;
    ch.ip_protocol = cs.tcp ? 1 : 0;
    w.put(ch);
  }

  w.keep_in_segment(4 * devices.size());
  header.device_table_offset = w.image_offset();
  const std::size_t device_table_at = w.pos();
  w.zeros(4 * devices.size());
  std::uint16_t next_record = 0;
  for (std::size_t d = 0; d < devices.size(); ++d) {
    const DeviceSpec& ds = *devices[d].device;
    w.keep_in_segment(sizeof(DeviceRecord));
    w.put_at(device_table_at + 4 * d, w.image_offset());
    DeviceRecord dev{};
    dev.first_poll_record = next_record;
    dev.poll_record_count = static_cast<std::uint16_t>(ds.records.size());
    next_record = static_cast<std::uint16_t>(next_record + ds.records.size());
    copy_text(dev.name, sizeof dev.name, ds.name);
    copy_text(dev.description, sizeof dev.description, ds.description);
    dev.u52 = dev.u53 = kUnlocked;
    dev.cpu_type = static_cast<std::uint16_t>(ds.cpu);
    dev.pc_number = dev.pc_number_again = ds.pc_number;
    dev.backup_plc = 0xFFFF;
    dev.coding = static_cast<std::uint16_t>(ds.coding);
    dev.network_number = ds.network;
    dev.module_number = ds.module;
    w.put(dev);
  }

  w.keep_in_segment(sizeof(PollControlEntry) * records.size());
  header.poll_control_table_offset = w.image_offset();
  const std::size_t control_at = w.pos();
  w.zeros(sizeof(PollControlEntry) * records.size());
  for (std::size_t k = 0; k < records.size(); ++k) {
    const RecordSpec& rs = *records[k];
    AreaSizes sizes = area_sizes(rs.type, rs.length, rs.exception);
    PollRecordHead rec{};
    rec.status = kStatusNotPolled;
    rec.polled = rs.poll_time != kPollTimeDisabled;
    rec.lock = rec.unused4 = kUnlocked;
    rec.exception_type = static_cast<std::uint8_t>(rs.exception);
    rec.poll_time = rs.poll_time;
    rec.access_time = rs.access_time;
    rec.device_index = static_cast<std::uint16_t>(record_device[k]);
    rec.dead_band = rs.dead_band;
    rec.dead_band_int = static_cast<std::uint16_t>(rs.dead_band);
    std::uint32_t area_offset = kPollRecordHeadSize;
    for (int a = 0; a < 5; ++a) {
      rec.areas[a].offset = area_offset;
      rec.areas[a].size = sizes.size[a];
      area_offset += sizes.size[a];
    }
    rec.data_type = static_cast<std::uint16_t>(rs.data_type);
    rec.length = rs.length;
    rec.address_word = make_address_word(rs.type, rs.start);
    rec.extension = rs.type == RegisterType::EX ? rs.ex_number : 0;
    w.keep_in_segment(kPollRecordHeadSize + sizes.total());
    PollControlEntry entry{};
    entry.record_offset = w.image_offset();
    entry.access_countdown = rs.access_time;
    entry.polled = rec.polled;
    entry.lock = entry.unused17 = kUnlocked;
    w.put_at(control_at + sizeof(PollControlEntry) * k, entry);
    w.put(rec);
    w.zeros(sizes.total());
  }

  header.channel_count = static_cast<std::uint8_t>(channel_count);
  header.device_count = static_cast<std::uint8_t>(devices.size());
  header.poll_record_count = static_cast<std::uint16_t>(records.size());
  w.put_at(header_at, header);
  std::uint32_t length = static_cast<std::uint32_t>(w.pos());
  w.put_at(0, length);
  w.put_at(4, length);
  return w.take();
}

ConfigSpec words_and_bits_configuration(unsigned port, const char* device) {
  ConfigSpec plan;
  plan.channels[0].ip_port = port;
  plan.channels[0].devices[0].name = device;
  RecordSpec words;
  words.type = image::RegisterType::D;
  words.start = 100;
  words.length = 10;
  words.data_type = image::DataType::Unsigned;
  words.poll_time = 10;
  RecordSpec bits = words;
  bits.type = image::RegisterType::M;
  bits.start = 0;
  bits.length = 16;
  bits.data_type = image::DataType::Digital;
  plan.channels[0].devices[0].records = {words, bits};
  return plan;
}

ConfigSpec large_configuration(int records) {
  ConfigSpec plan;
  plan.channels[0].devices.clear();
  int remaining = records;
  int index = 0;
  while (remaining > 0) {
    DeviceSpec d;
    d.name = "DEV" + std::to_string(index++);
    d.records.clear();
    int n = std::min(remaining, 255);
    for (int k = 0; k < n; ++k) {
      RecordSpec r;
      r.start = static_cast<std::uint32_t>(k * 10);
      r.length = 10;
      r.exception = ExceptionType::Analog;
      d.records.push_back(r);
    }
    plan.channels[0].devices.push_back(d);
    remaining -= n;
  }
  return plan;
}

}  // namespace hbt::testsupport
