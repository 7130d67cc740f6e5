// hbtopc browse [PATH] [--flat] [--filter F]: the server's address space through
// IOPCBrowseServerAddressSpace. The root holds the PLCs (branches); a PLC holds its poll-record
// ranges (leaves), each with the item ID GetItemID makes of it. With --da3 the same through
// IOPCBrowse (cmd_browse_da3.cc).
#include "arguments.h"
#include "commands.h"
#include "session.h"
#include "tools/hbtio/json.h"
#include "value_output.h"

namespace hbt::hbtopc {

namespace {

// The names of one BrowseOPCItemIDs call; *hr gets its result.
std::vector<std::string> browse_names(IOPCBrowseServerAddressSpace* browse, OPCBROWSETYPE type,
                                      const std::u16string& filter, HRESULT* hr) {
  std::vector<std::string> names;
  IEnumString* list = nullptr;
  *hr = browse->BrowseOPCItemIDs(type, filter.c_str(), VT_EMPTY, 0, &list);
  if (FAILED(*hr) || list == nullptr) return names;
  LPOLESTR name = nullptr;
  ULONG fetched = 0;
  while (list->Next(1, &name, &fetched) == S_OK && fetched == 1) {
    names.push_back(narrow(name));
    CoTaskMemFree(name);
    name = nullptr;
  }
  list->Release();
  return names;
}

std::string item_id_of(IOPCBrowseServerAddressSpace* browse, const std::string& name) {
  std::u16string wide = widen(name);
  LPWSTR id = nullptr;
  std::string out;
  if (SUCCEEDED(browse->GetItemID(const_cast<LPWSTR>(wide.c_str()), &id)) && id != nullptr) out = narrow(id);
  CoTaskMemFree(id);
  return out;
}

std::string first_item(const std::string& range) { return range.substr(0, range.find(" - ")); }

}  // namespace

int cmd_browse(const Options& options, const std::vector<std::string>& args) {
  CommandArguments a;
  std::string error;
  if (!parse_arguments(args, {"--filter", "--vendor", "--max"},
                       {"--flat", "--da3", "--items", "--branches", "--props", "--values"}, &a, &error))
    return command_usage_error("browse", error);
  if (a.positional.size() > 1) return command_usage_error("browse", "browse takes at most one path");
  if (a.has("--da3")) {
    if (a.has("--flat")) return command_usage_error("browse", "--flat is not part of DA 3.0 browsing");
    return browse_da3(options, a);
  }
  for (const char* da3_only : {"--vendor", "--max", "--items", "--branches", "--props", "--values"})
    if (a.has(da3_only)) return command_usage_error("browse", std::string(da3_only) + " needs --da3");
  const std::string path = a.positional.empty() ? "" : a.positional[0];
  const bool flat = a.has("--flat");
  if (flat && a.values.count("--filter"))
    return command_usage_error("browse", "--filter applies to branches and leaves, not to --flat");
  const std::u16string filter = widen(a.values.count("--filter") ? a.values["--filter"] : "");

  Session session;
  if (!session.connect(options.server, &error)) return failure(error);
  IOPCBrowseServerAddressSpace* browse = nullptr;
  if (FAILED(session.server()->QueryInterface(IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void**>(&browse))) ||
      browse == nullptr)
    return failure("the server does not offer IOPCBrowseServerAddressSpace");
  struct Releaser {
    IUnknown* p;
    ~Releaser() { p->Release(); }
  } releaser{browse};

  // The browse position belongs to the server object: start from the root every time.
  HRESULT hr = browse->ChangeBrowsePosition(OPC_BROWSE_TO, u"");
  if (FAILED(hr)) return failure("cannot browse to the root: " + session.error_text(hr));
  if (!path.empty()) {
    hr = browse->ChangeBrowsePosition(OPC_BROWSE_TO, widen(path).c_str());
    if (FAILED(hr)) return failure("cannot browse to " + path + ": " + session.error_text(hr));
  }

  auto print = [&](const char* kind, const std::string& name, const std::string& item_id) {
    hbtio::JsonLine line;
    line.field("kind", kind).field("name", name);
    if (!item_id.empty()) line.field("item_id", item_id);
    std::string text = std::string(kind) + "  " + name;
    if (!item_id.empty()) text += "  ->  " + item_id;
    print_line(options, line, text);
  };
  if (flat) {
    auto names = browse_names(browse, OPC_FLAT, u"", &hr);
    if (FAILED(hr)) return failure("BrowseOPCItemIDs failed: " + session.error_text(hr));
    // Below a PLC the server turns a range into its first item. At the root the names carry
    // the PLC already and the server's item ID is the name itself, so the range's first item
    // is its text before " - ".
    for (const auto& name : names) print("leaf", name, path.empty() ? first_item(name) : item_id_of(browse, name));
    return 0;
  }
  auto branches = browse_names(browse, OPC_BRANCH, filter, &hr);
  if (FAILED(hr)) return failure("BrowseOPCItemIDs failed: " + session.error_text(hr));
  for (const auto& name : branches) print("branch", name, "");
  auto leaves = browse_names(browse, OPC_LEAF, filter, &hr);
  if (FAILED(hr)) return failure("BrowseOPCItemIDs failed: " + session.error_text(hr));
  for (const auto& name : leaves) print("leaf", name, item_id_of(browse, name));
  return 0;
}

}  // namespace hbt::hbtopc
