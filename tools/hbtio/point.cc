#include "tools/hbtio/point.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "com/bstr.h"
#include "com/safearray.h"
#include "tools/hbtio/command.h"
#include "tools/hbtio/json.h"

namespace hbt::hbtio {

namespace {

bool parse_float(const std::string& text, float* out) {
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, *out);
  return ec == std::errc() && p == end;
}

bool parse_int(const std::string& text, long long low, long long high, long long* out) {
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, *out);
  return ec == std::errc() && p == end && *out >= low && *out <= high;
}

}  // namespace

bool take_point_options(std::vector<std::string>& args, PointOptions* o, std::string* error) {
  std::string value;
  bool missing = false;
  if (take_option(args, "--kind", &value, &missing)) {
    if (value == "analog") o->kind = 1;
    else if (value == "digital") o->kind = 2;
    else if (value == "text") o->kind = 3;
    else if (value == "auto") o->kind = 5;
    else return *error = "--kind takes analog, digital, text or auto", false;
  }
  if (take_option(args, "--sig", &value, &missing)) o->sig = value;
  if (take_option(args, "--options", &value, &missing)) o->hardware_options = value;
  if (take_option(args, "--egu", &value, &missing)) {
    std::size_t comma = value.find(',');
    float low, high;
    if (comma == std::string::npos || !parse_float(value.substr(0, comma), &low) ||
        !parse_float(value.substr(comma + 1), &high) || !(high > low))
      return *error = "--egu takes LOW,HIGH with LOW below HIGH", false;
    o->egu_low = low;
    o->egu_span = high - low;
  }
  long long n = 0;
  if (take_option(args, "--decimals", &value, &missing)) {
    if (!parse_int(value, 0, 9, &n)) return *error = "--decimals takes 0 to 9", false;
    o->decimals = static_cast<std::int8_t>(n);
  }
  if (take_option(args, "--count", &value, &missing)) {
    if (!parse_int(value, 1, 65536, &n)) return *error = "--count takes 1 to 65536", false;
    o->count = static_cast<std::int32_t>(n);
  }
  if (missing) return *error = "an option is missing its value", false;
  return true;
}

std::unique_ptr<HostPoint> make_point(HostApi& api, const std::string& address, const PointOptions& o,
                                      std::string* error) {
  auto p = std::make_unique<HostPoint>();
  p->text = address;
  p->format.kind = o.kind;
  p->format.egu_low = o.egu_low;
  p->format.egu_span = o.egu_span;
  p->format.decimals = o.decimals;
  NioStatus status = 0;
  api.paddr(&status, &p->block, &p->format, address.c_str());
  if (status != 0) {
    *error = address + ": address not accepted (" + status_text(status) + ")";
    return nullptr;
  }
  if (!o.sig.empty()) {
    api.psig(&status, &p->block, &p->format, o.sig.c_str());
    if (status != 0) {
      *error = address + ": signal conditioning '" + o.sig + "' refused";
      return nullptr;
    }
  }
  if (!o.hardware_options.empty()) {
    api.popt(&status, &p->block, &p->format, o.hardware_options.c_str());
    if (status != 0) {
      *error = address + ": hardware options '" + o.hardware_options + "' refused";
      return nullptr;
    }
  }
  return p;
}

Reading read_point(HostApi& api, HostPoint& point, std::int32_t count) {
  Reading r;
  com::VARIANT value;
  com::VariantInit(&value);
  const std::int32_t asked = point.format.kind == 3 && count == 0 ? 128 : count;
  api.readEx(&r.status, &point.block, &point.format, &r.timestamp, &r.quality, asked, &value);
  switch (value.vt) {
    case com::VT_R4: r.numbers.push_back(value.fltVal); break;
    case com::VT_BOOL: r.numbers.push_back(value.boolVal ? 1 : 0); break;
    case com::VT_BSTR:
      r.is_text = true;
      r.text = com::utf8_from_utf16(com::bstr_view(value.bstrVal));
      break;
    case com::VT_ARRAY | com::VT_R4:
    case com::VT_ARRAY | com::VT_BOOL: {
      com::LONG upper = -1;
      com::SafeArrayGetUBound(value.parray, 1, &upper);
      for (com::LONG i = 0; i <= upper; ++i) {
        if (value.vt == (com::VT_ARRAY | com::VT_R4)) {
          float f = 0;
          com::SafeArrayGetElement(value.parray, &i, &f);
          r.numbers.push_back(f);
        } else {
          com::VARIANT_BOOL b = 0;
          com::SafeArrayGetElement(value.parray, &i, &b);
          r.numbers.push_back(b ? 1 : 0);
        }
      }
      break;
    }
    default: break;
  }
  com::VariantClear(&value);
  return r;
}

std::string quality_text(std::uint16_t quality) {
  switch (quality & 0xC0) {
    case 0xC0: return "good";
    case 0x40: return "uncertain";
    default: break;
  }
  switch (quality & 0xFC) {
    case 0x18: return "bad: comm failure";
    case 0x1C: return "bad: out of service";
    default: return "bad";
  }
}

void print_reading(const HostPoint& point, const Reading& r, bool json) {
  const std::string when = com::iso8601_utc(r.timestamp);
  auto print_one = [&](std::size_t element, bool has_number, double number) {
    if (json) {
      JsonLine line;
      line.field("address", point.text);
      if (r.numbers.size() > 1) line.field("element", static_cast<std::int64_t>(element));
      if (r.is_text)
        line.field("value", r.text);
      else if (!has_number)
        line.raw("value", "null");
      else if (point.format.kind == 2)
        line.field("value", static_cast<std::int64_t>(number != 0));
      else
        line.field("value", number);
      line.field("status", std::int64_t{r.status})
          .field("quality", std::int64_t{r.quality})
          .field("timestamp", when)
          .print();
      return;
    }
    std::string shown;
    if (r.is_text) {
      shown = "\"" + r.text + "\"";
    } else if (has_number) {
      char text[48];
      std::snprintf(text, sizeof text, "%.9g", number);
      shown = text;
    }
    std::string name = point.text;
    if (r.numbers.size() > 1) name += "[" + std::to_string(element) + "]";
    std::printf("%s = %s  quality 0x%02X (%s)  status %d  %s\n", name.c_str(), shown.c_str(), r.quality,
                quality_text(r.quality).c_str(), r.status, when.c_str());
  };
  if (r.is_text || r.numbers.empty())
    print_one(0, !r.numbers.empty(), r.numbers.empty() ? 0 : r.numbers[0]);
  else
    for (std::size_t i = 0; i < r.numbers.size(); ++i) print_one(i, true, r.numbers[i]);
  std::fflush(stdout);
}

}  // namespace hbt::hbtio
