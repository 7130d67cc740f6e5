#include "opc/component_categories.h"

#include <string>

#include "opc/identity.h"
#include "platform/registry.h"

namespace hbt::opc {
namespace {

namespace reg = platform::registry;

struct Category {
  const GUID* id;
  const char* description;
};

const Category kCategories[] = {
    {&CATID_OPCDAServer10, "OPC Data Access Servers Version 1.0"},
    {&CATID_OPCDAServer20, "OPC Data Access Servers Version 2.0"},
    {&CATID_OPCDAServer30, "OPC Data Access Servers Version 3.0"},
};

std::string implemented_key() { return "CLSID\\" + identity().clsid_text + "\\Implemented Categories"; }

}  // namespace

// Written as the standard component-categories manager keeps them (RegisterCategories with
// locale 0 stores the description under the value "0"; RegisterClassImplCategories adds one
// subkey per category), so that a category lookup of the COM runtime finds this class.
HRESULT register_categories() {
  bool ok = true;
  for (const Category& c : kCategories) {
    ok &= reg::set_string(reg::Hive::ClassesRoot, "Component Categories\\" + guid_text(*c.id), "0", c.description);
  }
  for (const Category& c : kCategories) {
    ok &= reg::create_key(reg::Hive::ClassesRoot, implemented_key() + "\\" + guid_text(*c.id));
  }
  return ok ? S_OK : E_FAIL;
}

HRESULT unregister_categories() {
  bool ok = true;
  for (const Category& c : kCategories) {
    ok &= reg::delete_key(reg::Hive::ClassesRoot, implemented_key() + "\\" + guid_text(*c.id));
  }
  if (reg::subkeys(reg::Hive::ClassesRoot, implemented_key()).empty()) {
    ok &= reg::delete_key(reg::Hive::ClassesRoot, implemented_key());
  }
  return ok ? S_OK : E_FAIL;
}

}  // namespace hbt::opc
