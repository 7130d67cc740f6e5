// BSTR: the Automation string. A length-prefixed UTF-16 buffer: a 4-byte byte count sits
// just before the pointer the caller holds, and a NUL unit follows the text. A null BSTR
// counts as the empty string everywhere.
#pragma once

#include <string>
#include <string_view>

#include "com/include/oleauto.h"
#include "com/types.h"

namespace hbt::com {

// Copies up to the first NUL of `text`; null text gives null.
extern "C" BSTR SysAllocString(const OLECHAR* text);
// `length` units copied from `text`, or zero-filled when `text` is null.
extern "C" BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// `length` bytes copied from `bytes` (or zero-filled); the byte count may be odd.
extern "C" BSTR SysAllocStringByteLen(const char* bytes, UINT length);
// Replace *target with a new copy; FALSE (and *target unchanged) when memory runs out.
extern "C" INT SysReAllocString(BSTR* target, const OLECHAR* text);
extern "C" INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length);
extern "C" void SysFreeString(BSTR text);
extern "C" UINT SysStringLen(BSTR text);      // in UTF-16 units
extern "C" UINT SysStringByteLen(BSTR text);  // in bytes

// Helpers of this system (not Windows API).
std::u16string_view bstr_view(BSTR text);
BSTR bstr_from_utf8(std::string_view text);
std::string utf8_from_utf16(std::u16string_view text);
std::u16string utf16_from_utf8(std::string_view text);

}  // namespace hbt::com
