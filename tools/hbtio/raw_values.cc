#include "tools/hbtio/raw_values.h"

#include <cstdio>
#include <cstring>

namespace hbt::hbtio {

using namespace hbt::image;

const char* data_type_name(std::uint16_t data_type) {
  switch (static_cast<DataType>(data_type)) {
    case DataType::Ascii: return "ASCII";
    case DataType::Signed: return "Signed";
    case DataType::Unsigned: return "Unsigned";
    case DataType::Float: return "Float";
    case DataType::Digital: return "Digital";
    case DataType::LongUnsigned: return "Long Unsigned";
    case DataType::LongSigned: return "Long Signed";
  }
  return "?";
}

const char* status_name(std::uint16_t status) {
  switch (status) {
    case kStatusGood: return "good";
    case kStatusCommFailure: return "comm failure";
    case kStatusAccessExpired: return "access expired";
    case kStatusNotPolled: return "not polled";
  }
  return "?";
}

std::string format_values(const PollRecordHead& record, const std::vector<std::uint8_t>& area,
                          std::size_t max_values) {
  const RegisterType type = address_register_type(record.address_word);
  const auto data_type = static_cast<DataType>(record.data_type);
  std::string out;
  auto word = [&](std::size_t i) {
    std::uint16_t w = 0;
    if (2 * i + 2 <= area.size()) std::memcpy(&w, area.data() + 2 * i, 2);
    return w;
  };
  if (!is_word_device(type)) {
    const std::size_t points = std::min<std::size_t>(record.length, 8 * area.size());
    for (std::size_t p = 0; p < points && p < 32; ++p) out += (area[p / 8] >> (p % 8)) & 1 ? '1' : '0';
    if (points > 32) out += "...";
    return out;
  }
  if (data_type == DataType::Ascii) {
    out += '"';
    for (std::size_t i = 0; i < area.size() && i < 2 * max_values; ++i) {
      char c = static_cast<char>(area[i]);
      if (c == '\0') break;
      out += (c >= 32 && c < 127) ? c : '.';
    }
    out += '"';
    return out;
  }
  char text[32];
  std::size_t shown = 0;
  if (is_32_bit(data_type)) {
    for (std::size_t i = 0; 4 * i + 4 <= area.size() && shown < max_values; ++i, ++shown) {
      std::uint32_t v;
      std::memcpy(&v, area.data() + 4 * i, 4);
      if (data_type == DataType::Float) {
        float f;
        std::memcpy(&f, &v, 4);
        std::snprintf(text, sizeof text, "%g", static_cast<double>(f));
      } else if (data_type == DataType::LongSigned) {
        std::snprintf(text, sizeof text, "%d", static_cast<std::int32_t>(v));
      } else {
        std::snprintf(text, sizeof text, "%u", v);
      }
      out += (shown ? " " : "") + std::string(text);
    }
  } else {
    for (std::size_t i = 0; 2 * i + 2 <= area.size() && shown < max_values; ++i, ++shown) {
      std::uint16_t w = word(i);
      if (data_type == DataType::Signed)
        std::snprintf(text, sizeof text, "%d", static_cast<std::int16_t>(w));
      else if (data_type == DataType::Digital)
        std::snprintf(text, sizeof text, "%04x", w);
      else
        std::snprintf(text, sizeof text, "%u", w);
      out += (shown ? " " : "") + std::string(text);
    }
  }
  if (shown == max_values) out += " ...";
  return out;
}

}  // namespace hbt::hbtio
