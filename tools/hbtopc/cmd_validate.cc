// hbtopc validate ITEM...: how the server would bind each item ID (IOPCItemMgt::ValidateItems
// on a group of its own): the canonical type, or the reason it refuses.
#include <cstdio>

#include "tools/hbtio/json.h"
#include "commands.h"
#include "session.h"

namespace hbt::hbtopc {

int cmd_validate(const Options& options, const std::vector<std::string>& items) {
  Session session;
  std::string error;
  if (!session.connect(options.server, &error)) {
    std::fprintf(stderr, "hbtopc: %s\n", error.c_str());
    return 1;
  }
  OPCHANDLE group_handle = 0;
  DWORD revised = 0;
  IUnknown* unknown = nullptr;
  HRESULT hr = session.server()->AddGroup(u"", FALSE, 1000, 0, nullptr, nullptr, LOCALE_SYSTEM_DEFAULT,
                                          &group_handle, &revised, IID_IOPCItemMgt, &unknown);
  if (FAILED(hr)) {
    std::fprintf(stderr, "hbtopc: AddGroup failed: %s\n", session.error_text(hr).c_str());
    return 1;
  }
  auto* mgt = static_cast<IOPCItemMgt*>(static_cast<void*>(unknown));
  std::vector<std::u16string> ids;
  for (const auto& item : items) ids.push_back(widen(item));
  std::vector<OPCITEMDEF> defs(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  hr = mgt->ValidateItems(static_cast<DWORD>(defs.size()), defs.data(), FALSE, &results, &errors);
  int exit_code = 0;
  if (FAILED(hr)) {
    std::fprintf(stderr, "hbtopc: ValidateItems failed: %s\n", session.error_text(hr).c_str());
    exit_code = 1;
  } else {
    for (std::size_t i = 0; i < items.size(); ++i) {
      bool ok = SUCCEEDED(errors[i]);
      if (!ok) exit_code = 1;
      std::string type = ok ? vartype_name(results[i].vtCanonicalDataType) : "";
      std::string text = session.error_text(errors[i]);
      if (options.json) {
        hbtio::JsonLine line;
        line.field("item", items[i]).field("valid", ok);
        if (ok) line.field("type", type).field("access_rights", static_cast<std::int64_t>(results[i].dwAccessRights));
        line.field("result", hresult_hex(errors[i])).field("text", text).print();
      } else if (ok) {
        std::printf("%-40s %s\n", items[i].c_str(), type.c_str());
      } else {
        std::printf("%-40s invalid: %s (%s)\n", items[i].c_str(), text.c_str(), hresult_hex(errors[i]).c_str());
      }
    }
  }
  CoTaskMemFree(results);
  CoTaskMemFree(errors);
  mgt->Release();
  session.server()->RemoveGroup(group_handle, TRUE);
  return exit_code;
}

}  // namespace hbt::hbtopc
