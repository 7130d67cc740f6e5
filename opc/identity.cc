#include "opc/identity.h"

#include <cstdio>

namespace hbt::opc {

std::string guid_text(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

const Identity& identity() {
  static const Identity id = [] {
    Identity i;
    i.description = std::string(kMaker) + " " + std::string(kProduct);
    i.version_independent_prog_id = std::string(kVersionIndependentProgId);
    i.prog_id = i.version_independent_prog_id + "." + std::string(kVersion);
    i.clsid_text = guid_text(kServerClsid);
    // The product key, then "\\OPC" appended to a key that already ends in a separator: the
    // path keeps both separators, and reader and writer use this one string.
    i.settings_key = std::string("Software\\") + "Velmora\\Brenlow\\" + "\\OPC";
    i.imalloc_failure = std::string(kAcronym) + "OPC - unable to obtain IMalloc interface pointer";
    return i;
  }();
  return id;
}

}  // namespace hbt::opc
