// hbtopc props ITEM [ID...]: the item's properties (IOPCItemProperties): the list the server
// offers, or the identifiers asked for, each with description, value and result.
#include <map>

#include "arguments.h"
#include "commands.h"
#include "session.h"
#include "tools/hbtio/json.h"
#include "value_output.h"
#include "values.h"

namespace hbt::hbtopc {

int cmd_props(const Options& options, const std::vector<std::string>& args) {
  CommandArguments a;
  std::string error;
  if (!parse_arguments(args, {}, {}, &a, &error)) return command_usage_error("props", error);
  if (a.positional.empty()) return command_usage_error("props", "props needs an item ID");
  std::vector<DWORD> wanted;
  for (std::size_t i = 1; i < a.positional.size(); ++i) {
    unsigned long id = 0;
    if (!parse_count(a.positional[i], 0, 0xFFFFFFFFul, &id))
      return command_usage_error("props", "'" + a.positional[i] + "' is no property identifier");
    wanted.push_back(static_cast<DWORD>(id));
  }

  Session session;
  if (!session.connect(options.server, &error)) return failure(error);
  session.wait_until_running(kRunningWaitMs);
  IOPCItemProperties* props = nullptr;
  if (FAILED(session.server()->QueryInterface(IID_IOPCItemProperties, reinterpret_cast<void**>(&props))) ||
      props == nullptr)
    return failure("the server does not offer IOPCItemProperties");
  std::u16string item = widen(a.positional[0]);
  LPWSTR item_id = const_cast<LPWSTR>(item.c_str());

  DWORD count = 0;
  DWORD* ids = nullptr;
  LPWSTR* descriptions = nullptr;
  VARTYPE* types = nullptr;
  HRESULT hr = props->QueryAvailableProperties(item_id, &count, &ids, &descriptions, &types);
  if (FAILED(hr)) {
    props->Release();
    return failure(a.positional[0] + ": " + session.error_text(hr) + " (" + hresult_hex(hr) + ")");
  }
  std::map<DWORD, std::string> described;
  for (DWORD i = 0; i < count; ++i) {
    described[ids[i]] = narrow(descriptions[i]);
    CoTaskMemFree(descriptions[i]);
  }
  if (wanted.empty()) wanted.assign(ids, ids + count);
  CoTaskMemFree(ids);
  CoTaskMemFree(descriptions);
  CoTaskMemFree(types);

  int exit_code = 0;
  if (!wanted.empty()) {
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    hr = props->GetItemProperties(item_id, static_cast<DWORD>(wanted.size()), wanted.data(), &values, &errors);
    if (FAILED(hr)) {
      props->Release();
      return failure("GetItemProperties failed: " + session.error_text(hr));
    }
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      const auto d = described.find(wanted[i]);
      const std::string description = d == described.end() ? "" : d->second;
      const HRESULT result = errors[i];
      if (FAILED(result)) exit_code = 1;
      hbtio::JsonLine line;
      line.field("item", a.positional[0]).field("id", static_cast<std::int64_t>(wanted[i]));
      line.field("description", description).raw("value", variant_json(values[i]));
      line.field("type", vartype_name(values[i].vt));
      line.field("result", hresult_hex(result)).field("error", session.error_text(result));
      char head[16];
      std::snprintf(head, sizeof head, "%5u  ", static_cast<unsigned>(wanted[i]));
      std::string text = head + description;
      text.resize(std::max<std::size_t>(text.size(), 34), ' ');
      text += "  " + (SUCCEEDED(result) ? variant_text(values[i]) : "[" + session.error_text(result) + "]");
      print_line(options, line, text);
      VariantClear(&values[i]);
    }
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
  }
  props->Release();
  return exit_code;
}

}  // namespace hbt::hbtopc
