#include "points/point_writer.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "hostlib/signal_conditioning.h"
#include "image/lock_byte.h"
#include "points/value_io.h"

namespace hbt::points {

using hostlib::NioBlock;
using hostlib::NioStatus;
using hostlib::NioValue;

namespace {

bool numeric_type(std::uint8_t t) { return t >= HBT_POINT_BOOL && t <= HBT_POINT_DOUBLE; }
bool integer_type(std::uint8_t t) { return t >= HBT_POINT_BOOL && t <= HBT_POINT_UINT32; }

// The number a value carries, as a double (integers beyond 2^53 lose nothing that matters
// here: they are out of every point's range).
double number_of(const hbt_point_value& v) {
  return integer_type(v.type) ? static_cast<double>(v.integer) : v.real;
}

bool square_root_law(std::int16_t code) {
  return code == hostlib::kSigSq12 || code == hostlib::kSigSq15 || code == hostlib::kSigRoot ||
         code == hostlib::kSigRhex;
}

std::string text_of(const hbt_point_value& v) {
  if (v.text == nullptr) return {};
  return std::string(v.text, v.text_length);
}

// What area 2 holds at the point's place after the write.
struct Stored {
  bool ok = false;
  std::uint16_t w0 = 0, w1 = 0;
};

Stored stored_words(const Model& m, const hostlib::ImageView& view, std::uint32_t p) {
  Stored s;
  const RecordPlan& plan = m.plan_of(p);
  image::PollRecordHead* head = view.record(plan.image_record);
  const hostlib::DataArea area = view.area(head, image::kAreaWriteValues);
  const PointPlace place = place_in_record(m, p);
  const std::size_t at = 2 * std::size_t{place.first_word};
  if (head == nullptr || area.data == nullptr || at + 2 > area.size) return s;
  image::ByteLock lock(&head->lock);
  std::memcpy(&s.w0, area.data + at, 2);
  if (at + 4 <= area.size) std::memcpy(&s.w1, area.data + at + 2, 2);
  s.ok = true;
  return s;
}

// The engineering value the stored raw registers stand for, by the tag's conditioning.
double value_of_raw(const Model& m, std::uint32_t p, const Stored& s, std::uint16_t w0, double* step) {
  const TagPlan& t = m.tag_of(p);
  const RecordPlan& plan = m.plans[t.record];
  const auto dt = static_cast<image::DataType>(plan.shape.data_type);
  if (image::is_32_bit(dt)) {
    const std::uint32_t raw = static_cast<std::uint32_t>(s.w0) | static_cast<std::uint32_t>(s.w1) << 16;
    if (dt == image::DataType::Float) {
      *step = 0;
      return std::bit_cast<float>(raw);
    }
    double v = dt == image::DataType::LongSigned ? static_cast<double>(static_cast<std::int32_t>(raw))
                                                 : static_cast<double>(raw);
    double scale = t.address.sigcond == hostlib::kSigD10 ? 10 : t.address.sigcond == hostlib::kSigD100 ? 100 : 1;
    *step = 1 / scale;
    return v / scale;
  }
  hostlib::Conditioning c{t.address.sigcond, plan.shape.data_type, t.format.egu_low, t.format.egu_span,
                          t.format.decimals, t.area.option_low, t.area.option_range};
  const double v = hostlib::condition_read(c, w0, s.w1).value;
  // The resolution of the raw value, before LIN rounds to its decimals.
  hostlib::Conditioning fine = c;
  fine.decimals = 7;
  const double at = hostlib::condition_read(fine, w0, s.w1).value;
  const double up = hostlib::condition_read(fine, static_cast<std::uint16_t>(w0 + 1), s.w1).value - at;
  const double down = at - hostlib::condition_read(fine, static_cast<std::uint16_t>(w0 - 1), s.w1).value;
  // One count either way; at the end of the raw range one neighbour wraps to the other end,
  // so the smaller step is the resolution.
  const double a = std::fabs(up), b = std::fabs(down);
  *step = a == 0 ? b : b == 0 ? a : std::min(a, b);
  return v;
}

}  // namespace

std::int32_t refuse_value(const hbt_point_info& info, const TagPlan* tag, const hbt_point_value& v) {
  if (!info.writable) return HBT_WRITE_NOT_WRITABLE;
  if (info.type == HBT_POINT_STRING) return v.type == HBT_POINT_STRING ? -1 : HBT_WRITE_TYPE_MISMATCH;
  if (!numeric_type(v.type)) return HBT_WRITE_TYPE_MISMATCH;
  const double x = number_of(v);
  if (!std::isfinite(x)) return HBT_WRITE_OUT_OF_RANGE;
  if (info.type == HBT_POINT_BOOL) return x == 0 || x == 1 ? -1 : HBT_WRITE_OUT_OF_RANGE;
  const bool raw_long = (info.type == HBT_POINT_INT32 || info.type == HBT_POINT_UINT32) && integer_type(v.type);
  if (!raw_long && std::fabs(x) > FLT_MAX) return HBT_WRITE_OUT_OF_RANGE;
  if (tag && info.analog && square_root_law(tag->address.sigcond) && x < info.eu_low) return HBT_WRITE_OUT_OF_RANGE;
  return -1;
}

std::int32_t write_value(const HostExports& host, const Model& m, const hostlib::ImageView& view, std::uint32_t p,
                         const hbt_point_value& v) {
  const hbt_point_info& info = m.points[p];
  HostPoint h = m.host_point(p);
  NioBlock block = h.block();
  std::uint8_t data[256] = {};
  NioValue value{0, 0, 0, data};
  const double x = number_of(v);
  bool cut_text = false;
  std::int64_t wanted_integer = 0;
  switch (info.type) {
    case HBT_POINT_BOOL:
      value.type = hostlib::kValueDigital;
      value.size = 1;
      data[0] = x != 0;
      break;
    case HBT_POINT_INT32:
    case HBT_POINT_UINT32: {
      const bool is_signed = info.type == HBT_POINT_INT32;
      const double low = is_signed ? -2147483648.0 : 0.0, high = is_signed ? 2147483647.0 : 4294967295.0;
      if (integer_type(v.type) && x >= low && x <= high) {
        // Raw 32 bits reach a 32-bit record exactly; a float would round above 2^24.
        value.type = hostlib::kValueRaw32;
        const auto bits = static_cast<std::uint32_t>(v.integer);
        std::memcpy(data, &bits, 4);
      } else {
        value.type = hostlib::kValueFloat;
        const float f = static_cast<float>(x);
        std::memcpy(data, &f, 4);
      }
      value.size = 4;
      wanted_integer = integer_type(v.type) ? v.integer : 0;
      break;
    }
    case HBT_POINT_STRING: {
      // The whole text field is written, NUL-padded: a shorter text leaves no tail of the
      // old one behind.
      const std::string text = text_of(v);
      const std::size_t room = std::min<std::size_t>(info.text_length, 255);
      const std::size_t nul = text.find('\0');
      const std::size_t n = std::min({text.size(), room, nul});
      cut_text = n < text.size();
      std::memcpy(data, text.data(), n);
      value.type = hostlib::kValueText;
      value.size = static_cast<std::uint8_t>(room);
      break;
    }
    default: {
      value.type = hostlib::kValueFloat;
      value.size = 4;
      const float f = static_cast<float>(x);
      std::memcpy(data, &f, 4);
      break;
    }
  }
  NioStatus status = -1;
  host.send(&status, &block, &h.format, &value);
  if (status == hostlib::kStatusBadAddress) return HBT_WRITE_UNKNOWN_POINT;
  if (status != 0) return HBT_WRITE_TYPE_MISMATCH;

  if (info.type == HBT_POINT_STRING) return cut_text ? HBT_WRITE_CLAMPED : HBT_WRITE_OK;
  if (info.type == HBT_POINT_BOOL) return HBT_WRITE_OK;
  const Stored s = stored_words(m, view, p);
  if (!s.ok) return HBT_WRITE_OK;
  switch (info.type) {
    case HBT_POINT_INT16:
      return static_cast<double>(static_cast<std::int16_t>(s.w0)) == x ? HBT_WRITE_OK : HBT_WRITE_CLAMPED;
    case HBT_POINT_UINT16:
      return static_cast<double>(s.w0) == x ? HBT_WRITE_OK : HBT_WRITE_CLAMPED;
    case HBT_POINT_INT32:
    case HBT_POINT_UINT32: {
      const std::uint32_t raw = static_cast<std::uint32_t>(s.w0) | static_cast<std::uint32_t>(s.w1) << 16;
      const std::int64_t got =
          info.type == HBT_POINT_INT32 ? std::int64_t{static_cast<std::int32_t>(raw)} : std::int64_t{raw};
      if (integer_type(v.type)) return got == wanted_integer ? HBT_WRITE_OK : HBT_WRITE_CLAMPED;
      return static_cast<double>(got) == x ? HBT_WRITE_OK : HBT_WRITE_CLAMPED;
    }
    case HBT_POINT_FLOAT: {
      const std::uint32_t raw = static_cast<std::uint32_t>(s.w0) | static_cast<std::uint32_t>(s.w1) << 16;
      return std::bit_cast<float>(raw) == static_cast<float>(x) ? HBT_WRITE_OK : HBT_WRITE_CLAMPED;
    }
    case HBT_POINT_DOUBLE: {
      const TagPlan& t = m.tag_of(p);
      if (square_root_law(t.address.sigcond))
        return x > info.eu_high ? HBT_WRITE_CLAMPED : HBT_WRITE_OK;
      double step = 0;
      const double back = value_of_raw(m, p, s, s.w0, &step);
      // Within half a raw count the value is what was asked, as near as the register holds it.
      double tolerance = step / 2 + 1e-6 * std::max(1.0, std::fabs(x));
      // LIN rounds what it reads to the decimals of its low limit.
      if (t.address.sigcond == hostlib::kSigLin) tolerance += 0.5 * std::pow(10.0, -t.format.decimals);
      return std::fabs(back - static_cast<double>(static_cast<float>(x))) <= tolerance ? HBT_WRITE_OK
                                                                                       : HBT_WRITE_CLAMPED;
    }
    default:
      return HBT_WRITE_OK;
  }
}

}  // namespace hbt::points
