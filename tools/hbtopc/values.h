// VARIANT values of OPC items as text for people, as JSON for scripts, and back from the text
// a person types for a write.
#pragma once

#include <string>

#include "oleauto.h"

namespace hbt::hbtopc {

// 12.5, true, text as it is, [1, 2, 3] for arrays; "(empty)" for VT_EMPTY.
std::string variant_text(const VARIANT& value);

// 12.5, true, "text", [1,2,3]; null for VT_EMPTY, VT_NULL and numbers JSON cannot carry
// (not-a-number, infinities).
std::string variant_json(const VARIANT& value);

// Makes the VARIANT a write sends from `text`, in the item's canonical type: numbers must be
// numbers through to their end and fit the type, VT_BOOL takes true/false/on/off/1/0, VT_BSTR
// takes the text as it is, an array type takes comma-separated elements (brackets optional).
// VT_EMPTY (type unknown) sends a number as VT_R8 and anything else as VT_BSTR. False with
// *error set when the text does not fit; *out is then VT_EMPTY.
bool parse_value(const std::string& text, VARTYPE canonical, VARIANT* out, std::string* error);

}  // namespace hbt::hbtopc
