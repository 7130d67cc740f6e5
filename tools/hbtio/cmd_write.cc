// hbtio write: a value (or N values, comma-separated) queued for the poller through the host
// library, converted the way an OPC client's VARIANT is.
#include <cstdio>
#include <cstdlib>

#include "com/bstr.h"
#include "com/safearray.h"
#include "tools/hbtio/command.h"
#include "tools/hbtio/json.h"
#include "tools/hbtio/point.h"

namespace hbt::hbtio {
namespace {

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> out;
  std::size_t from = 0;
  for (;;) {
    std::size_t at = text.find(separator, from);
    out.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) return out;
    from = at + 1;
  }
}

// The values of an array write as VT_ARRAY of the point's canonical type.
bool make_array(const std::vector<std::string>& items, bool analog, com::VARIANT* out, std::string* error) {
  const com::VARTYPE element = analog ? com::VT_R4 : com::VT_BOOL;
  com::SAFEARRAY* array = com::SafeArrayCreateVector(element, 0, static_cast<com::ULONG>(items.size()));
  if (array == nullptr) return *error = "out of memory", false;
  for (std::size_t i = 0; i < items.size(); ++i) {
    com::VARIANT text, value;
    com::VariantInit(&text);
    com::VariantInit(&value);
    text.vt = com::VT_BSTR;
    text.bstrVal = com::bstr_from_utf8(items[i]);
    const com::HRESULT hr = com::VariantChangeType(&value, &text, 0, element);
    com::VariantClear(&text);
    if (com::FAILED(hr)) {
      com::SafeArrayDestroy(array);
      return *error = "'" + items[i] + "' is not " + (analog ? "a number" : "a boolean"), false;
    }
    com::LONG index = static_cast<com::LONG>(i);
    if (analog)
      com::SafeArrayPutElement(array, &index, &value.fltVal);
    else
      com::SafeArrayPutElement(array, &index, &value.boolVal);
  }
  com::VariantInit(out);
  out->vt = com::VT_ARRAY | element;
  out->parray = array;
  return true;
}

int run_write(Invocation& inv) {
  PointOptions options;
  std::string error;
  if (!take_point_options(inv.args, &options, &error)) return usage_error(error);
  if (inv.args.size() != 2) return usage_error("write takes ADDRESS VALUE");
  const std::string& value_text = inv.args[1];

  HostApi api;
  if (!api.ok()) {
    std::fprintf(stderr, "hbtio: %s\n", api.error().c_str());
    return kExitFailed;
  }
  auto point = make_point(api, inv.args[0], options, &error);
  if (!point) {
    api.report_messages(true);
    std::fprintf(stderr, "hbtio: %s\n", error.c_str());
    return kExitFailed;
  }
  const std::uint8_t kind = point->format.kind;
  com::VARIANT value;
  com::VariantInit(&value);
  std::int32_t count = 1;
  if (kind != 3 && options.count > 1) {
    std::vector<std::string> items = split(value_text, ',');
    if (static_cast<std::int32_t>(items.size()) != options.count)
      return usage_error("--count " + std::to_string(options.count) + " needs as many comma-separated values");
    if (!make_array(items, kind == 1, &value, &error)) return usage_error(error);
    count = options.count;
  } else {
    value.vt = com::VT_BSTR;
    value.bstrVal = com::bstr_from_utf8(value_text);
    if (kind == 3) count = options.count ? options.count : static_cast<std::int32_t>(com::SysStringLen(value.bstrVal));
  }
  NioStatus status = -1;
  api.sendEx(&status, &point->block, &point->format, nullptr, count, &value);
  com::VariantClear(&value);

  if (inv.json) {
    JsonLine line;
    line.field("address", point->text);
    char* end = nullptr;
    const double number = std::strtod(value_text.c_str(), &end);
    if (kind == 3 || count > 1 || value_text.empty() || *end != '\0')
      line.field("value", value_text);
    else if (kind == 2)
      line.field("value", static_cast<std::int64_t>(number != 0));
    else
      line.field("value", number);
    line.field("status", std::int64_t{status}).field("queued", status == 0).print();
  } else if (status == 0) {
    std::printf("%s <- %s  queued\n", point->text.c_str(), value_text.c_str());
  }
  api.report_messages(status != 0);
  if (status != 0) {
    std::fprintf(stderr, "hbtio: %s: %s\n", point->text.c_str(), status_text(status).c_str());
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

HBTIO_COMMAND(write, "write", "write ADDRESS VALUE [POINT OPTIONS]",
              "queue a write through the host library (with --count N: N values, comma-separated)", run_write)

}  // namespace hbt::hbtio
