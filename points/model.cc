#include "points/model.h"

#include <cstring>

#include "hostlib/address_text.h"
#include "hostlib/item_id.h"
#include "hostlib/signal_conditioning.h"

namespace hbt::points {

using namespace hbt::image;
using hostlib::NioAddress;
using hostlib::NioStatus;

namespace {

constexpr char kDefaultLowEgu[] = "0.0";
constexpr char kDefaultHighEgu[] = "65535.0";

// A host enumeration: `count` texts of 128 bytes, copied and handed back with nio_Free at once,
// because the host frees only the buffer it handed out last.
bool enumerate(const HostExports& host, const char* device, std::vector<std::string>* out) {
  NioStatus status = -1;
  std::int32_t count = 0;
  char* buffer = nullptr;
  if (device == nullptr)
    host.Enum_Devices(&status, &count, &buffer);
  else
    host.Enum_PollRecs(&status, device, &count, &buffer);
  const bool ok = status == 0 && count >= 0 && (count == 0 || buffer != nullptr);
  out->clear();
  if (ok) {
    for (std::int32_t i = 0; i < count; ++i) out->emplace_back(buffer + 128 * i, strnlen(buffer + 128 * i, 128));
  }
  if (buffer) host.Free(buffer);
  return ok;
}

std::string_view fixed_text(const char* p, std::size_t n) { return std::string_view(p, strnlen(p, n)); }

std::string_view description_of(const DeviceRecord* d, std::uint32_t version) {
  const auto* bytes = reinterpret_cast<const char*>(d);
  const std::size_t at = version == kOlderFormatVersion ? kOlderDescriptionOffset : offsetof(DeviceRecord, description);
  return fixed_text(bytes + at, std::min<std::size_t>(35, kDeviceRecordSize - at));
}

// The text after the first address separator: "D:100" of "QPLC1:D:100".
const char* name_part(const char* item_id) {
  for (const char* p = item_id; *p; ++p)
    if (hostlib::is_separator(*p)) return p + 1;
  return item_id;
}

std::uint32_t words_in(std::uint32_t bytes) { return (bytes + 1) / 2; }

struct Builder {
  const hostlib::ImageView& view;
  const HostExports& host;
  Model& m;
  std::string* error;

  bool devices_and_records();
  void record_points(std::uint32_t record_id, std::string_view device);
  void bind_tag(const TagLine& tag);
  void group_tags();

  std::uint32_t add_point(hbt_point_info info, std::string_view item_id) {
    const auto id = static_cast<std::uint32_t>(m.points.size());
    info.id = id;
    info.item_id = m.strings.add(item_id);
    info.name = name_part(info.item_id);
    if (info.eu_units == nullptr) info.eu_units = "";
    m.points.push_back(info);
    if (!m.index.insert(id)) {
      m.points.pop_back();
      return kNoPoint;
    }
    return id;
  }
};

bool Builder::devices_and_records() {
  std::vector<std::string> devices, ranges;
  if (!enumerate(host, nullptr, &devices) || devices.size() != static_cast<std::size_t>(view.devices)) {
    *error = "the host library and the image disagree on the devices";
    return false;
  }
  std::vector<int> channel_of(static_cast<std::size_t>(view.devices), -1);
  for (int c = 0; c < view.channels; ++c) {
    const ChannelRecord* ch = view.channel(c);
    if (ch == nullptr) continue;
    for (int j = ch->first_device; j < ch->first_device + ch->device_count && j < view.devices; ++j) channel_of[j] = c;
  }
  m.plan_of_image_record.assign(static_cast<std::size_t>(view.records), -1);
  // The lists' sizes, known from the records, spare the index and the lists their growing.
  std::size_t expected = 0;
  for (int k = 0; k < view.records; ++k) {
    if (const PollRecordHead* head = view.record(k)) {
      const RecordShape shape{address_register_type(head->address_word), address_start(head->address_word),
                              head->length, head->data_type, 0};
      expected += layout_of(shape).point_count;
    }
  }
  m.points.reserve(expected);
  m.index.reserve(expected);
  m.records.reserve(static_cast<std::size_t>(view.records));
  m.plans.reserve(static_cast<std::size_t>(view.records));
  for (int j = 0; j < view.devices; ++j) {
    const DeviceRecord* d = view.device(j);
    if (d == nullptr) {
      *error = "a device record lies outside the image";
      return false;
    }
    const std::string_view name = hostlib::device_name(d);
    if (devices[static_cast<std::size_t>(j)] != name) {
      *error = "the host library and the image disagree on the devices";
      return false;
    }
    hbt_device_info info{};
    info.id = static_cast<std::uint32_t>(m.devices.size());
    info.channel = channel_of[j] < 0 ? 0 : static_cast<std::uint32_t>(channel_of[j] + 1);
    info.name = m.strings.add(name);
    std::string_view description = description_of(d, view.header->version);
    info.description = description.empty() ? info.name : m.strings.add(description);
    info.first_record = static_cast<std::uint32_t>(m.records.size());
    hostlib::NioDriverArea area{};
    std::memcpy(area.device, name.data(), std::min(name.size(), sizeof area.device - 1));
    m.device_areas.push_back(area);

    const std::string device_text(name);
    if (!enumerate(host, device_text.c_str(), &ranges) || ranges.size() != d->poll_record_count) {
      *error = "the host library and the image disagree on the poll records of " + device_text;
      return false;
    }
    for (int i = 0; i < d->poll_record_count; ++i) {
      const int k = d->first_poll_record + i;
      const PollRecordHead* head = view.record(k);
      if (head == nullptr || k >= view.records) {
        *error = "a poll record lies outside the image";
        return false;
      }
      RecordPlan plan;
      plan.image_record = k;
      plan.channel = channel_of[j];
      plan.shape.type = address_register_type(head->address_word);
      plan.shape.start = address_start(head->address_word);
      plan.shape.length = head->length;
      plan.shape.data_type = head->data_type;
      plan.shape.ex_number = static_cast<std::uint8_t>(head->extension & 0xFF);
      plan.layout = layout_of(plan.shape);
      plan.poll_time = head->poll_time;
      plan.access_time = head->access_time;
      plan.exception_type = head->exception_type;
      plan.area_bytes = view.area(const_cast<PollRecordHead*>(head), kAreaCurrent).size;
      m.plan_of_image_record[static_cast<std::size_t>(k)] = static_cast<int>(m.plans.size());

      hbt_record_info r{};
      r.id = static_cast<std::uint32_t>(m.records.size());
      r.device = info.id;
      r.range = m.strings.add(ranges[static_cast<std::size_t>(i)]);
      r.data_type = head->data_type;
      r.length = head->length;
      r.poll_time_cs = head->poll_time;
      m.records.push_back(r);
      m.plans.push_back(std::move(plan));
      record_points(r.id, name);
    }
    info.record_count = static_cast<std::uint32_t>(m.records.size()) - info.first_record;
    m.devices.push_back(info);
  }
  return true;
}

void Builder::record_points(std::uint32_t record_id, std::string_view device) {
  RecordPlan& plan = m.plans[record_id];
  hbt_record_info& r = m.records[record_id];
  r.first_point = static_cast<std::uint32_t>(m.points.size());
  if (plan.layout.point_count == 0) return;

  // One parse through the host per record proves the addresses resolve; the other points of
  // the record differ only in the register word.
  const PointPlace first = place_of(plan.shape, plan.layout, 0);
  const std::string first_id = item_id_of(device, plan.shape, first);
  const std::string address = first_id.substr(0, first_id.find('$'));
  hostlib::NioAddress a{};
  hostlib::NioDriverArea area{};
  hostlib::NioBlock block{nullptr, &a, &area};
  hostlib::NioFormat format{};
  format.kind = first.kind;
  NioStatus status = -1;
  host.paddr(&status, &block, &format, address.c_str());
  if (status != 0) {
    m.notes.push_back("poll record " + std::string(r.range) + " of " + std::string(device) +
                      ": the host library does not resolve " + address + "; its values are left out");
    return;
  }
  plan.base = a;
  plan.base.handle = (a.handle & ~hostlib::kHandleRecordMask) | static_cast<std::uint32_t>(plan.image_record);
  plan.bound = true;

  float deadband = 0;
  if (plan.exception_type == static_cast<std::uint16_t>(ExceptionType::Analog) &&
      plan.layout.point_type != HBT_POINT_BOOL && plan.layout.point_type != HBT_POINT_STRING) {
    const PollRecordHead* head = view.record(plan.image_record);
    deadband = plan.layout.layout == Layout::kWords32 ? head->dead_band : static_cast<float>(head->dead_band_int);
    if (!(deadband >= 0)) deadband = 0;
  }
  bool gaps = false;
  std::vector<std::uint32_t> local_to_point;
  local_to_point.reserve(plan.layout.point_count);
  for (std::uint32_t local = 0; local < plan.layout.point_count; ++local) {
    const PointPlace place = place_of(plan.shape, plan.layout, local);
    hbt_point_info info{};
    info.device = r.device;
    info.record = record_id;
    info.type = plan.layout.point_type;
    info.writable = 1;
    info.deadband = deadband;
    info.text_length = place.text_length;
    const std::uint32_t id = add_point(info, item_id_of(device, plan.shape, place));
    gaps |= id == kNoPoint;
    local_to_point.push_back(id);
  }
  if (gaps) plan.local_to_point = std::move(local_to_point);
  r.point_count = static_cast<std::uint32_t>(m.points.size()) - r.first_point;
}

// The point type a tag gets without conditioning: that of the record's values.
std::uint8_t plain_type(const RecordPlan& plan, std::uint8_t kind) {
  if (kind == 2) return HBT_POINT_BOOL;
  if (kind == 3) return HBT_POINT_STRING;
  switch (static_cast<DataType>(plan.shape.data_type)) {
    case DataType::Signed: return HBT_POINT_INT16;
    case DataType::Unsigned:
    case DataType::Digital: return HBT_POINT_UINT16;
    case DataType::Float: return HBT_POINT_FLOAT;
    case DataType::LongUnsigned: return HBT_POINT_UINT32;
    case DataType::LongSigned: return HBT_POINT_INT32;
    default: return 0;
  }
}

void Builder::bind_tag(const TagLine& tag) {
  auto note = [&](const std::string& why) {
    m.notes.push_back("tag line " + std::to_string(tag.line) + ": " + tag.item_id + " " + why);
  };
  const hostlib::ItemId id = hostlib::parse_item_id(tag.item_id);
  const std::string address = hostlib::upper(id.address);
  std::string device = address;
  for (std::size_t i = 0; i < address.size(); ++i) {
    if (hostlib::is_separator(address[i])) {
      device = address.substr(0, i);
      break;
    }
  }
  if (host.find_dev(device.c_str()) == 0) return note("names the device " + device + ", which is not configured");

  TagPlan t;
  t.format.kind = id.text_item ? hostlib::kKindText : hostlib::kKindAutomatic;
  hostlib::NioBlock block{nullptr, &t.address, &t.area};
  NioStatus status = -1;
  host.paddr(&status, &block, &t.format, address.c_str());
  if (status != 0) return note("names no configured value");
  const int k = static_cast<int>(t.address.handle & hostlib::kHandleRecordMask);
  if (k < 0 || static_cast<std::size_t>(k) >= m.plan_of_image_record.size() || m.plan_of_image_record[k] < 0)
    return note("names no configured value");
  t.record = static_cast<std::uint32_t>(m.plan_of_image_record[k]);
  const RecordPlan& plan = m.plans[t.record];
  const std::uint8_t kind = t.format.kind;
  const bool word = is_word_device(plan.shape.type);
  const std::uint32_t offset = t.address.reg & 0xFFFFFF;
  const std::uint32_t index = offset - plan.shape.start;

  // Without options the item may be one of the record's own points: the tag then only sets
  // its dead band, units or access.
  if (!id.has_options) {
    const std::string canonical = hostlib::display_address(m.devices[m.records[t.record].device].name,
                                                           t.address.reg, t.address.ex_number, kind);
    const std::uint32_t p = m.index.find(canonical);
    if (p != kNoPoint && !m.is_tag(p) && m.points[p].record == t.record) {
      hbt_point_info& info = m.points[p];
      if (tag.has_deadband) info.deadband = tag.deadband;
      if (tag.has_units) info.eu_units = m.strings.add(tag.units);
      if (tag.readonly) info.writable = 0;
      return;
    }
  }

  hbt_point_info info{};
  info.device = m.records[t.record].device;
  info.record = UINT32_MAX;
  info.writable = tag.readonly ? 0 : 1;
  info.deadband = tag.has_deadband ? tag.deadband : 0;
  if (tag.has_units) info.eu_units = m.strings.add(tag.units);

  if (kind == hostlib::kKindText) {
    long length = id.options.empty() ? 0 : hostlib::leading_integer(id.options);
    if (length == 0) length = kDefaultTextLength;
    if (plan.shape.data_type != static_cast<std::uint16_t>(DataType::Ascii) &&
        plan.shape.data_type != static_cast<std::uint16_t>(DataType::Signed) &&
        plan.shape.data_type != static_cast<std::uint16_t>(DataType::Unsigned))
      return note("is text on a poll record that holds no text");
    info.type = HBT_POINT_STRING;
    info.text_length = static_cast<std::uint32_t>(length);
    t.place.first_word = index;
    const std::uint32_t words = words_in(plan.area_bytes);
    t.place.word_count = std::min<std::uint32_t>((static_cast<std::uint32_t>(length) + 1) / 2,
                                                 index < words ? words - index : 0);
    t.place.text_length = static_cast<std::uint32_t>(length);
  } else {
    hostlib::OptionFields f;
    if (id.has_options) f = hostlib::split_option_fields(id.options);
    const bool conditioned = id.has_options && kind == hostlib::kKindAnalog;
    if (kind == hostlib::kKindAnalog && !word) return note("is not a value");
    if (conditioned) {
      const std::string low = f.low.empty() ? kDefaultLowEgu : f.low;
      const std::string high = f.high.empty() ? kDefaultHighEgu : f.high;
      t.format.egu_low = static_cast<float>(hostlib::leading_number(low));
      t.format.egu_span = static_cast<float>(hostlib::leading_number(high)) - t.format.egu_low;
      const std::size_t dot = low.find('.');
      t.format.decimals =
          dot == std::string::npos ? 0 : static_cast<std::int8_t>(std::min<std::size_t>(low.size() - dot - 1, 127));
      const std::string sig = f.signal_conditioning.empty() ? "NONE" : hostlib::upper(f.signal_conditioning);
      status = -1;
      host.psig(&status, &block, &t.format, sig.c_str());
      if (status != 0) return note("has a signal conditioning the host refuses");
      if (!f.hardware_options.empty()) {
        status = -1;
        host.popt(&status, &block, &t.format, f.hardware_options.c_str());
        if (status != 0) return note("has hardware options the host refuses");
      }
      info.type = HBT_POINT_DOUBLE;
      info.analog = 1;
      info.eu_low = t.format.egu_low;
      info.eu_high = static_cast<double>(t.format.egu_low) + t.format.egu_span;
      const std::string units = hostlib::trim(f.units);
      if (!units.empty()) info.eu_units = m.strings.add(units.substr(0, kTagUnitsMax));
      if (plain_type(plan, kind) == 0) return note("is a number on a poll record that holds text");
    } else {
      info.type = plain_type(plan, kind);
      if (info.type == 0) return note("is a number on a poll record that holds text");
    }
    if (!word) {
      t.place.first_word = index / 16;
      t.place.word_count = 1;
      t.place.bit_mask = static_cast<std::uint16_t>(1u << (index % 16));
    } else if (kind == hostlib::kKindDigital) {
      t.place.first_word = index;
      t.place.word_count = 1;
      t.place.bit_mask = static_cast<std::uint16_t>(1u << ((t.address.reg >> 24) & 0xF));
    } else if (plan.layout.layout == Layout::kWords32) {
      t.place.first_word = index / 2 * 2;
      t.place.word_count = 2;
    } else {
      t.place.first_word = index;
      t.place.word_count = conditioned && hostlib::two_registers(t.address.sigcond) ? 2 : 1;
    }
  }
  t.place.kind = kind;
  const std::uint32_t p = add_point(info, hostlib::trim(tag.item_id));
  if (p == kNoPoint) return note("is the same point as an earlier line");
  t.point = p;
  m.tags.push_back(t);
}

void Builder::group_tags() {
  std::vector<std::uint32_t> count(m.plans.size(), 0);
  for (const TagPlan& t : m.tags) ++count[t.record];
  std::uint32_t at = 0;
  for (std::size_t r = 0; r < m.plans.size(); ++r) {
    m.plans[r].first_tag = at;
    m.plans[r].tag_count = 0;
    at += count[r];
  }
  m.record_tags.assign(m.tags.size(), 0);
  for (std::uint32_t i = 0; i < m.tags.size(); ++i) {
    RecordPlan& plan = m.plans[m.tags[i].record];
    m.record_tags[plan.first_tag + plan.tag_count++] = i;
  }
}

}  // namespace

PointPlace Model::place_of_point(std::uint32_t p) const {
  if (is_tag(p)) return tag_of(p).place;
  const hbt_point_info& info = points[p];
  const RecordPlan& plan = plans[info.record];
  std::uint32_t local = p - records[info.record].first_point;
  if (!plan.local_to_point.empty()) {
    for (std::uint32_t l = 0; l < plan.local_to_point.size(); ++l)
      if (plan.local_to_point[l] == p) local = l;
  }
  return place_of(plan.shape, plan.layout, local);
}

HostPoint Model::host_point(std::uint32_t p) const {
  HostPoint h;
  if (is_tag(p)) {
    const TagPlan& t = tag_of(p);
    h.address = t.address;
    h.format = t.format;
    h.area = t.area;
    return h;
  }
  const hbt_point_info& info = points[p];
  const RecordPlan& plan = plans[info.record];
  const PointPlace place = place_of_point(p);
  h.address = plan.base;
  h.address.reg = register_word_of(plan.shape, place);
  h.address.element = 0;
  h.address.sigcond = hostlib::kSigNone;
  h.format.kind = place.kind;
  h.area = device_areas[info.device];
  return h;
}

std::size_t Model::bytes() const {
  std::size_t n = sizeof(Model);
  n += devices.capacity() * sizeof(hbt_device_info) + records.capacity() * sizeof(hbt_record_info);
  n += points.capacity() * sizeof(hbt_point_info) + plans.capacity() * sizeof(RecordPlan);
  n += device_areas.capacity() * sizeof(hostlib::NioDriverArea) + tags.capacity() * sizeof(TagPlan);
  n += record_tags.capacity() * 4 + text_slot.capacity() * 4 + plan_of_image_record.capacity() * sizeof(int);
  for (const RecordPlan& p : plans) n += p.local_to_point.capacity() * 4;
  n += strings.reserved() + index.bytes();
  return n;
}

std::unique_ptr<Model> build_model(const hostlib::ImageView& view, const HostExports& host, const TagFile& tags,
                                   std::string* error) {
  if (!view.valid()) {
    *error = "the image is not mapped";
    return nullptr;
  }
  auto m = std::make_unique<Model>();
  m->image_generation = view.generation;
  Builder b{view, host, *m, error};
  if (!b.devices_and_records()) return nullptr;
  m->record_point_count = static_cast<std::uint32_t>(m->points.size());
  for (const TagLine& tag : tags.lines) b.bind_tag(tag);
  b.group_tags();
  m->text_slot.assign(m->points.size(), kNoPoint);
  for (std::uint32_t p = 0; p < m->points.size(); ++p)
    if (m->points[p].type == HBT_POINT_STRING) m->text_slot[p] = m->text_count++;
  return m;
}

}  // namespace hbt::points
