#include "tools/soak/opc_reports.h"

#include <algorithm>
#include <cmath>

#include "tools/hbtopc/json_lines.h"

namespace hbt::soak {

namespace {

const hbtopc::JsonValue& field(const hbtopc::JsonObject& o, const std::string& name) {
  static const hbtopc::JsonValue kNone;
  auto it = o.find(name);
  return it == o.end() ? kNone : it->second;
}

}  // namespace

void OpcReportReader::feed(const std::string& text, std::vector<OpcReport>* out) {
  partial_ += text;
  std::size_t begin = 0;
  for (std::size_t end; (end = partial_.find('\n', begin)) != std::string::npos; begin = end + 1)
    line(partial_.substr(begin, end - begin), out);
  partial_.erase(0, begin);
}

void OpcReportReader::problem(const std::string& text) {
  // Kept short: a client that prints the same complaint for hours must not fill the memory.
  if (problems_.size() < 20) problems_.push_back(text.substr(0, 300));
}

void OpcReportReader::line(const std::string& text, std::vector<OpcReport>* out) {
  if (text.empty()) return;
  const auto parsed = hbtopc::parse_json_line(text);
  if (!parsed) return problem("not a report: " + text);
  const hbtopc::JsonObject& o = *parsed;
  const std::string event = field(o, "event").text;
  if (event == "keepalive") return;
  if (event != "data") return problem(text);
  OpcReport r;
  const std::string item = field(o, "item").text;
  const auto at = std::find(items_.begin(), items_.end(), item);
  if (at == items_.end()) return problem("a report for an item not subscribed: " + text);
  r.item = static_cast<int>(at - items_.begin());
  r.received_ms = field(o, "received_ms").number();
  r.quality = static_cast<int>(field(o, "quality").number());
  if (field(o, "result").text != "0x00000000") return problem("a report with a failed result: " + text);
  const hbtopc::JsonValue& v = field(o, "value");
  r.value_text = v.kind == hbtopc::JsonValue::Kind::kNull ? "null" : v.text;
  if (v.kind == hbtopc::JsonValue::Kind::kNumber) {
    const double d = v.number();
    if (d >= 0 && d <= 65535 && d == std::floor(d)) {
      r.register_value = true;
      r.value = static_cast<std::uint16_t>(d);
    }
  }
  out->push_back(r);
}

}  // namespace hbt::soak
