#include "value_output.h"

#include <cstdio>
#include <ctime>
#include <mutex>

#include "quality.h"
#include "values.h"

namespace hbt::hbtopc {

namespace {

std::mutex output_mutex;

bool is_zero(const FILETIME& t) { return t.dwLowDateTime == 0 && t.dwHighDateTime == 0; }

}  // namespace

void print_value(const Options& options, Session& session, const ItemValue& v, hbtio::JsonLine head,
                 const std::string& human_prefix) {
  const std::string error = session.error_text(v.result);
  const std::string stamp = v.has_timestamp && !is_zero(v.timestamp) ? filetime_text(v.timestamp) : "";
  std::string line;
  if (options.json) {
    head.field("item", v.item);
    if (v.value != nullptr) {
      head.raw("value", variant_json(*v.value)).field("type", vartype_name(v.value->vt));
    } else {
      head.raw("value", "null");
    }
    head.field("quality", static_cast<std::int64_t>(v.quality)).field("quality_name", quality_name(v.quality));
    if (v.has_timestamp) {
      if (stamp.empty()) {
        head.raw("timestamp", "null");
      } else {
        head.field("timestamp", stamp);
      }
    }
    head.field("result", hresult_hex(v.result)).field("error", error);
    if (!v.note.empty()) head.field("note", v.note);
    line = head.str();
  } else {
    const std::string value = v.value != nullptr ? variant_text(*v.value) : "-";
    char quality[64];
    std::snprintf(quality, sizeof quality, "%s (0x%02X)", quality_name(v.quality).c_str(), v.quality);
    line = human_prefix + v.item + "  " + value + "  " + quality;
    if (!stamp.empty()) line += "  " + stamp;
    if (v.result != S_OK) line += "  [" + error + "]";
    if (!v.note.empty()) line += "  (" + v.note + ")";
  }
  std::lock_guard lock(output_mutex);
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void print_line(const Options& options, const hbtio::JsonLine& json, const std::string& text) {
  std::lock_guard lock(output_mutex);
  std::fputs(options.json ? json.str().c_str() : text.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

double monotonic_ms() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

}  // namespace hbt::hbtopc
