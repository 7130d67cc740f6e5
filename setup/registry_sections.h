// The registry part of an INF install section: its AddReg entries, each line
// "root, subkey, value name, flags, value..." applied to the driver's registry.
#pragma once

#include <string>
#include <string_view>

#include "setup/inf_file.h"
#include "setup/install_record.h"

namespace hbt::setup {

// AddReg flags (the setup API's FLG_ADDREG_* values).
constexpr unsigned long kAddRegBinary = 0x00000001;
constexpr unsigned long kAddRegNoClobber = 0x00000002;
constexpr unsigned long kAddRegDeleteValue = 0x00000004;
constexpr unsigned long kAddRegAppend = 0x00000008;
constexpr unsigned long kAddRegKeyOnly = 0x00000010;
constexpr unsigned long kAddRegOverwriteOnly = 0x00000020;
constexpr unsigned long kAddRegMultiString = 0x00010000;
constexpr unsigned long kAddRegExpandString = 0x00020000;
constexpr unsigned long kAddRegDword = 0x00010001;

// Applies every AddReg entry of the install section in order. Stops at the first entry it
// cannot read or write and returns false with a message naming the INF line; entries before
// it stay applied. A section without AddReg entries succeeds. Every value written or deleted
// is noted in *journal when given.
bool apply_registry_section(const InfFile& inf, std::string_view section, const DirectoryIds& ids,
                            std::string* error, RegistryJournal* journal = nullptr);

}  // namespace hbt::setup
