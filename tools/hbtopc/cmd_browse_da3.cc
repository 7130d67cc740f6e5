// hbtopc browse --da3 [ITEM]: the address space through the DA 3.0 IOPCBrowse. One branch per
// run (the root, or the branch or item ITEM names), fetched --max elements per call by
// following the server's continuation points; each element with its item ID and flags, and
// with --props its properties.
#include <cstdio>

#include "arguments.h"
#include "commands.h"
#include "session.h"
#include "tools/hbtio/json.h"
#include "value_output.h"
#include "values.h"

namespace hbt::hbtopc {

namespace {

// A guard against a server whose continuation points never end.
constexpr int kMaxCalls = 100000;

void free_properties(OPCITEMPROPERTIES& p) {
  for (DWORD i = 0; p.pItemProperties != nullptr && i < p.dwNumProperties; ++i) {
    CoTaskMemFree(p.pItemProperties[i].szItemID);
    CoTaskMemFree(p.pItemProperties[i].szDescription);
    VariantClear(&p.pItemProperties[i].vValue);
  }
  CoTaskMemFree(p.pItemProperties);
}

void print_element(const Options& options, Session& session, const OPCBROWSEELEMENT& e, bool with_values) {
  const bool is_item = (e.dwFlagValue & OPC_BROWSE_ISITEM) != 0;
  const bool has_children = (e.dwFlagValue & OPC_BROWSE_HASCHILDREN) != 0;
  const std::string name = narrow(e.szName);
  const std::string item_id = narrow(e.szItemID);
  std::string text = std::string(is_item ? "item" : "branch") + "  " + name + "  ->  " + item_id;
  if (has_children) text += "  (has children)";
  std::string json_properties = "[";
  const OPCITEMPROPERTIES& props = e.ItemProperties;
  if (FAILED(props.hrErrorID)) text += "  [" + session.error_text(props.hrErrorID) + "]";
  for (DWORD i = 0; props.pItemProperties != nullptr && i < props.dwNumProperties; ++i) {
    const OPCITEMPROPERTY& p = props.pItemProperties[i];
    hbtio::JsonLine one;
    one.field("id", static_cast<std::int64_t>(p.dwPropertyID))
        .field("description", narrow(p.szDescription))
        .field("type", vartype_name(p.vtDataType));
    if (with_values) one.raw("value", variant_json(p.vValue));
    one.field("result", hresult_hex(p.hrErrorID)).field("error", session.error_text(p.hrErrorID));
    if (i != 0) json_properties += ",";
    json_properties += one.str();
    char head[16];
    std::snprintf(head, sizeof head, "%5u  ", static_cast<unsigned>(p.dwPropertyID));
    std::string line = "\n    " + std::string(head) + narrow(p.szDescription);
    line.resize(std::max<std::size_t>(line.size(), 40), ' ');
    line += "  " + vartype_name(p.vtDataType);
    if (FAILED(p.hrErrorID))
      line += "  [" + session.error_text(p.hrErrorID) + "]";
    else if (with_values)
      line += "  " + variant_text(p.vValue);
    text += line;
  }
  json_properties += "]";
  hbtio::JsonLine line;
  line.field("kind", is_item ? "item" : "branch").field("name", name).field("item_id", item_id);
  line.field("has_children", has_children).field("is_item", is_item);
  if (props.dwNumProperties != 0 || FAILED(props.hrErrorID)) {
    line.raw("properties", json_properties);
    line.field("properties_result", hresult_hex(props.hrErrorID));
  }
  print_line(options, line, text);
}

}  // namespace

int browse_da3(const Options& options, const CommandArguments& a) {
  std::string error;
  unsigned long max = 0;
  if (a.values.count("--max") && !parse_count(a.values.at("--max"), 1, 0xFFFFFFFFul, &max))
    return command_usage_error("browse", "--max needs a number of elements from 1");
  if (a.has("--items") && a.has("--branches")) return command_usage_error("browse", "--items or --branches, not both");
  const OPCBROWSEFILTER kind =
      a.has("--items") ? OPC_BROWSE_FILTER_ITEMS : a.has("--branches") ? OPC_BROWSE_FILTER_BRANCHES : OPC_BROWSE_FILTER_ALL;
  const bool with_values = a.has("--values");
  const bool with_properties = a.has("--props") || with_values;
  std::u16string branch = widen(a.positional.empty() ? "" : a.positional[0]);
  std::u16string name_filter = widen(a.values.count("--filter") ? a.values.at("--filter") : "");
  std::u16string vendor_filter = widen(a.values.count("--vendor") ? a.values.at("--vendor") : "");

  Session session;
  if (!session.connect(options.server, &error)) return failure(error);
  if (with_values) session.wait_until_running(kRunningWaitMs);
  IOPCBrowse* browse = nullptr;
  if (FAILED(session.server()->QueryInterface(IID_IOPCBrowse, reinterpret_cast<void**>(&browse))) || browse == nullptr)
    return failure("the server does not offer IOPCBrowse (DA 3.0)");
  struct Releaser {
    IUnknown* p;
    ~Releaser() { p->Release(); }
  } releaser{browse};

  LPWSTR point = nullptr;
  int exit_code = 0;
  for (int calls = 0; calls < kMaxCalls; ++calls) {
    BOOL more = FALSE;
    DWORD count = 0;
    OPCBROWSEELEMENT* elements = nullptr;
    HRESULT hr = browse->Browse(branch.data(), &point, static_cast<DWORD>(max), kind,
                                name_filter.empty() ? nullptr : name_filter.data(),
                                vendor_filter.empty() ? nullptr : vendor_filter.data(), with_properties, with_values, 0,
                                nullptr, &more, &count, &elements);
    if (FAILED(hr)) {
      CoTaskMemFree(point);
      return failure("Browse failed: " + session.error_text(hr) + " (" + hresult_hex(hr) + ")");
    }
    if (hr != S_OK) exit_code = 1;  // some element's properties failed
    for (DWORD i = 0; i < count; ++i) {
      print_element(options, session, elements[i], with_values);
      CoTaskMemFree(elements[i].szName);
      CoTaskMemFree(elements[i].szItemID);
      free_properties(elements[i].ItemProperties);
    }
    CoTaskMemFree(elements);
    // A server without continuation points says there is more by the flag alone: nothing
    // would bring the rest, so the list ends here with a note.
    if (point == nullptr || point[0] == 0) {
      CoTaskMemFree(point);
      if (more) std::fprintf(stderr, "hbtopc: the server has more elements than it handed out\n");
      return exit_code;
    }
  }
  CoTaskMemFree(point);
  return failure("the server's continuation points did not end");
}

}  // namespace hbt::hbtopc
