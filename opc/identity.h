// Who the OPC server is: class identifier, ProgIDs, description and the settings key, as
// registration writes them and the library's attach reads them.
#pragma once

#include <string>
#include <string_view>

#include "opc/com_base.h"

namespace hbt::opc {

inline constexpr std::string_view kMaker = "Velmora";
inline constexpr std::string_view kProduct = "Brenlow Ethernet Driver";
inline constexpr std::string_view kVersionIndependentProgId = "Velmora.Brenlow";
inline constexpr std::string_view kVersion = "7.9.21";
inline constexpr std::string_view kAcronym = "HBT";
inline constexpr std::string_view kEventSource = "ROVUDE";

// {6F1D2C3A-9B47-4E85-A0C2-7D5E8B91F346}: the class and the AppID.
inline constexpr GUID kServerClsid = {0x6F1D2C3A, 0x9B47, 0x4E85, {0xA0, 0xC2, 0x7D, 0x5E, 0x8B, 0x91, 0xF3, 0x46}};

struct Identity {
  std::string description;     // "Velmora Brenlow Ethernet Driver"
  std::string prog_id;         // "Velmora.Brenlow.7.9.21"
  std::string version_independent_prog_id;
  std::string clsid_text;      // "{6F1D2C3A-9B47-4E85-A0C2-7D5E8B91F346}"
  std::string settings_key;    // "Software\\Velmora\\Brenlow\\\\OPC" (two separators before OPC)
  std::string imalloc_failure; // "HBTOPC - unable to obtain IMalloc interface pointer"
};

const Identity& identity();

// The registry form of a GUID, as StringFromGUID2 writes it: upper-case hexadecimal in braces.
std::string guid_text(const GUID& guid);

}  // namespace hbt::opc
