#include "opc/registration.h"

#include "opc/component_categories.h"
#include "opc/identity.h"
#include "opc/settings.h"
#include "platform/registry.h"

namespace hbt::opc {
namespace {

namespace reg = platform::registry;
constexpr auto kRoot = reg::Hive::ClassesRoot;

void key_with_default(const std::string& key, const std::string& text) {
  reg::create_key(kRoot, key);
  reg::set_string(kRoot, key, "", text);
}

}  // namespace

HRESULT register_server(const std::string& module_path) {
  const Identity& id = identity();
  const std::string vip = id.version_independent_prog_id;
  const std::string clsid_key = "CLSID\\" + id.clsid_text;
  const std::string appid_key = "AppID\\" + id.clsid_text;

  key_with_default(id.prog_id, id.description);
  key_with_default(id.prog_id + "\\CLSID", id.clsid_text);
  key_with_default(vip, id.description);
  key_with_default(vip + "\\CurVer", id.prog_id);
  key_with_default(vip + "\\CLSID", id.clsid_text);
  reg::create_key(kRoot, vip + "\\OPC");
  key_with_default(vip + "\\OPC\\Vendor", std::string(kMaker));
  key_with_default(clsid_key, id.description);
  key_with_default(clsid_key + "\\ProgID", id.prog_id);
  key_with_default(clsid_key + "\\VersionIndependentProgID", vip);
  reg::create_key(kRoot, clsid_key + "\\NotInsertable");
  key_with_default(clsid_key + "\\InprocServer32", module_path);
  reg::set_string(kRoot, clsid_key + "\\InprocServer32", "ThreadingModel", "Free");
  reg::set_string(kRoot, clsid_key, "AppID", id.clsid_text);
  key_with_default(appid_key, id.description);
  reg::set_string(kRoot, appid_key, "DllSurrogate", "");
  reg::set_dword(kRoot, appid_key, "AuthenticationLevel", 0);

  write_default_settings();
  return register_categories();
}

HRESULT unregister_server() {
  const Identity& id = identity();
  const std::string vip = id.version_independent_prog_id;
  const std::string clsid_key = "CLSID\\" + id.clsid_text;
  const std::string appid_key = "AppID\\" + id.clsid_text;

  for (const std::string& key : {vip + "\\OPC\\Vendor", vip + "\\OPC", vip + "\\CurVer", vip + "\\CLSID", vip,
                                 id.prog_id + "\\CLSID", id.prog_id}) {
    reg::delete_key(kRoot, key);
  }
  HRESULT result = unregister_categories();
  for (const std::string& key : {clsid_key + "\\ProgID", clsid_key + "\\VersionIndependentProgID",
                                 clsid_key + "\\NotInsertable", clsid_key + "\\InprocServer32", clsid_key,
                                 appid_key + "\\Implemented Catergories", appid_key}) {
    reg::delete_key(kRoot, key);
  }
  delete_settings();
  return result;
}

}  // namespace hbt::opc
