// hbtopc servers: the OPC DA servers of this machine, found by component category as OPC
// clients find them.
#include <cstdio>
#include <map>
#include <set>

#include "tools/hbtio/json.h"
#include "commands.h"
#include "session.h"

namespace hbt::hbtopc {

int cmd_servers(const Options& options) {
  Session session;
  ICatInformation* info = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatInformation,
                                reinterpret_cast<void**>(&info));
  if (FAILED(hr)) {
    std::fprintf(stderr, "hbtopc: no component categories manager (%s)\n", hresult_hex(hr).c_str());
    return 1;
  }
  const struct {
    const GUID* id;
    const char* version;
  } kCategories[] = {{&CATID_OPCDAServer10, "1.0"}, {&CATID_OPCDAServer20, "2.0"}, {&CATID_OPCDAServer30, "3.0"}};
  std::map<std::string, std::set<std::string>> servers;  // class -> DA versions
  std::map<std::string, GUID> ids;
  for (const auto& c : kCategories) {
    IEnumGUID* classes = nullptr;
    if (FAILED(info->EnumClassesOfCategories(1, c.id, static_cast<ULONG>(-1), nullptr, &classes))) continue;
    GUID clsid;
    ULONG n = 0;
    while (classes->Next(1, &clsid, &n) == S_OK && n == 1) {
      std::string key = guid_string(clsid);
      servers[key].insert(c.version);
      ids[key] = clsid;
    }
    classes->Release();
  }
  info->Release();
  for (const auto& [clsid, versions] : servers) {
    LPOLESTR progid = nullptr;
    std::string prog = SUCCEEDED(ProgIDFromCLSID(ids[clsid], &progid)) ? narrow(progid) : "";
    CoTaskMemFree(progid);
    std::string list;
    for (const auto& v : versions) list += (list.empty() ? "" : ",") + v;
    if (options.json) {
      std::string array = "[";
      for (const auto& v : versions) array += (array.size() > 1 ? "," : "") + hbtio::json_quote(v);
      hbtio::JsonLine().field("clsid", clsid).field("progid", prog).raw("versions", array + "]").print();
    } else {
      std::printf("%s  %-28s DA %s\n", clsid.c_str(), prog.c_str(), list.c_str());
    }
  }
  if (servers.empty() && !options.json) std::printf("no OPC DA servers registered\n");
  return 0;
}

}  // namespace hbt::hbtopc
