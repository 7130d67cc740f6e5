#include "image/image_check.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "image/layout.h"
#include "image/message_sink.h"

namespace hbt::image {

namespace {

template <typename T>
T read_at(const std::uint8_t* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

// Whether [offset, offset + length) lies inside a body of `body` bytes, without overflow.
bool inside(std::uint64_t offset, std::uint64_t length, std::uint64_t body) {
  return offset <= body && length <= body - offset;
}

}  // namespace

const char* verdict_message(ImageVerdict verdict) {
  switch (verdict) {
    case ImageVerdict::kAccepted: return "";
    case ImageVerdict::kCorrupted: return "init_dit() Corrupted file";
    case ImageVerdict::kBadObjectCounts: return "init_dit() bad object counts";
    case ImageVerdict::kBadLock: return "init_dit() Bad Lock";
  }
  return "init_dit() Corrupted file";
}

ImageVerdict check_image(const std::uint8_t* base, std::size_t size, std::string* detail) {
  auto corrupted = [&](std::string why) {
    if (detail) *detail = std::move(why);
    return ImageVerdict::kCorrupted;
  };
  if (base == nullptr || size < kFilePrefixSize + sizeof(ImageHeader))
    return corrupted(format_message("init_dit() image of %zu bytes is too short", size));
  const std::uint8_t* body = base + kFilePrefixSize;
  const std::uint64_t body_size = size - kFilePrefixSize;
  const auto header = read_at<ImageHeader>(body);

  if (header.version != kFormatVersion && header.version != kOlderFormatVersion)
    return corrupted(format_message("init_dit() format version %u is not 278 or 279", header.version));
  const int channels = static_cast<std::int8_t>(header.channel_count);  // read as signed
  const int devices = header.device_count;
  const int records = header.poll_record_count;
  if (channels < 1 || channels > kMaxChannels || devices == 0 || records < 1 || records > kMaxPollRecords) {
    if (detail)
      *detail = format_message("init_dit() %d channels, %d devices, %d poll records", channels, devices, records);
    return ImageVerdict::kBadObjectCounts;
  }
  if (header.load_check != kLocked && header.load_check != kUnlocked) {
    if (detail) *detail = format_message("init_dit() load check byte is 0x%02x", header.load_check);
    return ImageVerdict::kBadLock;
  }

  if (!inside(header.channel_table_offset, 4ull * channels, body_size))
    return corrupted("init_dit() channel table lies outside the image");
  if (!inside(header.device_table_offset, 4ull * devices, body_size))
    return corrupted("init_dit() device table lies outside the image");
  if (!inside(header.poll_control_table_offset, sizeof(PollControlEntry) * std::uint64_t(records), body_size))
    return corrupted("init_dit() poll control table lies outside the image");

  // Every object's span, to make sure that no object overlaps another: the poller and the
  // clients write into records, and a write must never land in another record's offsets.
  struct Span {
    std::uint64_t begin, end;
  };
  std::vector<Span> spans;
  spans.reserve(static_cast<std::size_t>(channels + devices + records + 4));
  spans.push_back({0, sizeof(ImageHeader)});
  spans.push_back({header.channel_table_offset, header.channel_table_offset + 4ull * channels});
  spans.push_back({header.device_table_offset, header.device_table_offset + 4ull * devices});
  spans.push_back({header.poll_control_table_offset,
                   header.poll_control_table_offset + sizeof(PollControlEntry) * std::uint64_t(records)});

  for (int i = 0; i < channels; ++i) {
    auto offset = read_at<std::uint32_t>(body + header.channel_table_offset + 4 * i);
    if (!inside(offset, sizeof(ChannelRecord), body_size))
      return corrupted(format_message("init_dit() channel %d lies outside the image", i + 1));
    spans.push_back({offset, offset + sizeof(ChannelRecord)});
    const auto ch = read_at<ChannelRecord>(body + offset);
    if (ch.first_device + ch.device_count > devices ||
        (ch.poll_record_count != 0 && ch.first_poll_record + ch.poll_record_count > records))
      return corrupted(format_message("init_dit() channel %d refers to devices or poll records that do not exist", i + 1));
  }
  for (int j = 0; j < devices; ++j) {
    auto offset = read_at<std::uint32_t>(body + header.device_table_offset + 4 * j);
    if (!inside(offset, sizeof(DeviceRecord), body_size))
      return corrupted(format_message("init_dit() device %d lies outside the image", j + 1));
    spans.push_back({offset, offset + sizeof(DeviceRecord)});
    const auto dev = read_at<DeviceRecord>(body + offset);
    if (dev.first_poll_record + dev.poll_record_count > records)
      return corrupted(format_message("init_dit() device %d refers to poll records that do not exist", j + 1));
  }
  for (int k = 0; k < records; ++k) {
    const auto entry = read_at<PollControlEntry>(body + header.poll_control_table_offset + 32ull * k);
    if (!inside(entry.record_offset, sizeof(PollRecordHead), body_size))
      return corrupted(format_message("init_dit() poll record %d lies outside the image", k + 1));
    const auto rec = read_at<PollRecordHead>(body + entry.record_offset);
    if (rec.device_index >= devices)
      return corrupted(format_message("init_dit() poll record %d names device %u", k + 1, rec.device_index + 1u));
    if (rec.exception_type > 3)
      return corrupted(format_message("init_dit() poll record %d has exception type %u", k + 1, unsigned{rec.exception_type}));
    const AreaSizes expected = area_sizes(address_register_type(rec.address_word), rec.length,
                                          static_cast<ExceptionType>(rec.exception_type));
    // The areas follow the head and each other without gaps.
    std::uint64_t area_offset = sizeof(PollRecordHead);
    for (int a = 0; a < 5; ++a) {
      if (rec.areas[a].offset != area_offset || rec.areas[a].size != expected.size[a])
        return corrupted(format_message("init_dit() data area %d of poll record %d is misplaced or of the wrong size",
                                        a + 1, k + 1));
      area_offset += rec.areas[a].size;
    }
    if (!inside(entry.record_offset, area_offset, body_size))
      return corrupted(format_message("init_dit() data areas of poll record %d lie outside the image", k + 1));
    spans.push_back({entry.record_offset, entry.record_offset + area_offset});
  }
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
  for (std::size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].begin < spans[i - 1].end && spans[i].begin != spans[i].end)
      return corrupted(format_message("init_dit() records overlap at offset %llu",
                                      static_cast<unsigned long long>(spans[i].begin)));
  }
  return ImageVerdict::kAccepted;
}

}  // namespace hbt::image
